#pragma once
// FluidSynth synthesisers with the General MIDI soundfont loaded. Loading the
// soundfont is the slow part of playing MIDI, so it happens once per
// synthesiser and synthesisers are handed back here when an alias closes,
// ready for the next open. One synthesiser serves one playing alias.
#include <QString>

#include <mutex>
#include <vector>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace mci {

class MidiSynthPool {
public:
    explicit MidiSynthPool(QString soundfont) : soundfont_(std::move(soundfont)) {}
    ~MidiSynthPool() { clear(); }
    MidiSynthPool(const MidiSynthPool&) = delete;
    MidiSynthPool& operator=(const MidiSynthPool&) = delete;

    // A free synthesiser, made if none is free; nullptr when the soundfont
    // cannot be loaded.
    fluid_synth_t* acquire();
    // Silences and resets it, and keeps it for the next acquire.
    void release(fluid_synth_t* synth);
    // Makes sure one synthesiser is ready. Cheap once done.
    bool prepare();
    // Deletes every free synthesiser (all must have been released).
    void clear();

    // Output gain. At FluidSynth's default (0.2) a piano, bass and drums
    // piece on this soundfont peaks at -17 dBFS; at 1.0 it peaks near -3 dBFS
    // like a normalised WAV, and 1.5 already clips.
    static constexpr double Gain = 1.0;

private:
    fluid_synth_t* create();

    QString soundfont_;
    fluid_settings_t* settings_ = nullptr;
    std::vector<fluid_synth_t*> free_;
    bool soundfontMissing_ = false;
};

}  // namespace mci
