#pragma once
// Standard MIDI Files for sound tests, beyond the piano melody of TestMedia.
//
//   midimaker::chord(48, {60, 64, 67}, 0.5, false);   // strings, never released
//   midimaker::rmid(smf);                             // the same in a RIFF wrapper
#include <QByteArray>
#include <QList>

namespace midimaker {

// A format-0 file, 480 ticks per quarter at 120 bpm: `program` (General MIDI,
// 0-based) plays `keys` together at full velocity on channel 0. The track ends
// `seconds` later, with note-offs first when `release` is true, or without
// them (the notes then never end by themselves). No keys: an empty piece.
QByteArray chord(int program, const QList<int>& keys, double seconds, bool release = true);

// `smf` wrapped as a RIFF MIDI file ("RIFF" size "RMID" "data" size smf).
QByteArray rmid(const QByteArray& smf);

}  // namespace midimaker
