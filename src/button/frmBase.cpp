#include "button/frmBase.h"

#include "app/Seat.h"
#include "button/RecognitionArea.h"
#include "datafile/DataFileCommands.h"
#include "platform/Desktop.h"
#include "platform/Errors.h"
#include "platform/Picture.h"
#include "platform/Twips.h"
#include "settings/SettingsMode.h"
#include "settings/frmSetDlg.h"
#include "sound/mdlSndAPI.h"
#include "version/frmShowVersion.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QWindow>
#include <QScopedValueRollback>
#include <QSessionManager>
#include <QTimer>

#include <algorithm>

namespace {
constexpr double DesignWidth = 2475;
constexpr double DesignHeight = 4170;
constexpr int WM_NCLBUTTONDOWN = 0xA1;
constexpr int HTCAPTION = 2;
constexpr int HWND_TOPMOST = -1;
constexpr int HWND_NOTOPMOST = -2;
constexpr uint32_t SWP_NOMOVE_NOSIZE = 3;
}  // namespace

frmBase::frmBase(Seat& seat) : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), seat_(seat) {
    setObjectName(QStringLiteral("frmBase"));
    // A tool window keeps the button off the task bar; it is still the main
    // window, so closing it ends the application.
    setAttribute(Qt::WA_QuitOnClose, true);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setFocusPolicy(Qt::StrongFocus);
    setWindowIcon(QIcon(QStringLiteral(":/assets/icon.png")));
    setWindowTitle(QStringLiteral("Zumble"));
    backColor_ = palette().color(QPalette::Window);
    resize(twipsToPixels(DesignWidth), twipsToPixels(DesignHeight));

    Label1 = new RecognitionArea(this);
    Label1->setGeometry(twipsToPixels(480), twipsToPixels(2700), twipsToPixels(1575), twipsToPixels(1020));
    Label1->setCursor(QCursor(QPixmap(QStringLiteral(":/assets/hand.png")), 12, 1));
    connect(Label1, &RecognitionArea::clicked, this, &frmBase::Label1_Click);
    connect(Label1, &RecognitionArea::mouseDown, this, &frmBase::Label1_MouseDown);

    buildMenus();

    // Logging off or shutting down closes the window through the exit sequence too.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        const bool mayAsk = manager.allowsInteraction();
        if (Session_End(mayAsk)) manager.cancel();
        if (mayAsk) manager.release();
    });
}

void frmBase::buildMenus() {
    MnuPopUp = new QMenu(QStringLiteral("PopUp"), this);
    MnuPopUp->setObjectName(QStringLiteral("MnuPopUp"));

    MnuFile = MnuPopUp->addMenu(QStringLiteral("ファイル(&F)"));
    MnuFile->setObjectName(QStringLiteral("MnuFile"));
    MnuFileNew = MnuFile->addAction(QStringLiteral("新規プロジェクト(&N)"));
    MnuFileNew->setObjectName(QStringLiteral("MnuFileNew"));
    MnuFileNew->setVisible(false);
    MnuFileOpen = MnuFile->addAction(QStringLiteral("開く(&O)"), this, &frmBase::MnuFileOpen_Click);
    MnuFileOpen->setObjectName(QStringLiteral("MnuFileOpen"));
    MnuFileSaveAs = MnuFile->addAction(QStringLiteral("名前をつけて保存(&A)"), this, &frmBase::MnuFileSaveAs_Click);
    MnuFileSaveAs->setObjectName(QStringLiteral("MnuFileSaveAs"));
    MnuFile->addSeparator();
    MnuFileExit = MnuFile->addAction(QStringLiteral("終了(&X)"), this, &frmBase::MnuFileExit_Click);
    MnuFileExit->setObjectName(QStringLiteral("MnuFileExit"));

    MnuSet = MnuPopUp->addMenu(QStringLiteral("設定(&S)"));
    MnuSet->setObjectName(QStringLiteral("MnuSet"));
    MnuSetSet = MnuSet->addAction(QStringLiteral("各種設定(&S)"), this, &frmBase::MnuSetSet_Click);
    MnuSetSet->setObjectName(QStringLiteral("MnuSetSet"));
    MnuSet->addSeparator();
    MnuSetTopMost = MnuSet->addAction(QStringLiteral("常に手前に表示(&T)"));
    MnuSetTopMost->setObjectName(QStringLiteral("MnuSetTopMost"));
    MnuSetTopMost->setCheckable(true);
    connect(MnuSetTopMost, &QAction::triggered, this, [this](bool checkedNow) {
        // Qt flips a checkable item's mark before it reports the choice; the
        // handler decides on the mark as it was and sets it itself.
        MnuSetTopMost->setChecked(!checkedNow);
        MnuSetTopMost_Click();
    });

    MnuHelp = MnuPopUp->addMenu(QStringLiteral("ヘルプ(&H)"));
    MnuHelp->setObjectName(QStringLiteral("MnuHelp"));
    MnuHelpVersion = MnuHelp->addAction(QStringLiteral("バージョン情報(&V)"), this, &frmBase::MnuHelpVersion_Click);
    MnuHelpVersion->setObjectName(QStringLiteral("MnuHelpVersion"));
}

