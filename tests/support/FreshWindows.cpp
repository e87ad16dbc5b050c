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

bool WindowTest::restart() {
    fresh.stop();
    const bool shown = fresh.start(show);
    desk = fresh.desk.get();
    w = fresh.base;
    s = fresh.settings;
    return shown;
}

void FreshWindows::stop() {
    Forms::unloadAll();
    base = nullptr;
    settings = nullptr;
    desk.reset();
}
