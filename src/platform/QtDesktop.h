#pragma once
// The real desktop: Qt's dialogs and message boxes, the window manager's
// z-order, a hand-made window move, and the media-command service.
#include "platform/Desktop.h"

class QtDesktop : public Desktop {
public:
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
    void shellOpen(QWidget* window, const QString& address) override;
};

// "desc|*.a;*.b|desc2|*.c" as Qt name filters ("desc (*.a *.b)", ...).
QStringList qtNameFilters(const QString& filter);

class QFileDialog;
// Puts the common dialog's filter on a Qt file dialog: each description is
// listed once, as given, and filters by its pattern.
void setFileDialogFilter(QFileDialog& dialog, const QString& filter);
