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

MidiVoice::~MidiVoice() { pool_.release(synth_); }

int64_t MidiVoice::sendDueEvents() {
    const MidiSong& song = *sound_->song;
    while (nextEvent_ < song.events.size() && song.events[nextEvent_].frame <= played_) {
        const MidiEvent& e = song.events[nextEvent_++];
        const int channel = e.status & 0x0F;
        switch (e.status >> 4) {
        case 0x8: fluid_synth_noteoff(synth_, channel, e.data1); break;
        case 0x9:
            if (e.data2 == 0) fluid_synth_noteoff(synth_, channel, e.data1);
            else fluid_synth_noteon(synth_, channel, e.data1, e.data2);
            break;
        case 0xA: fluid_synth_key_pressure(synth_, channel, e.data1, e.data2); break;
        case 0xB: fluid_synth_cc(synth_, channel, e.data1, e.data2); break;
        case 0xC: fluid_synth_program_change(synth_, channel, e.data1); break;
        case 0xD: fluid_synth_channel_pressure(synth_, channel, e.data1); break;
        case 0xE: fluid_synth_pitch_bend(synth_, channel, e.data1 | e.data2 << 7); break;
        default: break;
        }
    }
    while (nextSysex_ < song.sysex.size() && song.sysex[nextSysex_].first <= played_) {
        const QByteArray& message = song.sysex[nextSysex_++].second;
        fluid_synth_sysex(synth_, message.constData(), int(message.size()), nullptr, nullptr, nullptr, 0);
    }
    int64_t next = INT64_MAX;
    if (nextEvent_ < song.events.size()) next = song.events[nextEvent_].frame;
    if (nextSysex_ < song.sysex.size()) next = std::min<int64_t>(next, song.sysex[nextSysex_].first);
    return next;
}

void MidiVoice::render(Uint8* stream, int len) {
    if (finished_.load(std::memory_order_relaxed) || !started_) return;
    auto* out = reinterpret_cast<int16_t*>(stream);
    int frames = len / device::FrameBytes;
    const int64_t end = lastEvent_ + TailFrames;
    peak_ = 0;
    while (frames > 0 && played_ < end) {
        const int64_t nextEvent = sendDueEvents();
        const int n = int(std::min<int64_t>({frames, ScratchFrames, end - played_, nextEvent - played_}));
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
    fluid_synth_system_reset(synth_);
    nextEvent_ = nextSysex_ = 0;
    played_ = 0;
    envelope_ = 0;
    started_ = true;
    finished_.store(false);
    return 0;
}

int MidiVoice::resume() {
    if (!started_ || finished_.load()) return seek(0);
    return 0;
}

}  // namespace mci
