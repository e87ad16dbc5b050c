#include "platform/CommonDialog.h"

#include "platform/Desktop.h"
#include "platform/Errors.h"

namespace {
QString chosenOrCancel(const std::optional<QString>& chosen) {
    if (!chosen) throw CancelError();
    return *chosen;
}
}  // namespace

void CommonDialog::ShowOpen() {
    FileName = chosenOrCancel(desktop().fileDialog(FileDialogKind::Open, Filter, FileName, Flags));
}

void CommonDialog::ShowSave() {
    FileName = chosenOrCancel(desktop().fileDialog(FileDialogKind::Save, Filter, FileName, Flags));
}

void CommonDialog::ShowColor() {
    const std::optional<uint32_t> chosen = desktop().colorDialog(Color, Flags);
    if (!chosen) throw CancelError();
    Color = *chosen;
}
