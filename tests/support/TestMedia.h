#pragma once
// Test media made on the spot, and a reader for what SDL's "disk" audio
// driver writes, so tests can hear what was played.
//
//   testmedia::writeToneWav(path, {{440, 0.5}});          // 0.5 s of 440 Hz
//   testmedia::writeMidi(path, 4, 0.25);                   // four 1/4 s notes
//   testmedia::makeMp3(path, 0.5);                         // via sox
//   auto out = testmedia::DiskAudio::read(diskFile, fromFrame);
//   out.firstLoudFrame();                                  // -1 when silent
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace testmedia {

struct Tone {
    double frequency;  // Hz; 0 is silence
    double seconds;
};

// A 16-bit PCM WAV of the tones one after another, at half full scale.
bool writeToneWav(const QString& path, const QList<Tone>& tones, int rate = 44100, int channels = 1);

// A format-0 Standard MIDI File: `notes` piano notes (C4 upwards), each
// `noteSeconds` long, at velocity 100, 480 ticks per quarter, 120 bpm.
QByteArray midiBytes(int notes = 4, double noteSeconds = 0.25);
bool writeMidi(const QString& path, int notes = 4, double noteSeconds = 0.25);

// An MP3 of a sine tone made by sox (`kbps` 0 leaves sox's default rate).
// False when sox is missing or fails.
bool makeMp3(const QString& path, double seconds, double frequency = 440, int kbps = 0);
// A sine tone at half scale made by sox in the output `format` given as sox
// options (for example {"-r", "8000", "-e", "u-law"}); the file's extension
// picks the container.
bool makeSoxTone(const QString& path, double seconds, const QStringList& format, double frequency = 440);

bool writeBytes(const QString& path, const QByteArray& bytes);

// Raw output of SDL's disk audio driver: interleaved signed 16-bit samples
// in the device's format (the service opens 44.1 kHz stereo).
class DiskAudio {
public:
    // Reads the file from frame `fromFrame` on.
    static DiskAudio read(const QString& path, qint64 fromFrame = 0, int channels = 2, int rate = 44100);
    // Frames written so far (a mark to read from later).
    static qint64 framesIn(const QString& path, int channels = 2);
    // The driver writes through a stdio buffer (about 1000 frames): `mark`
    // waits first so that what was mixed before the call is in the file;
    // `since` reads what was written from a mark on, once the driver has
    // flushed it.
    static qint64 mark(const QString& path);
    static DiskAudio since(const QString& path, qint64 from);

    qint64 frames() const { return qint64(samples_.size()) / channels_; }
    int rate() const { return rate_; }
    int16_t sample(qint64 frame, int channel = 0) const { return samples_[size_t(frame * channels_ + channel)]; }

    // First / last frame whose magnitude exceeds `threshold` on any channel,
    // relative to the read start; -1 when there is none.
    qint64 firstLoudFrame(int threshold = 300) const;
    qint64 lastLoudFrame(int threshold = 300) const;
    bool silent(int threshold = 300) const { return firstLoudFrame(threshold) < 0; }
    // Seconds from the first loud frame to the last; -1 when nothing is loud.
    double loudSeconds(int threshold = 300) const {
        return silent(threshold) ? -1 : double(lastLoudFrame(threshold) - firstLoudFrame(threshold)) / rate_;
    }
    // Largest magnitude (0..1 of full scale) in a frame range.
    double peak(qint64 from = 0, qint64 to = -1) const;
    // Frequency of channel 0 estimated from zero crossings in a frame range.
    double frequency(qint64 from, qint64 to) const;
    // Longest run of frames inside [from, to) with every sample's magnitude
    // under `threshold`: a gap or dropout in a tone.
    qint64 longestQuietRun(qint64 from, qint64 to, int threshold = 300) const;

private:
    std::vector<int16_t> samples_;
    int channels_ = 2;
    int rate_ = 44100;
};

}  // namespace testmedia
