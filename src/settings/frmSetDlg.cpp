#include "settings/frmSetDlg.h"

#include "app/Seat.h"
#include "button/RecognitionArea.h"
#include "button/frmBase.h"
#include "platform/Controls.h"
#include "platform/Desktop.h"
#include "platform/Errors.h"
#include "platform/Picture.h"
#include "platform/Twips.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>

namespace {

template <typename W>
W* place(W* widget, int left, int top, int width, int height) {
    widget->setGeometry(twipRect(left, top, width, height));
    return widget;
}

QLabel* caption(QWidget* parent, const char* text, int l, int t, int w, int h) {
    return place(new QLabel(QString::fromUtf8(text), parent), l, t, w, h);
}

// A check box whose user clicks go between off and on; greyed (2) can only be
// assigned from code.
class OnOffCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {
        // Read the state before leaving tristate mode: a greyed box reads as
        // checked once tristate is off.
        const Qt::CheckState next = checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
        setTristate(false);
        setCheckState(next);
    }
};

constexpr int HWND_TOPMOST = -1;
constexpr int HWND_NOTOPMOST = -2;
constexpr uint32_t SWP_NOMOVE_NOSIZE = 3;

const char* const ImageFilter = "イメージファイル(*.bmp;*.jpg;*.gif;*.wmf;*.emf)|*.bmp;*.jpg;*.gif;*.wmf;*.emf";
const char* const SoundFilter =
    "サウンドファイル(*.wav)|*.wav|MP3ファイル(*.mp3)|*.mp3|MIDIシーケンス(*.mid)|*.mid";

}  // namespace

