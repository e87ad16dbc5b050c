#pragma once
// Each test case starts from the design state: a new scripted desktop and
// both windows created anew, the button window shown when asked.
#include "ScriptedDesktop.h"

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
