#include "FreshWindows.h"

#include "app/Forms.h"
#include "button/frmBase.h"
#include "settings/frmSetDlg.h"

#include <QTest>

bool FreshWindows::start(bool show) {
    desk = std::make_unique<ScriptedDesktop>();
    Forms::unloadAll();
    base = &Forms::Base();
    settings = &Forms::SetDlg();
    if (!show) return true;
    base->show();
    return QTest::qWaitForWindowExposed(base);
}

void FreshWindows::stop() {
    Forms::unloadAll();
    base = nullptr;
    settings = nullptr;
    desk.reset();
}