double frmBase::Width() const { return pixelsToTwips(width()); }
double frmBase::Height() const { return pixelsToTwips(height()); }
void frmBase::setWidth(double twips) { resizeKeepingPlace(QSize(twipsToPixels(twips), height())); }
void frmBase::setHeight(double twips) { resizeKeepingPlace(QSize(width(), twipsToPixels(twips))); }

void frmBase::resizeKeepingPlace(QSize size) {
    // Qt takes a window of no width or height off the screen and maps it
    // again once it has a size, and the window manager would place it like a
    // new window. A position the program has set itself is kept instead.
    if (size.isEmpty() && isVisible() && windowHandle())
        windowHandle()->setFramePosition(windowHandle()->framePosition());
    resize(size);
}

void frmBase::showOnScreen() {
    // Settings applied right after the window first appears may take it off
    // the screen and map it again (a data file's width comes before its
    // height, and the height is still 0). Done before the window manager has
    // put it on the screen, the manager can map it, find our second map a
    // no-op, and then carry out the withdrawal: the window stays unmapped for
    // good. So wait for the first showing, but not for ever: a manager that
    // never shows the window must not stop the program.
    constexpr int LongestWaitMs = 3000;
    show();
    QElapsedTimer waited;
    waited.start();
    QTimer wake;  // ends each wait for events, so that the time limit is seen
    wake.start(50);
    QEventLoop loop;
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < LongestWaitMs)
        loop.processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
}

void frmBase::keepReachable() {
    if (width() > 0 && height() > 0) return;
    resize(std::max(width(), ReachableSide), std::max(height(), ReachableSide));
}

uint32_t frmBase::BackColor() const { return refFromColor(backColor_); }

void frmBase::setBackColor(uint32_t color) {
    backColor_ = colorFromRef(color);
    update();
}

void frmBase::setPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void frmBase::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), backColor_);
    if (!picture_.isNull()) painter.drawImage(0, 0, picture_);
    // Out of the question at a quiz table (お手つき): greyed for all to see.
    if (lockedOut_) painter.fillRect(rect(), QColor(96, 96, 96, 170));
    if (rank_ > 0) {
        // The place in a white disc at the top-left corner, large enough to read across a room.
        const int d = std::max(24, std::min(width(), height()) / 3);
        QFont font = painter.font();
        font.setPixelSize(d * 2 / 3);
        font.setBold(true);
        painter.setFont(font);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::white);
        painter.setPen(QPen(Qt::black, 2));
        painter.drawEllipse(QRect(4, 4, d, d));
        painter.drawText(QRect(4, 4, d, d), Qt::AlignCenter, QString::number(rank_));
    }
}

// ---- Start-up -------------------------------------------------------------

void frmBase::Form_Load() {
    // The settings dialog is the store of the current settings: it exists from
    // now on, hidden, for the whole run.
    frmSetDlg& dialog = seat_.SetDlg();
    dialog.hide();
}

// ---- Press cycle ------------------------------------------------------------

void frmBase::Label1_Click() {
    if (IsPressed) return;
    if (seat_.pressRequest) return seat_.pressRequest(-1);
    PressNow();
}

void frmBase::PressNow() {
    frmSetDlg& settings = seat_.SetDlg();
    const QString pressedImage = settings.Text1[1]->text();
    try {
        PlayMciSound(settings.Text1[2]->text(), seat_.channel(), false, 0);
        setPicture(LoadPicture(pressedImage));
        IsPressed = true;
    } catch (const RuntimeError&) {
        showImageError(pressedImage);
    }
}

void frmBase::PressReset() {
    const QString unpressedImage = seat_.SetDlg().Text1[0]->text();
    bool failed = false;
    try {
        setPicture(LoadPicture(unpressedImage));
    } catch (const RuntimeError&) {
        failed = true;
    }
    IsPressed = false;
    if (failed) showImageError(unpressedImage);
}

void frmBase::frmZumblePressReset() { PressReset(); }

