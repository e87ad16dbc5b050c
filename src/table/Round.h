#pragma once
// One question at the quiz table, as a state machine with no I/O: which seats
// are armed, which lit, which locked out after a wrong answer, and the order of
// the presses. Presses carry their input's own time (microseconds on one
// monotonic clock), so the order is that of the presses, not of their arrival.
// A press may arrive a little late (from another thread, or a remote seat):
// with an adjudication window the round holds presses until the window after
// the first one has passed, then decides on their times.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace table {

enum class SeatState {
    Armed,   // may press
    Lit,     // pressed and shown lit (sounding)
    Dark,    // pressed after the round was decided: recorded, not lit
    Locked,  // answered wrong: out for the rest of the question (お手つき)
    Idle,    // the question is over (correct), waiting for a reset
};

enum class Lockout {
    FirstOnly,  // only the first press lights
    Order,      // the first `lit` presses light, each with its rank
};

struct Press {
    int seat;
    int64_t timeUs;
    int rank;  // 1, 2, ... for lit presses, 0 for a dark one
};

class Round {
public:
    explicit Round(int seats, Lockout mode = Lockout::FirstOnly, int lit = 1);

    // Arms every seat for a new question: clears the order and the lockouts.
    void reset();

    // A seat pressed at its input's time. Presses of seats that are not armed
    // are ignored. Returns the presses decided by this call (lit or dark),
    // in order; with a window, a press may be decided only by a later settle().
    std::vector<Press> press(int seat, int64_t timeUs, int64_t nowUs);
    // Decides held presses whose window has passed by `nowUs`.
    std::vector<Press> settle(int64_t nowUs);
    // How long to hold presses before deciding; 0 decides at once.
    void setWindowUs(int64_t windowUs) { windowUs_ = windowUs; }
    int64_t windowUs() const { return windowUs_; }
    // When settle() has work to do, or -1 when nothing is held.
    int64_t settleAtUs() const;

    // The answer was right: the question is over. Lit and dark seats stay as
    // they are for all to see; nobody else may press until the reset.
    void correct();
    // The answering seat (the first lit one) was wrong: it is locked for the
    // rest of the question and every other seat is armed again with a fresh
    // order, so the next press wins. Returns the locked seat, or -1.
    int wrong();

    SeatState state(int seat) const { return states_.at(std::size_t(seat)); }
    int seats() const { return int(states_.size()); }
    // This round's presses, decided ones in time order (held ones excluded).
    const std::vector<Press>& order() const { return order_; }
    // The seat now answering, or -1.
    int answering() const;
    Lockout mode() const { return mode_; }

private:
    std::vector<Press> decide(std::vector<Press> presses);

    std::vector<SeatState> states_;
    std::vector<Press> order_;
    std::vector<Press> held_;
    Lockout mode_;
    int lit_;
    int64_t windowUs_ = 0;
    int64_t heldSinceUs_ = 0;
};

}  // namespace table
