#include "table/Round.h"

#include <algorithm>

namespace table {

Round::Round(int seats, Lockout mode, int lit)
    : states_(size_t(std::max(seats, 0)), SeatState::Idle), mode_(mode),
      lit_(mode == Lockout::FirstOnly ? 1 : std::max(lit, 1)) {}

void Round::reset() {
    std::fill(states_.begin(), states_.end(), SeatState::Armed);
    order_.clear();
    held_.clear();
}

std::vector<Press> Round::press(int seat, int64_t timeUs, int64_t nowUs) {
    if (seat < 0 || seat >= seats() || states_[size_t(seat)] != SeatState::Armed) return {};
    // A seat's later presses while its first is held count for nothing.
    if (std::any_of(held_.begin(), held_.end(), [seat](const Press& p) { return p.seat == seat; })) return {};
    held_.push_back({seat, timeUs, 0});
    return settle(nowUs);
}

int64_t Round::settleAtUs() const {
    if (held_.empty()) return -1;
    const auto first = std::min_element(held_.begin(), held_.end(),
                                        [](const Press& a, const Press& b) { return a.timeUs < b.timeUs; });
    return first->timeUs + windowUs_;
}

std::vector<Press> Round::settle(int64_t nowUs) {
    if (held_.empty() || nowUs < settleAtUs()) return {};
    std::vector<Press> presses;
    presses.swap(held_);
    return decide(std::move(presses));
}

std::vector<Press> Round::decide(std::vector<Press> presses) {
    // Equal times keep their arrival order.
    std::stable_sort(presses.begin(), presses.end(),
                     [](const Press& a, const Press& b) { return a.timeUs < b.timeUs; });
    int litSoFar = int(std::count_if(order_.begin(), order_.end(), [](const Press& p) { return p.rank > 0; }));
    std::vector<Press> decided;
    for (Press p : presses) {
        // The question may have ended while the press was held.
        if (states_[size_t(p.seat)] != SeatState::Armed) continue;
        p.rank = litSoFar < lit_ ? ++litSoFar : 0;
        states_[size_t(p.seat)] = p.rank > 0 ? SeatState::Lit : SeatState::Dark;
        const auto at = std::upper_bound(order_.begin(), order_.end(), p,
                                         [](const Press& a, const Press& b) { return a.timeUs < b.timeUs; });
        order_.insert(at, p);
        decided.push_back(p);
    }
    return decided;
}

void Round::correct() {
    held_.clear();
    for (SeatState& s : states_)
        if (s == SeatState::Armed) s = SeatState::Idle;
}

int Round::answering() const {
    for (const Press& p : order_)
        if (p.rank == 1) return p.seat;
    return -1;
}

int Round::wrong() {
    const int seat = answering();
    if (seat < 0) return -1;
    held_.clear();
    order_.clear();
    for (SeatState& s : states_)
        if (s != SeatState::Locked) s = SeatState::Armed;
    states_[size_t(seat)] = SeatState::Locked;
    return seat;
}

}  // namespace table
