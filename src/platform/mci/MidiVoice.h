#pragma once
#include "platform/mci/Voice.h"

typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_player_t fluid_player_t;

namespace mci {

class MidiSynthPool;

// MIDI: a FluidSynth player driving a synthesiser from the pool, rendered
// period by period, so a long file starts as fast as a short one.
class MidiVoice final : public Voice {
public:
    // Null when the pool cannot make a synthesiser (no soundfont).
    static std::unique_ptr<MidiVoice> create(std::shared_ptr<Sound> sound, MidiSynthPool& pool);
    ~MidiVoice() override;
    void render(Uint8* stream, int len) override;
    int seek(uint32_t ms) override;
    int resume() override;

private:
    MidiVoice(std::shared_ptr<Sound> sound, MidiSynthPool& pool, fluid_synth_t* synth)
        : Voice(std::move(sound)), pool_(pool), synth_(synth) {}
    void dropPlayer();

    MidiSynthPool& pool_;
    fluid_synth_t* synth_;
    fluid_player_t* player_ = nullptr;
    int64_t tailFrames_ = 0;  // frames rendered since the player finished
};

}  // namespace mci
