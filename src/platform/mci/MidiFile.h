#pragma once
// Reads a Standard MIDI File into its events, timed in device frames, when
// the sound is opened: the audio thread only hands them to the synthesiser
// when their time comes, so even a file of megabytes starts without a gap.
// Broken files are refused (FluidSynth's own loader accepts them and plays
// whatever it makes of them), so a garbage or truncated file fails to open
// rather than playing noise or nothing. Both kinds of timing are read:
// ticks per quarter note with the tempo map, and SMPTE frames per second.
#include <QByteArray>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace mci {

struct MidiInfo {
    double seconds = 0;  // from the first event to the last, tempo changes applied
    int tracks = 0;
};

// A channel message (status 0x80-0xEF and its data bytes) at a device frame.
struct MidiEvent {
    uint32_t frame;
    uint8_t status, data1, data2;
};

struct MidiSong {
    MidiInfo info;
    std::vector<MidiEvent> events;  // in time order; at one time, in track order
    // System-exclusive messages (without F0 and the closing F7) at their frames.
    std::vector<std::pair<uint32_t, QByteArray>> sysex;
    size_t bytes() const;
};

// Nothing when the bytes are not a well-formed Standard MIDI File: header
// chunk, every chunk length inside the file, as many track chunks as the
// header announces, every event in every track complete, and a timing it
// knows. A RIFF MIDI file (RMID) is read by the Standard MIDI File it wraps.
std::optional<MidiSong> readMidi(const QByteArray& bytes);

// What readMidi finds, without the events.
std::optional<MidiInfo> inspectMidi(const QByteArray& bytes);

// True when the file starts as a RIFF MIDI file ("RIFF", size, "RMID").
bool isRiffMidi(const QByteArray& start);
// The Standard MIDI File inside a RIFF MIDI file (its "data" chunk), or the
// bytes themselves when they are not wrapped. Empty when the wrapper is
// broken. The result may point into `bytes`.
QByteArray unwrapRiffMidi(const QByteArray& bytes);

}  // namespace mci
