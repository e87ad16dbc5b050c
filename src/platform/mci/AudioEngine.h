#pragma once
// The mixer device and its channels. Each open alias owns one channel, which
// loops a buffer of silence while it plays; the alias's Voice is registered
// as the channel's effect and writes the real audio over that silence. That
// lets long sounds be rendered period by period (MIDI, MP3 still decoding)
// instead of handing the mixer a finished chunk.
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
    // Halts every channel, closes the device and SDL's audio.
    void close();

    // A free channel, or -1.
    int allocateChannel();
    void freeChannel(int channel);

    // Starts `voice` on `channel` (halting what played there). The voice must
    // be positioned already.
    void start(int channel, Voice* voice);
    // Halts the channel; once this returns the audio thread no longer touches
    // the voice that played there.
    void halt(int channel);
    bool isPlaying(int channel, const Voice* voice) const;

    // Most channels (aliases open at once).
    static constexpr int MaxChannels = 256;

private:
    bool open_ = false;
    bool sdlAudio_ = false;
    int channelCount_ = 0;
    std::vector<bool> used_;
};

}  // namespace mci
