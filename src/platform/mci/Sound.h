#pragma once
// One decoded sound file, shared by the cache and every alias playing it.
//
// PCM (WAV, MP3) is held in the mixer's device format, at `data`. A WAV is
// converted whole while opening (SDL_mixer's chunk owns the samples). An MP3
// is decoded into `buffer` progressively: its first second while opening,
// the rest by the background decoder while it already plays. `available`
// grows as samples arrive and `complete` is set when no more will come. The
// decoder writes samples before it publishes `available` (release) and the
// audio thread reads `complete`, then `available` (acquire), then the
// samples below it, so it never reads a sample being written.
//
// MIDI is kept as the file's bytes; FluidSynth renders it while it plays.
#include <QByteArray>

#include <SDL_mixer.h>

#include <atomic>
#include <cstddef>
#include <memory>

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

    bool isComplete() const { return complete.load(std::memory_order_acquire); }
    // Length known so far, in seconds.
    double seconds() const;
    // Memory held, in bytes.
    size_t bytes() const;

    const Kind kind;

    Mix_Chunk* chunk = nullptr;            // WAV
    std::unique_ptr<Uint8[]> buffer;       // MP3
    const Uint8* data = nullptr;
    size_t capacity = 0;
    std::atomic<size_t> available{0};
    std::atomic<bool> complete{false};
    // Where play starts: an MP3 decoder's leading digital silence is skipped,
    // so the press is heard a few milliseconds sooner.
    size_t startByte = 0;

    QByteArray midi;
    double midiSeconds = 0;
};

}  // namespace mci
