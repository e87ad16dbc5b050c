#pragma once
// One decoded sound file, shared by the cache and every alias playing it.
//
// PCM (WAV, MP3) is held in the mixer's device format. A long MP3 is decoded
// in two steps so that it can start at once: `head` holds the first seconds,
// decoded while opening; `full` is filled in later by the background decoder
// and then `complete` is set. The audio thread reads `complete` before `full`
// (acquire), the decoder stores `full` before `complete` (release), so a
// reader that sees `complete` sees the final `full`.
//
// MIDI is kept as the file's bytes; FluidSynth renders it while it plays.
#include <QByteArray>

#include <SDL_mixer.h>

#include <atomic>
#include <cstddef>

namespace mci {

// The device format every PCM sound is converted to.
namespace device {
constexpr int Rate = 44100;
constexpr int Channels = 2;
constexpr int FrameBytes = 4;        // 16-bit stereo
constexpr int PeriodFrames = 256;    // a small buffer: the press must sound at once
}

struct Sound {
    enum class Kind { Pcm, Midi };

    explicit Sound(Kind k) : kind(k) {}
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // The PCM to play now: the full decode when it is there, else the head.
    const Mix_Chunk* current() const {
        const Mix_Chunk* f = full.load(std::memory_order_acquire);
        return f ? f : head;
    }
    bool isComplete() const { return complete.load(std::memory_order_acquire); }
    // Length known so far, in seconds.
    double seconds() const;
    // Memory held, in bytes.
    size_t bytes() const;

    const Kind kind;
    Mix_Chunk* head = nullptr;
    std::atomic<Mix_Chunk*> full{nullptr};
    std::atomic<bool> complete{false};

    QByteArray midi;
    double midiSeconds = 0;
};

}  // namespace mci
