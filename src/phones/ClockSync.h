#pragma once
// A phone's clock seen from the table's. The table pings each phone five
// times a second; the page answers with its own clock. Each exchange says the
// page's reading was taken somewhere between the ping's sending and the
// answer's arrival, on the table's clock: it bounds the offset between the
// clocks from below and from above. The offset is the middle of the tightest
// bounds of the recent exchanges: one exchange whose ping went fast sets the
// lower bound, another whose answer came back fast the upper one, so the
// estimate is as good as the fastest trip each way, not the fastest round
// trip. Only recent exchanges count, so the estimate follows a clock that
// drifts. docs/fair-order.md tells the method and its limits.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace phones {

class ClockSync {
public:
    // At five pings a second, the last 13 seconds.
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

private:
    struct Sample {
        int64_t sentUs;
        int64_t clientUs;
        int64_t receivedUs;
    };
    std::deque<Sample> samples_;
};

}  // namespace phones
