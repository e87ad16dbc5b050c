#include "platform/QtDesktop.h"

#include "platform/Twips.h"
#include "platform/WindowDrag.h"
#include "platform/mci/MciService.h"

#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

int QtDesktop::msgBox(const QString& text, int style, const QString& title) {
    QMessageBox box;
    // Above everything, the button window too when it is kept on top: a
    // question hidden behind it could not be answered.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setWindowTitle(title);
    box.setText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    if (style == MsgBoxStyle::YesNoCancelQuestion) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);  // Esc and the close box answer Cancel
        box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
        box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("キャンセル"));
    } else {
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return MsgBoxResult::Yes;
    case QMessageBox::No: return MsgBoxResult::No;
    case QMessageBox::Cancel: return MsgBoxResult::Cancel;
    default: return style == MsgBoxStyle::YesNoCancelQuestion ? MsgBoxResult::Cancel : MsgBoxResult::Ok;
    }
}

QStringList qtNameFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString masks = parts[i + 1];
        masks.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt takes the patterns from the final parenthesised group.
        result << parts[i] + QStringLiteral(" (") + masks.trimmed() + QLatin1Char(')');
    }
    return result;
}

void setFileDialogFilter(QFileDialog& dialog, const QString& filter) {
    // The descriptions already show their patterns: the list shows each
    // description as given, once, and Qt takes the masks from the pattern.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(qtNameFilters(filter));
}

std::optional<QString> QtDesktop::fileDialog(FileDialogKind kind, const QString& filter, const QString& fileName,
                                             int32_t flags) {
    QFileDialog dialog;
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);  // never behind a button kept on top
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    setFileDialogFilter(dialog, filter);
    if (kind == FileDialogKind::Open) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // The open dialogs accept a name that does not exist yet.
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, (flags & 2) == 0);
    }
    if (!fileName.isEmpty()) dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<uint32_t> QtDesktop::colorDialog(uint32_t color, int32_t flags) {
    // Without the "initial colour" flag (1) the dialog starts on black, not on `color`.
    const QColor initial = (flags & 1) ? colorFromRef(color) : QColor(Qt::black);
    const QColor chosen = QColorDialog::getColor(initial, nullptr, QString(), QColorDialog::DontUseNativeDialog);
    if (!chosen.isValid()) return std::nullopt;
    return refFromColor(chosen);
}

namespace {
// While a modal window is shown, the button window can leave the screen and
// come back (its size through 0 and back), and the window manager maps it
// anew on top of everything in its layer. The modal window is raised above
// it again whenever another of the program's windows is mapped, unless a
// window it opened itself (a file dialog, a message box) is the modal one.
class KeepAbove : public QObject {
public:
    explicit KeepAbove(QWidget* modal) : modal_(modal) { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Expose || !watched->isWindowType() || watched == modal_->windowHandle())
            return false;
        const auto* window = static_cast<QWindow*>(watched);
        // Popups and tooltips (a text box's context menu) belong above the modal window.
        const Qt::WindowType type = window->type();
        if (type != Qt::Popup && type != Qt::ToolTip && window->isExposed() &&
            QApplication::activeModalWidget() == modal_)
            modal_->raise();
        return false;
    }

private:
    QWidget* modal_;
};
}  // namespace

void QtDesktop::showModal(QWidget* window) {
    // Above everything, the button window too when it is kept on top: the
    // window takes all input while it is shown, and one the button window
    // covered could not be reached. It is hidden here, so changing the flag
    // costs nothing.
    if (!window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    const KeepAbove keepAbove(window);
    if (auto* dialog = qobject_cast<QDialog*>(window)) {
        dialog->exec();  // returns once the dialog is hidden
        return;
    }
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    QEventLoop loop;
    while (window->isVisible()) loop.processEvents(QEventLoop::WaitForMoreEvents);
}

int QtDesktop::setWindowPos(QWidget* window, int insertAfter, int, int, int, int, uint32_t) {
    // Changing the flag on the native window keeps it; QWidget::setWindowFlag
    // would recreate and hide the window.
    window->winId();
    QWindow* handle = window->windowHandle();
    if (!handle) return 0;
    handle->setFlag(Qt::WindowStaysOnTopHint, insertAfter == -1);
    return 1;
}

int QtDesktop::releaseCapture() {
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    return 1;
}

intptr_t QtDesktop::sendMessage(QWidget* window, uint32_t message, uintptr_t wParam, intptr_t) {
    constexpr uint32_t WM_NCLBUTTONDOWN = 0xA1;
    constexpr uintptr_t HTCAPTION = 2;
    if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION) WindowDrag::begin(window, QCursor::pos());
    return 0;
}

namespace {
// Qt's menus take an item on the release of any mouse button; the popup takes
// it with the left button only. Other buttons' presses and releases over the
// menu and its submenus are swallowed; outside them they still close it.
class LeftButtonOnly : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            return mouse->button() != Qt::LeftButton &&
                   static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint());
        }
        default: return false;
        }
    }
};

void filterTree(QMenu* menu, QObject* filter) {
    menu->installEventFilter(filter);  // installing twice keeps one
    for (QAction* action : menu->actions())
        if (action->menu()) filterTree(action->menu(), filter);
}
}  // namespace

void QtDesktop::popupMenu(QWidget*, QMenu* menu) {
    static auto* leftButtonOnly = new LeftButtonOnly(QCoreApplication::instance());
    filterTree(menu, leftButtonOnly);
    menu->exec(QCursor::pos());
}

int QtDesktop::mciSendString(const QString& command) { return MciService::instance().sendText(command); }

void QtDesktop::endProcess() {
    std::fflush(nullptr);
    std::_Exit(0);
}

void QtDesktop::shellOpen(QWidget*, const QString& address) {
    // An empty address opens nothing.
    if (address.isEmpty()) return;
    // The desktop's opener gets the address exactly as the library gave it.
    // Qt would hand on its encoded form (the host in punycode, the rest
    // percent-encoded), which is not the same string.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty() && QProcess::startDetached(opener, {address})) return;
    QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
}
