#include "platform/mci/Sound.h"

namespace mci {

Sound::~Sound() {
    if (chunk) Mix_FreeChunk(chunk);
}

double Sound::seconds() const {
    if (kind == Kind::Midi) return midiSeconds;
    const size_t bytes = available.load(std::memory_order_acquire);
    return double(bytes - std::min(bytes, startByte)) / (device::Rate * device::FrameBytes);
}

size_t Sound::bytes() const { return kind == Kind::Midi ? size_t(midi.size()) : capacity; }

}  // namespace mci
