#include "app/Forms.h"

#include "button/frmBase.h"
#include "settings/frmSetDlg.h"

namespace {
frmBase* base = nullptr;
frmSetDlg* setDlg = nullptr;
}  // namespace

namespace Forms {

frmBase& Base() {
    if (!base) {
        base = new frmBase;
        // Loading runs after the instance is registered, so that whatever the
        // load handler touches can refer back to the window.
        base->Form_Load();
    }
    return *base;
}

frmSetDlg& SetDlg() {
    if (!setDlg) setDlg = new frmSetDlg;
    return *setDlg;
}

bool baseLoaded() { return base != nullptr; }
bool setDlgLoaded() { return setDlg != nullptr; }

void unloadAll() {
    delete setDlg;
    setDlg = nullptr;
    delete base;
    base = nullptr;
}

}  // namespace Forms
