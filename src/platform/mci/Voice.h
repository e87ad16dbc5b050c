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

// WAV and MP3: copies decoded samples, following the background decode.
class PcmVoice final : public Voice {
public:
    explicit PcmVoice(std::shared_ptr<Sound> sound) : Voice(std::move(sound)) {}
    void render(Uint8* stream, int len) override;
    int seek(uint32_t ms) override;
    int resume() override;

private:
    size_t position_ = 0;  // bytes into the PCM
};

}  // namespace mci
