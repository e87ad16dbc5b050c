#include "app/Forms.h"

#include "app/Seat.h"

namespace Forms {

Seat& MainSeat() {
    // Never destroyed: its windows must not outlive the application object.
    static Seat* seat = new Seat;
    return *seat;
}

frmBase& Base() { return MainSeat().Base(); }
frmSetDlg& SetDlg() { return MainSeat().SetDlg(); }
bool baseLoaded() { return MainSeat().baseLoaded(); }
bool setDlgLoaded() { return MainSeat().setDlgLoaded(); }
void unloadAll() { MainSeat().unload(); }

}  // namespace Forms
