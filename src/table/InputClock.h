#pragma once
// Every press carries the time its input device gave it, mapped onto one
// monotonic clock, so presses from keys, gamepads and MIDI order fairly
// whatever the UI loop was busy with when they arrived.
#include <cstdint>
#include <optional>

namespace table {

// Microseconds on the program's monotonic clock (CLOCK_MONOTONIC).
int64_t monotonicUs();

// Maps a device's own clock onto the monotonic clock. Each event teaches it:
// the smallest gap seen between an event's own time and its receipt is the
// offset between the clocks (plus the fastest delivery, a fraction of a
// millisecond on one machine). A mapped time is never later than the receipt.
class ClockMap {
public:
    int64_t map(int64_t sourceUs, int64_t receivedUs);

private:
    std::optional<int64_t> offset_;
};

}  // namespace table
