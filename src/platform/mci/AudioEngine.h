#pragma once
// The mixer device and its channels. Each open alias owns one channel, which
// loops a buffer of silence while it plays; the alias's Voice is registered
// as the channel's effect and writes the real audio over that silence. That
// lets long sounds be rendered period by period (MIDI, MP3 still decoding)
// instead of handing the mixer a finished chunk.
//
// The device can go away under a running program (a USB headset unplugged,
// the sound server restarted). isAlive() notices it: SDL stops the device
// when its driver reports the loss, and a device that stops asking for
// periods, once it has started, is as good as lost. The interpreter then
// reopens it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace mci {

class Voice;

class AudioEngine {
public:
    AudioEngine() = default;
    ~AudioEngine() { close(); }
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Opens the device (256-frame periods) if it is not open. False when
    // there is no usable audio device.
    bool open();
    bool isOpen() const { return open_; }
    // Halts every channel, closes the device and SDL's audio. Channels stay
    // allocated to their owners: after open() they are theirs again.
    void close();
    // Closes and opens the device again (a lost device, or a new default).
    // Closing a stalled device waits for its audio thread, which may hang in
    // its driver for a while.
    bool reopen();
    // Closed; open and mixing (or not started yet); given up by SDL (its
    // driver reported the loss: closing it is quick); or started and then
    // stopped asking for periods.
    enum class State { Closed, Alive, Lost, Stalled };
    State state() const;
    bool isAlive() const { return state() == State::Alive; }

    // A free channel, or -1.
    int allocateChannel();
    void freeChannel(int channel);

    // Starts `voice` on `channel` (halting what played there). The voice must
    // be positioned already. With `frames` >= 0 the channel stops by itself
    // after that many frames.
    void start(int channel, Voice* voice, int64_t frames = -1);
    // Halts the channel; once this returns the audio thread no longer touches
    // the voice that played there.
    void halt(int channel);
    // The channel plays, has not reached its end, and its voice has not finished.
    bool isPlaying(int channel, const Voice* voice) const;
    // Frames the channel has played since its last start.
    int64_t framesPlayed(int channel) const;

    // Most channels (aliases open at once).
    static constexpr int MaxChannels = 256;
    // A device that has mixed nothing for this long has stopped.
    static constexpr int StallMs = 500;

    // What the audio thread needs of one channel.
    struct Slot {
        Voice* voice = nullptr;
        std::atomic<int64_t> left{-1};  // frames to the end, -1: no end
        std::atomic<int64_t> played{0};
    };

private:
    Slot& slot(int channel);

    bool open_ = false;
    bool sdlAudio_ = false;
    uint32_t deviceId_ = 0;
    int channelCount_ = 0;
    std::vector<bool> used_;
    std::vector<std::unique_ptr<Slot>> slots_;  // by channel; never moved while registered
    std::atomic<int64_t> lastPeriodMs_{0};  // SDL ticks + 1 at the last mixed period; 0: none yet
};

// The device buffer asked for with an audio driver (SDL's driver name): the
// small period, or twice it where a sound server adds its own buffering.
int bufferFrames(const char* driver);

}  // namespace mci
