#include "platform/mci/Sound.h"

#include "platform/mci/PcmSource.h"

#include <algorithm>

namespace mci {

Sound::Sound(Kind k) : kind(k) {}
Sound::~Sound() = default;

double Sound::seconds() const {
    if (kind == Kind::Midi) return midiSeconds;
    const int64_t total = frames.load(std::memory_order_acquire);
    return double(total - std::min(total, startFrame)) / device::Rate;
}

size_t Sound::bytes() const {
    return kind == Kind::Midi ? size_t(midi.size()) : head.capacity() * sizeof(int16_t);
}

std::unique_ptr<PcmSource> Sound::takeSpare() {
    std::lock_guard lock(spareMutex_);
    return std::move(spare_);
}

void Sound::keepSpare(std::unique_ptr<PcmSource> source) {
    std::unique_ptr<PcmSource> old;
    std::lock_guard lock(spareMutex_);
    old = std::move(spare_);
    spare_ = std::move(source);
}

}  // namespace mci
