#pragma once
#include "platform/mci/Voice.h"

#include <vector>

typedef struct _fluid_synth_t fluid_synth_t;

namespace mci {

class MidiSynthPool;

// MIDI: the file's events, read when it was opened, handed to a synthesiser
// from the pool at their frames while it renders period by period, so a long
// file starts as fast as a short one and nothing is parsed on the audio
// thread.
//
// The sound ends by the file's clock, not the synthesiser's: once the last
// event has played, notes get a short release tail and are then faded and
// silenced, even a held note that never got its note-off. A limiter keeps
// dense passages under full scale.
class MidiVoice final : public Voice {
public:
    // Null when the pool cannot make a synthesiser (no soundfont).
    static std::unique_ptr<MidiVoice> create(std::shared_ptr<Sound> sound, MidiSynthPool& pool);
    ~MidiVoice() override;
    void render(Uint8* stream, int len) override;
    int seek(uint32_t ms) override;
    int resume() override;

    // How long notes may ring on after the file's last event.
    static constexpr int TailFrames = 44100;
    // The last part of the tail fades out, so a cut note does not click.
    static constexpr int FadeFrames = 44100 / 20;
    // The limiter's ceiling (of full scale).
    static constexpr float Ceiling = 0.89f;  // -1 dBFS
    // Below this level (-60 dBFS) a dying note is no longer heard.
    static constexpr float QuietLevel = 0.001f;

private:
    MidiVoice(std::shared_ptr<Sound> sound, MidiSynthPool& pool, fluid_synth_t* synth);
    // Sends the synthesiser every event due at the current frame; returns
    // the frame of the next one still to come.
    int64_t sendDueEvents();
    // Limits, fades and converts `frames` rendered frames into `out`.
    void finish(const float* in, int16_t* out, int frames);

    MidiSynthPool& pool_;
    fluid_synth_t* synth_;
    bool started_ = false;  // positioned at the start at least once
    size_t nextEvent_ = 0, nextSysex_ = 0;
    int64_t played_ = 0;    // frames rendered since the start
    int64_t lastEvent_ = 0; // frame of the file's last event
    float envelope_ = 0;    // the limiter's peak follower
    float peak_ = 0;        // largest level of the period being rendered
    std::vector<float> scratch_;
};

}  // namespace mci
