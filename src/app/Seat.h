#pragma once
// What there is one of per button: its window, its settings dialog (the store
// of its settings, created with the window and kept hidden), whether its
// settings were saved during this run, the data file last chosen for it, and
// its sound channel. The one-button program has a single seat; a quiz table
// has one per team.
#include <QString>

#include <cstdint>
#include <functional>

class frmBase;
class frmSetDlg;

class Seat {
public:
    // `channel` names the seat's sound channel; the device alias is the
    // executable's name followed by it ("Zumble1P1").
    explicit Seat(const QString& channel = QStringLiteral("P1"));
    ~Seat();
    Seat(const Seat&) = delete;
    Seat& operator=(const Seat&) = delete;

    // The windows, created (and the button loaded) on first reference.
    frmBase& Base();
    frmSetDlg& SetDlg();
    bool baseLoaded() const { return base_ != nullptr; }
    bool setDlgLoaded() const { return setDlg_ != nullptr; }
    // Destroys both windows; the next reference creates them anew.
    void unload();

    const QString& channel() const { return channel_; }

    // Set by a completed Save As and never cleared during the run.
    bool IsSaved = false;
    // The name last chosen in the Open or Save As dialog.
    QString CurrentFileName;

    // A seat at a quiz table does not decide its own presses and resets: the
    // table does, for all seats at once. Empty for the one-button program.
    std::function<void(int64_t timeUs)> pressRequest;
    std::function<void()> resetRequest;
    std::function<bool()> closeRequest;  // returns true when the close may go on

private:
    QString channel_;
    frmBase* base_ = nullptr;
    frmSetDlg* setDlg_ = nullptr;
};
