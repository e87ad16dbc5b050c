#include "platform/mci/Sound.h"

namespace mci {

Sound::~Sound() {
    if (Mix_Chunk* f = full.load()) Mix_FreeChunk(f);
    if (head) Mix_FreeChunk(head);
}

double Sound::seconds() const {
    if (kind == Kind::Midi) return midiSeconds;
    const Mix_Chunk* c = current();
    return c ? double(c->alen) / (device::Rate * device::FrameBytes) : 0.0;
}

size_t Sound::bytes() const {
    if (kind == Kind::Midi) return size_t(midi.size());
    size_t total = head ? head->alen : 0;
    if (const Mix_Chunk* f = full.load(std::memory_order_acquire)) total += f->alen;
    return total;
}

}  // namespace mci
