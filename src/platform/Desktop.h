#pragma once
// The one seam between the program's logic and what needs a person or the
// window manager: message boxes, the common dialog's answers, modal showing,
// z-order, the drag, the popup, the media-command service, ending the
// process and opening an address in the browser. The program installs
// QtDesktop; tests install a scripted desktop that returns queued answers and
// records every call in order.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

class QMenu;
class QWidget;

enum class FileDialogKind { Open, Save };

class Desktop {
public:
    virtual ~Desktop() = default;

    // Modal message box. style: 16 (OK, stop icon) or 35 (Yes/No/Cancel,
    // question icon). Returns 1 OK, 2 Cancel, 6 Yes, 7 No.
    virtual int msgBox(const QString& text, int style, const QString& title) = 0;

    // The common dialog's file dialogs. Returns the chosen path, or nothing when
    // the user cancelled. flags: 4 hide read-only box (open), 2 confirm
    // overwrite (save).
    virtual std::optional<QString> fileDialog(FileDialogKind kind, const QString& filter,
                                              const QString& fileName, int32_t flags) = 0;
    // The common dialog's colour dialog, colours as 0x00BBGGRR.
    virtual std::optional<uint32_t> colorDialog(uint32_t color, int32_t flags) = 0;

    // Shows a window modally; returns once it has been hidden.
    virtual void showModal(QWidget* window) = 0;

    // Z-order: insertAfter -1 (topmost) or -2 (not topmost), flags 3.
    virtual int setWindowPos(QWidget* window, int insertAfter, int x, int y, int cx, int cy,
                             uint32_t flags) = 0;

    // Moving a borderless window: releaseCapture, then sendMessage(window,
    // 0xA1, 2, 0) hands the press over to a window move.
    virtual int releaseCapture() = 0;
    virtual intptr_t sendMessage(QWidget* window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam) = 0;

    // Shows the menu's items as a popup at the mouse position; a chosen item's
    // action has run when this returns.
    virtual void popupMenu(QWidget* owner, QMenu* menu) = 0;

    // The media-command service: a command as the program wrote it, result 0
    // or an error number. The service reads it in code page 932, but opens
    // a file by the exact name written: names that code page cannot hold
    // (café, 음악) or holds only as a look-alike (〜 becomes ～) still name
    // their own file.
    virtual int mciSendString(const QString& command) = 0;

    // Ends the process at once: no window event runs after it.
    [[noreturn]] virtual void endProcess() = 0;

    // Hands an address to the desktop shell, which opens it (a web address in
    // the user's browser). The address passes unchanged; the result is not
    // examined.
    virtual void shellOpen(QWidget* window, const QString& address) = 0;
};

// The installed desktop. The program installs QtDesktop in main(); tests
// install their scripted one.
Desktop& desktop();
void setDesktop(Desktop* d);

// Ends the process at once through the installed desktop.
[[noreturn]] void End();

// Message-box styles and answers used by the program.
namespace MsgBoxStyle {
constexpr int OkStop = 16;
constexpr int YesNoCancelQuestion = 35;
}
namespace MsgBoxResult {
constexpr int Ok = 1;
constexpr int Cancel = 2;
constexpr int Yes = 6;
constexpr int No = 7;
}
