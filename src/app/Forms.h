#pragma once
// The program's windows, one instance each, created on first reference and
// kept (a loaded window may be hidden).
class frmBase;
class frmSetDlg;

namespace Forms {
frmBase& Base();
frmSetDlg& SetDlg();
bool baseLoaded();
bool setDlgLoaded();
// Destroys both windows; the next reference creates them anew. Tests use it
// to start every case from the design state.
void unloadAll();
}
