#include "phones/ClockSync.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace phones {

void ClockSync::addSample(int64_t sentUs, double clientMs, int64_t receivedUs) {
    const int64_t roundTrip = receivedUs - sentUs;
    if (roundTrip < 0) return;
    const int64_t clientUs = std::llround(clientMs * 1000.0);
    samples_.push_back({roundTrip, sentUs + roundTrip / 2 - clientUs});
    if (samples_.size() > Kept) samples_.pop_front();
}

std::optional<int64_t> ClockSync::toTableUs(double clientMs) const {
    if (samples_.empty()) return std::nullopt;
    const auto best = std::min_element(samples_.begin(), samples_.end(),
                                       [](const Sample& a, const Sample& b) { return a.roundTripUs < b.roundTripUs; });
    return std::llround(clientMs * 1000.0) + best->offsetUs;
}

int64_t ClockSync::oneWayUs() const {
    if (samples_.empty()) return -1;
    std::vector<int64_t> trips;
    for (const Sample& s : samples_) trips.push_back(s.roundTripUs);
    const auto at = trips.begin() + std::ptrdiff_t((trips.size() - 1) * 9 / 10);
    std::nth_element(trips.begin(), at, trips.end());
    return *at / 2;
}

int64_t ClockSync::uncertaintyUs() const {
    if (samples_.empty()) return 0;
    int64_t shortest = samples_.front().roundTripUs;
    for (const Sample& s : samples_) shortest = std::min(shortest, s.roundTripUs);
    return shortest / 2;
}

}  // namespace phones
