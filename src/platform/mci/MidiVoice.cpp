#include "platform/mci/MidiVoice.h"

#include "platform/mci/MciErrors.h"
#include "platform/mci/MidiFile.h"
#include "platform/mci/MidiSynthPool.h"
#include "platform/mci/Sound.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>

namespace mci {
namespace {

constexpr int ScratchFrames = 1024;
// The limiter lets go of a peak with a time constant of about 0.2 s.
const float Release = std::exp(-1.0f / (0.2f * device::Rate));

}  // namespace

std::unique_ptr<MidiVoice> MidiVoice::create(std::shared_ptr<Sound> sound, MidiSynthPool& pool) {
    fluid_synth_t* synth = pool.acquire();
    if (!synth) return nullptr;
    return std::unique_ptr<MidiVoice>(new MidiVoice(std::move(sound), pool, synth));
}

MidiVoice::MidiVoice(std::shared_ptr<Sound> sound, MidiSynthPool& pool, fluid_synth_t* synth)
    : Voice(std::move(sound)), pool_(pool), synth_(synth), scratch_(size_t(ScratchFrames) * 2) {
    lastEvent_ = std::llround(sound_->midiSeconds * device::Rate);
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
    auto* out = reinterpret_cast<int16_t*>(stream);
    int frames = len / device::FrameBytes;
    const int64_t end = lastEvent_ + TailFrames;
    peak_ = 0;
    while (frames > 0 && played_ < end) {
        const int n = int(std::min<int64_t>({frames, ScratchFrames, end - played_}));
        fluid_synth_write_float(synth_, n, scratch_.data(), 0, 2, scratch_.data(), 1, 2);
        finish(scratch_.data(), out, n);
        out += n * 2;
        frames -= n;
        played_ += n;
    }
    // Past the last event the sound is over once it has died away (notes
    // still releasing below -60 dBFS are not heard), and at the end of the
    // tail whatever still sounds.
    const bool quiet = played_ > lastEvent_ + device::PeriodFrames && peak_ < QuietLevel;
    if (quiet || played_ >= end) {
        fluid_synth_all_sounds_off(synth_, -1);
        finished_.store(true, std::memory_order_release);
    }
}

void MidiVoice::finish(const float* in, int16_t* out, int frames) {
    const int64_t fadeStart = lastEvent_ + TailFrames - FadeFrames;
    for (int i = 0; i < frames; ++i) {
        const float left = in[2 * i];
        const float right = in[2 * i + 1];
        // The follower jumps to any louder peak at once, so the scaled sample
        // never exceeds the ceiling.
        const float level = std::max(std::fabs(left), std::fabs(right));
        peak_ = std::max(peak_, level);
        envelope_ = std::max(level, envelope_ * Release);
        float gain = envelope_ > Ceiling ? Ceiling / envelope_ : 1.0f;
        const int64_t frame = played_ + i;
        if (frame >= fadeStart) gain *= float(lastEvent_ + TailFrames - frame) / FadeFrames;
        out[2 * i] = int16_t(std::lrint(left * gain * 32767));
        out[2 * i + 1] = int16_t(std::lrint(right * gain * 32767));
    }
}

int MidiVoice::seek(uint32_t ms) {
    // Only the start: the press always plays a MIDI file from its beginning.
    if (ms != 0) return ms > sound_->midiSeconds * 1000 ? mcierr::OutOfRange : mcierr::UnsupportedFunction;
    dropPlayer();
    fluid_synth_system_reset(synth_);
    player_ = new_fluid_player(synth_);
    if (!player_) return mcierr::OutOfMemory;
    const QByteArray smf = unwrapRiffMidi(sound_->midi);  // the player copies it
    if (smf.isEmpty() || fluid_player_add_mem(player_, smf.constData(), size_t(smf.size())) != FLUID_OK ||
        fluid_player_play(player_) != FLUID_OK) {
        dropPlayer();
        return mcierr::InvalidFile;
    }
    played_ = 0;
    envelope_ = 0;
    finished_.store(false);
    return 0;
}

int MidiVoice::resume() {
    if (!player_ || finished_.load()) return seek(0);
    return fluid_player_play(player_) == FLUID_OK ? 0 : mcierr::InvalidFile;
}

}  // namespace mci
