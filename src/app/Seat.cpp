#include "app/Seat.h"

#include "button/frmBase.h"
#include "settings/frmSetDlg.h"

Seat::Seat(const QString& channel) : channel_(channel) {}

Seat::~Seat() { unload(); }

frmBase& Seat::Base() {
    if (!base_) {
        base_ = new frmBase(*this);
        // Loading runs after the instance is registered, so that whatever the
        // load handler touches can refer back to the window.
        base_->Form_Load();
    }
    return *base_;
}

frmSetDlg& Seat::SetDlg() {
    if (!setDlg_) setDlg_ = new frmSetDlg(*this);
    return *setDlg_;
}

void Seat::unload() {
    delete setDlg_;
    setDlg_ = nullptr;
    delete base_;
    base_ = nullptr;
}
