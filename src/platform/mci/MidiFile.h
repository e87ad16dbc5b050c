#pragma once
// Checks that bytes are a Standard MIDI File before FluidSynth sees them, and
// works out how long the file plays. FluidSynth's own loader accepts broken
// files and plays whatever it makes of them; we refuse them instead, so a
// garbage or truncated file fails to open rather than playing noise or nothing.
#include <QByteArray>

#include <optional>

namespace mci {

struct MidiInfo {
    double seconds = 0;  // from the first event to the last, tempo changes applied
    int tracks = 0;
};

// Nothing when the bytes are not a well-formed Standard MIDI File: header
// chunk, every chunk length inside the file, as many track chunks as the
// header announces, and every event in every track complete.
// A RIFF MIDI file (RMID) is inspected by the Standard MIDI File it wraps.
std::optional<MidiInfo> inspectMidi(const QByteArray& bytes);

// True when the file starts as a RIFF MIDI file ("RIFF", size, "RMID").
bool isRiffMidi(const QByteArray& start);
// The Standard MIDI File inside a RIFF MIDI file (its "data" chunk), or the
// bytes themselves when they are not wrapped. Empty when the wrapper is
// broken. The result may point into `bytes`.
QByteArray unwrapRiffMidi(const QByteArray& bytes);

}  // namespace mci
