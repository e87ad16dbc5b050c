#include "phones/ClockSync.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace phones {

void ClockSync::addSample(int64_t sentUs, double clientMs, int64_t receivedUs) {
    if (receivedUs < sentUs) return;
    samples_.push_back({sentUs, std::llround(clientMs * 1000.0), receivedUs});
    if (samples_.size() > Kept) samples_.pop_front();
}

std::optional<int64_t> ClockSync::toTableUs(double clientMs) const {
    if (samples_.empty()) return std::nullopt;
    // Table time minus page time lies between these for every exchange; with a
    // drifting clock the bounds may cross by the drift, and the middle is
    // still the best guess.
    int64_t lower = std::numeric_limits<int64_t>::min(), upper = std::numeric_limits<int64_t>::max();
    for (const Sample& s : samples_) {
        lower = std::max(lower, s.sentUs - s.clientUs);
        upper = std::min(upper, s.receivedUs - s.clientUs);
    }
    return std::llround(clientMs * 1000.0) + lower + (upper - lower) / 2;
}

int64_t ClockSync::oneWayUs() const {
    if (samples_.empty()) return -1;
    std::vector<int64_t> trips;
    for (const Sample& s : samples_) trips.push_back(s.receivedUs - s.sentUs);
    const auto at = trips.begin() + std::ptrdiff_t((trips.size() - 1) * 9 / 10);
    std::nth_element(trips.begin(), at, trips.end());
    return *at / 2;
}

}  // namespace phones
