#pragma once
// What one open alias plays. The mixer calls render() on the audio thread for
// every period while the alias's channel plays; everything else is called on
// the caller's thread while the channel is halted, so the two never overlap
// (the engine halts the channel, which takes the mixer's lock, before it
// touches a voice).
#include <SDL_stdinc.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace mci {

struct Sound;
class BackgroundDecoder;
class PcmStream;

class Voice {
public:
    virtual ~Voice() = default;
    // Fills `len` bytes of device-format audio (the buffer holds silence).
    virtual void render(Uint8* stream, int len) = 0;
    // Sets the position for the next play; returns 0 or an error number.
    virtual int seek(uint32_t ms) = 0;
    // Prepares to continue from where it stopped (play without "from").
    virtual int resume() = 0;

    const std::shared_ptr<Sound>& sound() const { return sound_; }
    bool finished() const { return finished_.load(std::memory_order_acquire); }

protected:
    explicit Voice(std::shared_ptr<Sound> sound) : sound_(std::move(sound)) {}
    std::shared_ptr<Sound> sound_;
    std::atomic<bool> finished_{false};
};

// WAV and MP3: the sound's decoded head from memory, then the rest from a
// stream the background reader fills from the file. A press therefore mixes
// at once, and a repeated press replays the head while a new stream seeks
// back into the file behind it.
//
// finished() turns true in the period that plays the last frame of the
// sound: the end of the head for a sound that fits in it, else the end of
// the stream. A stream that fails (file truncated or unreadable) ends after
// a short fade; a reader that delivers nothing for StallFrames (a disk that
// hangs) ends the sound too, so nothing waits on a dead file forever.
// Frames the reader is late with are silence, and the position holds; after
// such a gap, and when play starts beyond the head, the voice waits until
// PrerollFrames are buffered, so a struggling disk gives one gap, not a
// stutter.
class PcmVoice final : public Voice {
public:
    PcmVoice(std::shared_ptr<Sound> sound, BackgroundDecoder& reader);
    ~PcmVoice() override;
    void render(Uint8* stream, int len) override;
    int seek(uint32_t ms) override;
    int resume() override;

    // Device frames into the sound of the next frame to play (from the
    // file's first decoded frame, before the skipped leading silence).
    int64_t positionFrames() const { return reported_.load(std::memory_order_acquire); }

    static constexpr int64_t StallFrames = 5 * 44100;
    static constexpr int64_t PrerollFrames = 44100 / 5;

private:
    void startStream();
    void fadeHeadEnd(int16_t* out, int64_t from, long frames) const;

    BackgroundDecoder& reader_;
    std::shared_ptr<PcmStream> stream_;
    int64_t position_ = 0;
    int64_t starved_ = 0;  // frames of silence in a row while the reader was behind
    bool prerolling_ = false;
    std::atomic<int64_t> reported_{0};
};

}  // namespace mci
