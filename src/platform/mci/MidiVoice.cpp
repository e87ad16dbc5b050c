#include "platform/mci/MidiVoice.h"

#include "platform/mci/MciErrors.h"
#include "platform/mci/MidiSynthPool.h"
#include "platform/mci/Sound.h"

#include <fluidsynth.h>

namespace mci {

std::unique_ptr<MidiVoice> MidiVoice::create(std::shared_ptr<Sound> sound, MidiSynthPool& pool) {
    fluid_synth_t* synth = pool.acquire();
    if (!synth) return nullptr;
    return std::unique_ptr<MidiVoice>(new MidiVoice(std::move(sound), pool, synth));
}

MidiVoice::~MidiVoice() {
    dropPlayer();
    pool_.release(synth_);
}

void MidiVoice::dropPlayer() {
    if (!player_) return;
    fluid_player_stop(player_);
    delete_fluid_player(player_);
    player_ = nullptr;
}

void MidiVoice::render(Uint8* stream, int len) {
    if (finished_.load(std::memory_order_relaxed) || !player_) return;
    const int frames = len / device::FrameBytes;
    fluid_synth_write_s16(synth_, frames, stream, 0, 2, stream, 1, 2);
    if (fluid_player_get_status(player_) != FLUID_PLAYER_DONE) return;
    // Let released notes ring out, but not forever.
    tailFrames_ += frames;
    if (fluid_synth_get_active_voice_count(synth_) == 0 || tailFrames_ > 3 * device::Rate)
        finished_.store(true, std::memory_order_release);
}

int MidiVoice::seek(uint32_t ms) {
    // Only the start: the press always plays a MIDI file from its beginning.
    if (ms != 0) return ms > sound_->midiSeconds * 1000 ? mcierr::OutOfRange : mcierr::UnsupportedFunction;
    dropPlayer();
    fluid_synth_system_reset(synth_);
    player_ = new_fluid_player(synth_);
    if (!player_) return mcierr::OutOfMemory;
    if (fluid_player_add_mem(player_, sound_->midi.constData(), size_t(sound_->midi.size())) != FLUID_OK ||
        fluid_player_play(player_) != FLUID_OK) {
        dropPlayer();
        return mcierr::InvalidFile;
    }
    tailFrames_ = 0;
    finished_.store(false);
    return 0;
}

int MidiVoice::resume() {
    if (!player_ || finished_.load()) return seek(0);
    return fluid_player_play(player_) == FLUID_OK ? 0 : mcierr::InvalidFile;
}

}  // namespace mci
