#pragma once
// A desktop for tests: every call is recorded in order as one line of text,
// and whatever needs a person (message boxes, the common dialog, modal
// windows, the popup's choice) is answered from queues the test fills.
// Installs itself while it lives.
#include "platform/Desktop.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

class QAction;

// Thrown by endProcess so that nothing after it runs; tests catch it.
struct ProcessEnded {};

class ScriptedDesktop : public Desktop {
public:
    ScriptedDesktop();
    ~ScriptedDesktop() override;

    // Every call, in order, e.g. "MsgBox 16 不正な画像 <text>", "SetWindowPos -1 0 0 0 0 3",
    // "ReleaseCapture", "SendMessage 161 2 0", "PopupMenu MnuPopUp", "mci close X", "End".
    QStringList calls;
    // Only the media commands, as sent, in order.
    QStringList mciCommands;
    // The same in code page 932.
    QList<QByteArray> mciBytes;

    std::deque<int> msgBoxAnswers;                    // default: OK for 16, Cancel for 35
    std::deque<std::optional<QString>> fileAnswers;   // nullopt = the user cancels
    std::deque<std::optional<uint32_t>> colorAnswers; // nullopt = the user cancels
    std::deque<std::function<void(QWidget*)>> modalScripts;  // run while "shown"; then hidden
    std::deque<QString> popupChoices;                 // objectName of the item to choose, "" = dismiss
    // Answers media commands; by default every command succeeds.
    std::function<int(const QString&)> mci = [](const QString&) { return 0; };
    // Hands media commands to the real service (and real audio).
    void useRealMci();

    // Calls recorded since the last clear, and clearing.
    void clear();

    int msgBox(const QString& text, int style, const QString& title) override;
    std::optional<QString> fileDialog(FileDialogKind kind, const QString& filter, const QString& fileName,
                                      int32_t flags) override;
    std::optional<uint32_t> colorDialog(uint32_t color, int32_t flags) override;
    void showModal(QWidget* window) override;
    int setWindowPos(QWidget* window, int insertAfter, int x, int y, int cx, int cy, uint32_t flags) override;
    int releaseCapture() override;
    intptr_t sendMessage(QWidget* window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void popupMenu(QWidget* owner, QMenu* menu) override;
    int mciSendString(const QString& command) override;
    [[noreturn]] void endProcess() override;
    // Recorded as "ShellOpen <window> <address>".
    void shellOpen(QWidget* window, const QString& address) override;
};

// Finds an item anywhere in a menu tree by its objectName.
QAction* findMenuItem(QMenu* menu, const QString& name);
