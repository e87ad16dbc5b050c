#pragma once
// A quiz table at play: one seat (a full button window with its kit) per
// team, the round that decides who lit first, the buzzers, and the host's
// commands. Each press reaches the round with its input's own time; the
// seats the round lights play their sound through the same media service as
// a single button, with nothing in between.
#include "app/Seat.h"
#include "datafile/SettingsRecord.h"
#include "table/Inputs.h"
#include "table/Round.h"
#include "table/TableFile.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

namespace phones {
class PhoneServer;
}

namespace table {

class HostPanel;

class Table : public QObject {
    Q_OBJECT
public:
    Table();
    ~Table() override;

    // Opens the table file: every seat's window with its kit, the host panel,
    // the buzzers. A file that cannot be used is reported and nothing opens:
    // returns false.
    bool open(const QString& path);

    int seats() const { return int(seats_.size()); }
    Seat& seat(int index) { return *seats_.at(size_t(index)); }
    const SeatConfig& seatConfig(int index) const { return config_.seats.at(size_t(index)); }
    const Round& round() const { return round_; }
    Inputs& inputs() { return inputs_; }
    HostPanel& panel() { return *panel_; }
    const QString& path() const { return path_; }

    // The host's commands.
    void reset();
    void correct();
    void wrong();
    // The next input of any kind is bound to `seat` (and taken from any other
    // seat that had it); -1 stops learning.
    void learn(int seat);
    int learning() const { return learning_; }
    // Saves the table file with the seats' bindings and window places.
    // Reports a failure; returns whether it was saved.
    bool save();
    // The table's exit: offers to save what changed, closes every channel
    // and ends the program. Returns false when the host cancelled.
    bool exit();

    // A seat pressed at `timeUs` on the monotonic clock (-1: now).
    void press(int seat, int64_t timeUs);

    // スマホで参加: the phones' page and server. Turning it on prints the
    // address on standard output; false when the server could not start
    // (the panel says why). `loopbackOnly` keeps it to this computer.
    bool setPhones(bool on, bool loopbackOnly = false);
    // Null until phones were first turned on.
    phones::PhoneServer* phones() { return phones_.get(); }
    // How long the round now waits before deciding: the slowest armed
    // phone's one-way delay and 10 ms, at most 150 ms; 0 with no phone armed.
    int64_t adjudicationWindowUs() const;
    // When the round last decided to light a seat (monotonic clock), 0 before.
    int64_t litAtUs() const { return litAtUs_; }

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onInput(const QString& binding, qint64 timeUs);
    void apply(const std::vector<Press>& decided);
    void scheduleSettle();
    void playHostSound(const QString& path);
    int seatOf(const QString& binding) const;
    void startDevices();
    bool kitChanged(size_t seat);
    void showToPhones();

    QString path_;
    TableConfig config_;
    std::vector<std::unique_ptr<Seat>> seats_;
    std::vector<SettingsRecord> opened_;  // each seat's settings once its kit was read
    Round round_{0};
    Inputs inputs_;
    std::unique_ptr<phones::PhoneServer> phones_;
    std::vector<QString> seatColours_;  // each seat's lit picture's colour, for the phones
    std::unique_ptr<HostPanel> panel_;
    QTimer settleTimer_;
    int64_t litAtUs_ = 0;
    int learning_ = -1;
    bool bindingsChanged_ = false;
    bool exiting_ = false;
    bool devicesStarted_ = false;
};

}  // namespace table
