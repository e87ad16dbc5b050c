#pragma once
// A phone's clock seen from the table's. The table pings each phone a few
// times a second; the page answers with its own clock. Each exchange gives
// the round trip and, taking the answer to lie halfway through it, the offset
// between the clocks. Only recent exchanges are kept, so the estimate follows
// a clock that drifts, and of those the one with the shortest round trip sets
// the offset: its halfway guess can be wrong by at most half its round trip,
// the least of any. docs/fair-order.md tells the method and its limits.
#include <cstdint>
#include <deque>
#include <optional>

namespace phones {

class ClockSync {
public:
    // At five pings a second, the last 13 seconds: enough exchanges that one of
    // them nearly always went both ways fast, and short enough to follow drift.
    static constexpr std::size_t Kept = 64;

    // A ping sent at `sentUs` (table clock) was answered with the page's
    // clock reading `clientMs` and the answer came back at `receivedUs`.
    void addSample(int64_t sentUs, double clientMs, int64_t receivedUs);

    bool ready() const { return !samples_.empty(); }
    // A page time on the table's clock; nothing before the first exchange.
    std::optional<int64_t> toTableUs(double clientMs) const;
    // How late a message from the phone may arrive: half of a long recent
    // round trip (the 90th percentile, so that one hiccup does not count for
    // the next 13 seconds); -1 before the first exchange.
    int64_t oneWayUs() const;
    // Half the shortest recent round trip: the most the offset can be out
    // by if the network is as lopsided as it can be.
    int64_t uncertaintyUs() const;

private:
    struct Sample {
        int64_t roundTripUs;
        int64_t offsetUs;  // table time minus page time
    };
    std::deque<Sample> samples_;
};

}  // namespace phones
