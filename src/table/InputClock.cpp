#include "table/InputClock.h"

#include <algorithm>
#include <time.h>

namespace table {

namespace {
// A source whose clock jumps (an X server's 32-bit millisecond time wraps
// after 49 days; a device reconnects) is learnt anew rather than trusted.
constexpr int64_t RelearnAfterUs = 10'000'000;
}  // namespace

int64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

int64_t ClockMap::map(int64_t sourceUs, int64_t receivedUs) {
    const int64_t gap = receivedUs - sourceUs;
    if (!offset_ || gap < *offset_ || gap - *offset_ > RelearnAfterUs) offset_ = gap;
    return std::min(sourceUs + *offset_, receivedUs);
}

}  // namespace table