void frmBase::showImageError(const QString& path) {
    desktop().msgBox(QStringLiteral("設定している画像ファイルが不正です。\r\n「") + path + QStringLiteral("」"),
                     MsgBoxStyle::OkStop, QStringLiteral("不正な画像"));
}

void frmBase::setLockedOut(bool locked) {
    lockedOut_ = locked;
    update();
}

void frmBase::setRank(int rank) {
    rank_ = rank;
    update();
}

void frmBase::Form_DblClick() {
    if (seat_.resetRequest) return seat_.resetRequest();
    PressReset();
}

void frmBase::Form_KeyDown(int KeyCode, int) {
    switch (KeyCode) {
    case 8: Form_DblClick(); break;
    case 13:
    case 32: Label1_Click(); break;
    default: break;
    }
}

// ---- Mouse and keyboard -----------------------------------------------------

void frmBase::mousePressEvent(QMouseEvent* event) {
    event->accept();
    Form_MouseDown(buttonCode(event->button()));
}

void frmBase::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double-click resets; it starts no drag.
    event->accept();
    if (event->button() == Qt::LeftButton) Form_DblClick();
}

void frmBase::keyPressEvent(QKeyEvent* event) {
    int code = 0;
    switch (event->key()) {
    case Qt::Key_Backspace: code = 8; break;
    case Qt::Key_Return:
    case Qt::Key_Enter: code = 13; break;
    case Qt::Key_Space: code = 32; break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
    // Shift, Ctrl and Alt as the 1, 2 and 4 bits of the shift state.
    Form_KeyDown(code, static_cast<int>((event->modifiers() >> 25) & 7));
}

// ---- Window handling and menus ----------------------------------------------

void frmBase::Form_MouseDown(int Button) {
    if (Button == 2) {
        desktop().popupMenu(this, MnuPopUp);
        return;
    }
    desktop().releaseCapture();
    desktop().sendMessage(this, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void frmBase::Label1_MouseDown(int Button) {
    if (Button == 2) desktop().popupMenu(this, MnuPopUp);
}

void frmBase::MnuSetTopMost_Click() {
    frmSetDlg& settings = seat_.SetDlg();
    if (!MnuSetTopMost->isChecked()) {
        desktop().setWindowPos(this, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE_NOSIZE);
        settings.setCheck1Value(1);
        MnuSetTopMost->setChecked(true);
    } else {
        desktop().setWindowPos(this, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE_NOSIZE);
        settings.setCheck1Value(0);
        MnuSetTopMost->setChecked(false);
    }
}

void frmBase::MnuFileOpen_Click() { DataFileCommands::Open(seat_); }
void frmBase::MnuFileSaveAs_Click() { DataFileCommands::SaveAs(seat_); }
void frmBase::MnuSetSet_Click() { SettingsMode::run(*this, seat_.SetDlg()); }
void frmBase::MnuHelpVersion_Click() { showVersionDialog(); }

// ---- Exit -------------------------------------------------------------------

void frmBase::MnuFileExit_Click() { close(); }

int frmBase::Form_QueryUnload() {
    // A close request arriving while the question or its save dialog is open
    // (the session ending meanwhile) is left to the request already asking.
    if (queryingUnload_) return 1;
    // A seat of a quiz table closes with the whole table.
    if (seat_.closeRequest) return seat_.closeRequest() ? 0 : 1;
    const QScopedValueRollback<bool> asking(queryingUnload_, true);
    if (!seat_.IsSaved) {
        switch (desktop().msgBox(QStringLiteral("現在の情報を保存しますか？"), MsgBoxStyle::YesNoCancelQuestion,
                                 QStringLiteral("保存確認"))) {
        case MsgBoxResult::Yes:
            MnuFileSaveAs_Click();
            // A cancelled or failed save keeps the window and its settings:
            // quitting now would lose what the user asked to keep.
            if (!seat_.IsSaved) return 1;
            hide();
            CloseMciSounds();
            End();
        case MsgBoxResult::No: break;
        default: return 1;  // Cancel, Esc or the close box: nothing changes
        }
    }
    CloseMciSounds();
    hide();
    End();
}

bool frmBase::Session_End(bool mayAsk) {
    // Without leave to ask, unsaved settings cannot be offered for saving;
    // the session ends the program on its own terms.
    if (!mayAsk && !seat_.IsSaved) return false;
    return Form_QueryUnload() != 0;
}

void frmBase::closeEvent(QCloseEvent* event) {
    if (Form_QueryUnload() != 0) event->ignore();
}
