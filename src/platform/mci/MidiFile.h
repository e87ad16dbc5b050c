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
std::optional<MidiInfo> inspectMidi(const QByteArray& bytes);

}  // namespace mci
