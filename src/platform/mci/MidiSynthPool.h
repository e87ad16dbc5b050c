#pragma once
// FluidSynth synthesisers with the General MIDI soundfont loaded. Loading the
// soundfont is the slow part of playing MIDI, so it happens once per
// synthesiser and synthesisers are handed back here when an alias closes,
// ready for the next open. One synthesiser serves one playing alias.
//
// Every sample of the soundfont is read into memory while the synthesiser
// is made (about 6 MB for the General MIDI set, some 50 ms): a synthesiser
// that loaded samples on demand would read them from disk inside the audio
// callback the first time a file used an instrument, and again after every
// reset.
#include <QString>

#include <atomic>
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

    // Reads from soundfont files since the program started: nothing may
    // read while a MIDI voice plays (the audio thread must not wait on a disk).
    static long soundfontReads() { return reads_.load(); }

    // Output gain. At 1.0 one sustained string note of this soundfont already
    // clips, and a piano, bass and drums piece peaks near -3 dBFS; at 0.6 a
    // piano note peaks near -19 dBFS and such a piece near -7 dBFS. Louder
    // passages (string and organ chords) are held under full scale by the
    // voice's limiter.
    static constexpr double Gain = 0.6;

private:
    fluid_synth_t* create();

    QString soundfont_;
    fluid_settings_t* settings_ = nullptr;
    std::vector<fluid_synth_t*> free_;
    bool soundfontMissing_ = false;
    static std::atomic<long> reads_;
    friend struct SoundfontFile;
};

}  // namespace mci
