#include "version/frmShowVersion.h"

#include "platform/Desktop.h"
#include "platform/Errors.h"
#include "platform/Twips.h"
#include "version/HomepageLibrary.h"

#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>

#include <memory>

namespace {

QLabel* label(QWidget* parent, const QString& text, QRect geometry, QColor fore, QColor back) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(geometry);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, fore);
    if (back.isValid()) {
        pal.setColor(QPalette::Window, back);
        l->setAutoFillBackground(true);
    }
    l->setPalette(pal);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

// The Japanese Gothic face the captions name, substituted by an installed one.
QFont gothic(double points, bool bold, bool underline) {
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

const QColor White(255, 255, 255);
const QColor Orange(255, 128, 0);

}  // namespace

frmShowVersion::frmShowVersion() : QDialog(nullptr), libraryPlaces(HomepageLibrary::searchOrder()) {
    setObjectName(QStringLiteral("frmShowVersion"));
    setWindowTitle(QStringLiteral("ズンブルアプリのバージョン情報"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(4980), twipsToPixels(2745));
    setAttribute(Qt::WA_QuitOnClose, false);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 128));
    setPalette(pal);
    setAutoFillBackground(true);

    Label1 = label(this, QStringLiteral("ズンブルアプリ"), twipRect(1515, 165, 3225, 330), White, QColor(0, 0, 192));
    Label1->setFont(gothic(14.25, true, false));
    Label2 = label(this, QStringLiteral("Varsion\u30001.5.0"), twipRect(1515, 840, 3225, 225), White, Orange);
    Label3[0] = label(this, QStringLiteral("販売元：ぬか堂　2025-2026"), twipRect(1515, 1080, 3225, 240), White, Orange);
    Label3[1] = label(this, QStringLiteral("制作：ぬか堂　2025-2026"), twipRect(1515, 1335, 3225, 240), White, Orange);

    Image1 = new QLabel(this);
    Image1->setPixmap(QPixmap(QStringLiteral(":/assets/version.gif")));
    Image1->setGeometry(twipRect(405, 360, 645, 1200));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label5 = label(this, QStringLiteral("ここをクリックするとぬか堂HPが開きます。"), twipRect(1560, 1815, 3315, 225),
                   QColor(0, 0, 255), QColor());
    Label5->setFont(gothic(9, false, true));
    Label5->setCursor(QCursor(QPixmap(QStringLiteral(":/assets/hand.png")), 12, 1));
    Label5->installEventFilter(this);

    Label4 = new QLabel(this);
    Label4->setGeometry(twipRect(0, 2205, 5415, 60));
    Label4->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setGeometry(twipRect(3465, 2295, 1320, 375));
    Command1->setDefault(true);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, &frmShowVersion::Command1_Click);
}

void frmShowVersion::Command1_Click() {
    // Hidden here; whoever showed the dialog destroys it once it is hidden.
    hide();
}

void frmShowVersion::Label5_Click() {
    try {
        const QString address = HomepageLibrary::GetHP_URL(libraryPlaces);
        desktop().shellOpen(this, address);
    } catch (const RuntimeError& e) {
        desktop().msgBox(QString::fromStdString(e.what()) +
                             QStringLiteral("\r\n\r\n 上記内容をぬか堂HP関係者まで報告してください。"),
                         MsgBoxStyle::OkStop, QStringLiteral("Kovhpurl.dllのエラー"));
    }
}

bool frmShowVersion::eventFilter(QObject* watched, QEvent* event) {
    // A click: the left button pressed and released over the link.
    if (watched == Label5 && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Label5->rect().contains(mouse->position().toPoint())) {
            Label5_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void showVersionDialog() {
    auto dialog = std::make_unique<frmShowVersion>();
    desktop().showModal(dialog.get());
}
