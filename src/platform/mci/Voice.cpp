#include "platform/mci/Voice.h"

#include "platform/mci/MciErrors.h"
#include "platform/mci/Sound.h"

#include <algorithm>
#include <cstring>

namespace mci {

void PcmVoice::render(Uint8* stream, int len) {
    if (finished_.load(std::memory_order_relaxed)) return;
    // Read `complete` first: once it is set, `available` is final.
    const bool complete = sound_->isComplete();
    const size_t available = sound_->available.load(std::memory_order_acquire);
    const size_t n = std::min(available > position_ ? available - position_ : 0, size_t(len));
    std::memcpy(stream, sound_->data + position_, n);
    std::memset(stream + n, 0, size_t(len) - n);
    position_ += n;
    // Catching up with the background decoder is an underrun, not the end:
    // the position holds and playback goes on as samples arrive.
    if (n < size_t(len) && complete) finished_.store(true, std::memory_order_release);
}

int PcmVoice::seek(uint32_t ms) {
    const size_t bytes = sound_->startByte + size_t(uint64_t(ms) * device::Rate / 1000) * device::FrameBytes;
    const size_t end = sound_->isComplete() ? sound_->available.load() : sound_->capacity;
    if (bytes > end) return mcierr::OutOfRange;
    position_ = bytes;
    finished_.store(false);
    return 0;
}

int PcmVoice::resume() {
    if (finished_.load() || position_ < sound_->startByte) position_ = sound_->startByte;  // at the end, play starts over
    finished_.store(false);
    return 0;
}

}  // namespace mci
