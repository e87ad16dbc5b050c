#pragma once
// Each test case starts from the design state: a new scripted desktop and
// both windows created anew, the button window shown when asked.
#include "ScriptedDesktop.h"

#include <QObject>
#include <QTest>

#include <memory>

class frmBase;
class frmSetDlg;

class FreshWindows {
public:
    std::unique_ptr<ScriptedDesktop> desk;
    frmBase* base = nullptr;
    frmSetDlg* settings = nullptr;

    // False when the button window was to be shown and never got exposed.
    bool start(bool show = true);
    void stop();
};

// A test class whose every case starts from fresh windows, the button window
// shown: `desk`, `w` (the button window) and `s` (the settings store) are
// set before each case. A class that needs more in init() calls this one's.
class WindowTest : public QObject {
    Q_OBJECT
protected:
    FreshWindows fresh;
    ScriptedDesktop* desk = nullptr;
    frmBase* w = nullptr;
    frmSetDlg* s = nullptr;
    bool show = true;

    // A new run of the program: the windows made anew; false when the
    // button window never showed.
    bool restart();

protected slots:
    void init() { QVERIFY(restart()); }
    void cleanup() { fresh.stop(); }
};