frmSetDlg::frmSetDlg(Seat& seat) : QDialog(nullptr), seat_(seat) {
    setObjectName(QStringLiteral("frmSetDlg"));
    setWindowTitle(QStringLiteral("各種設定"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(7440), twipsToPixels(3735));
    // Closing the settings must never end the program or lose the store.
    setAttribute(Qt::WA_QuitOnClose, false);
    build();
}

void frmSetDlg::build() {
    // Frame1: the button window.
    Frame1 = place(new QGroupBox(QStringLiteral("フォーム設定"), this), 150, 120, 3105, 1215);
    Label1[0] = caption(Frame1, "幅：", 150, 225, 270, 270);
    Label4[0] = place(new QLabel(Frame1), 870, 210, 795, 270);
    HScroll1[0] = place(new ValueScrollBar(Qt::Horizontal, Frame1), 1740, 210, 1260, 240);
    Label1[1] = caption(Frame1, "高さ：", 150, 525, 465, 270);
    Label4[1] = place(new QLabel(Frame1), 870, 540, 795, 270);
    HScroll1[1] = place(new ValueScrollBar(Qt::Horizontal, Frame1), 1740, 540, 1260, 240);
    Label1[2] = caption(Frame1, "背景色：", 150, 855, 705, 270);
    Label4[6] = place(new QLabel(Frame1), 870, 855, 2115, 270);

    // Frame4: the recognition area.
    Frame4 = place(new QGroupBox(QStringLiteral("認識エリア設定"), this), 135, 1395, 3135, 1665);
    Label1[3] = caption(Frame4, "左位置：", 165, 255, 675, 270);
    Label4[2] = place(new QLabel(Frame4), 870, 210, 795, 270);
    HScroll1[2] = place(new ValueScrollBar(Qt::Horizontal, Frame4), 1755, 210, 1260, 240);
    Label1[4] = caption(Frame4, "上位置：", 165, 630, 660, 270);
    Label4[3] = place(new QLabel(Frame4), 870, 570, 795, 270);
    HScroll1[3] = place(new ValueScrollBar(Qt::Horizontal, Frame4), 1755, 585, 1260, 240);
    Label1[5] = caption(Frame4, "幅：", 180, 975, 270, 270);
    Label4[4] = place(new QLabel(Frame4), 870, 930, 795, 270);
    HScroll1[4] = place(new ValueScrollBar(Qt::Horizontal, Frame4), 1755, 945, 1260, 240);
    Label1[6] = caption(Frame4, "高さ：", 165, 1350, 555, 270);
    Label4[5] = place(new QLabel(Frame4), 870, 1275, 795, 270);
    HScroll1[5] = place(new ValueScrollBar(Qt::Horizontal, Frame4), 1770, 1305, 1260, 240);

    // Frame2: the two images.
    Frame2 = place(new QGroupBox(QStringLiteral("ベースの画像"), this), 3360, 105, 3930, 1695);
    Label2[0] = caption(Frame2, "押されていないときの画像：", 150, 240, 2100, 285);
    Text1[0] = place(new QLineEdit(Frame2), 315, 465, 2910, 300);
    Command1[0] = place(new QPushButton(QStringLiteral("..."), Frame2), 3255, 435, 495, 360);
    Label2[1] = caption(Frame2, "押されて点灯したときの画像：", 165, 960, 2385, 285);
    Text1[1] = place(new QLineEdit(Frame2), 315, 1230, 2910, 300);
    Command1[1] = place(new QPushButton(QStringLiteral("..."), Frame2), 3270, 1215, 495, 360);

    // Frame3: the sound.
    Frame3 = place(new QGroupBox(QStringLiteral("サウンドファイル"), this), 3345, 1950, 3960, 795);
    Text1[2] = place(new QLineEdit(Frame3), 315, 315, 2910, 300);
    Command1[2] = place(new QPushButton(QStringLiteral("..."), Frame3), 3270, 300, 495, 360);

    Check1 = place(new OnOffCheckBox(QStringLiteral("常に手前に表示"), this), 3420, 2820, 1950, 255);
    Command2[0] = place(new QPushButton(QStringLiteral("OK"), this), 5895, 3315, 1305, 345);
    Command2[0]->setDefault(true);
    Label3 = place(new QLabel(this), 0, 3165, 7455, 45);
    Label3->setFrameStyle(QFrame::HLine | QFrame::Sunken);

    for (int i = 0; i < 6; ++i) {
        QScrollBar* s = HScroll1[static_cast<size_t>(i)];
        s->setRange(i < 4 ? 0 : 50, 10000);
        s->setValue(s->minimum());
        s->setSingleStep(1);
        s->setPageStep(10);
        // Qt's scroll bars take no focus and, being made for scrolling a
        // view, run their keys backwards; these are value controls, so they
        // join the tab order and Right/Up (and Page Up) raise the value.
        s->setFocusPolicy(Qt::StrongFocus);
        s->setInvertedControls(false);
        // A dragged thumb changes the value only when it is released.
        s->setTracking(false);
        connect(s, &QScrollBar::valueChanged, this, [this, i] { HScroll1_Change(i); });

        QLabel* readout = Label4[static_cast<size_t>(i)];
        readout->setText(QString::number(s->value()));
        readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        readout->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        readout->setAutoFillBackground(true);
        QPalette pal = readout->palette();
        pal.setColor(QPalette::Window, Qt::black);
        pal.setColor(QPalette::WindowText, i < 2 ? colorFromRef(0x0000FFFF) : colorFromRef(0x00FFFF80));
        readout->setPalette(pal);
    }
    for (QLabel* label : Label4) label->installEventFilter(this);
    Label4[6]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label4[6]->setAutoFillBackground(true);
    setSwatchColor(0);

    for (int i = 0; i < 3; ++i)
        connect(Command1[static_cast<size_t>(i)], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    connect(Command2[0], &QPushButton::clicked, this, [this] { Command2_Click(0); });
    connect(Check1, &QCheckBox::stateChanged, this, [this] { Check1_Click(); });

    // Focus order: the scroll bars, each path with its browse button, the check box, OK.
    QWidget* order[] = {HScroll1[0], HScroll1[1], HScroll1[2], HScroll1[3], HScroll1[4], HScroll1[5],
                        Text1[0],    Command1[0], Text1[1],    Command1[1], Text1[2],    Command1[2],
                        Check1,      Command2[0]};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void frmSetDlg::setSwatchColor(uint32_t color) {
    swatchColor_ = color;
    QPalette pal = Label4[6]->palette();
    pal.setColor(QPalette::Window, colorFromRef(color));
    Label4[6]->setPalette(pal);
}

int frmSetDlg::check1Value() const { return checkValue(Check1); }
void frmSetDlg::setCheck1Value(int value) { assignValue(Check1, value); }
void frmSetDlg::setScrollValue(int index, int value) { assignValue(HScroll1.at(static_cast<size_t>(index)), value); }

void frmSetDlg::RefreshWnd() {
    frmBase& base = seat_.Base();
    base.setWidth(HScroll1[0]->value());
    base.setHeight(HScroll1[1]->value());
    base.Label1->setLeft(HScroll1[2]->value());
    base.Label1->setTop(HScroll1[3]->value());
    base.Label1->setWidth(HScroll1[4]->value());
    base.Label1->setHeight(HScroll1[5]->value());
}

void frmSetDlg::HScroll1_Change(int Index) {
    const auto i = static_cast<size_t>(Index);
    Label4[i]->setText(QString::number(HScroll1[i]->value()));
    RefreshWnd();
}

void frmSetDlg::Command1_Click(int Index) {
    try {
        C_Dialog1.Filter = QString::fromUtf8(Index == 2 ? SoundFilter : ImageFilter);
        C_Dialog1.Flags = 4;
        C_Dialog1.ShowOpen();
        Text1[static_cast<size_t>(Index)]->setText(C_Dialog1.FileName);
        seat_.Base().setPicture(LoadPicture(Text1[0]->text()));
    } catch (const RuntimeError&) {
        // A cancel or an unreadable picture ends the browse quietly; an
        // unreadable unpressed image is reported when the button is reset.
    }
}

void frmSetDlg::Label4_Click(int Index) {
    if (Index != 6) return;
    try {
        C_Dialog1.Flags = 2;
        C_Dialog1.ShowColor();
        setSwatchColor(C_Dialog1.Color);
        seat_.Base().setBackColor(C_Dialog1.Color);
    } catch (const RuntimeError&) {
        // A cancelled colour dialog changes nothing.
    }
}

void frmSetDlg::Command2_Click(int) { hide(); }

void frmSetDlg::Check1_Click() {
    frmBase& base = seat_.Base();
    if (check1Value() == 1) {
        desktop().setWindowPos(&base, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE_NOSIZE);
        base.MnuSetTopMost->setChecked(true);
    } else {
        desktop().setWindowPos(&base, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE_NOSIZE);
        base.MnuSetTopMost->setChecked(false);
    }
}

void frmSetDlg::closeEvent(QCloseEvent* event) {
    // The close box hides the dialog like OK: its controls are the settings
    // store and must live as long as the program.
    event->ignore();
    hide();
}

bool frmSetDlg::eventFilter(QObject* watched, QEvent* event) {
    // A click: the left button released over the label it was pressed on
    // (the press's label receives the release wherever it happens).
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        for (size_t i = 0; i < Label4.size(); ++i) {
            if (watched == Label4[i] && Label4[i]->rect().contains(at)) {
                Label4_Click(static_cast<int>(i));
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
