#pragma once
// The one-button program's windows: those of its single seat, created on
// first reference and kept (a loaded window may be hidden).
class frmBase;
class frmSetDlg;
class Seat;

namespace Forms {
// The program's own seat (a quiz table's seats are the table's).
Seat& MainSeat();
frmBase& Base();
frmSetDlg& SetDlg();
bool baseLoaded();
bool setDlgLoaded();
// Destroys both windows; the next reference creates them anew. Tests use it
// to start every case from the design state.
void unloadAll();
}
