#include "TestMedia.h"

#include "MidiMaker.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace testmedia {
namespace {

template <typename T>
void appendLe(QByteArray& b, T v) {
    char raw[sizeof v];
    qToLittleEndian(v, raw);
    b.append(raw, sizeof v);
}
void appendLe32(QByteArray& b, uint32_t v) { appendLe(b, v); }
void appendLe16(QByteArray& b, uint16_t v) { appendLe(b, v); }
void appendBe32(QByteArray& b, uint32_t v) { appendLe(b, qbswap(v)); }
void appendVlq(QByteArray& b, uint32_t v) {
    char bytes[5];
    int n = 0;
    bytes[n++] = char(v & 0x7F);
    while (v >>= 7) bytes[n++] = char((v & 0x7F) | 0x80);
    while (n) b.append(bytes[--n]);
}

qint64 clampEnd(qint64 to, qint64 frames) { return to < 0 || to > frames ? frames : to; }

// A track's events after a tempo of 120 bpm and `program`, ended `endDelta`
// ticks after the last: a format-0 file of 480 ticks per quarter.
QByteArray smf(int program, const QByteArray& events, uint32_t endDelta = 0) {
    QByteArray track("\x00\xFF\x51\x03\x07\xA1\x20\x00\xC0", 9);  // 500000 µs per quarter, then the program
    track.append(char(program)).append(events);
    appendVlq(track, endDelta);
    track.append("\xFF\x2F\x00", 3);
    QByteArray file("MThd");
    appendBe32(file, 6);
    file.append("\x00\x00\x00\x01\x01\xE0MTrk", 10);  // format 0, one track, 480 ticks
    appendBe32(file, uint32_t(track.size()));
    return file + track;
}
uint32_t ticks(double seconds) { return uint32_t(std::lround(seconds / 0.5 * 480)); }  // 120 bpm

}  // namespace

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool writeToneWav(const QString& path, const QList<Tone>& tones, int rate, int channels) {
    QByteArray pcm;
    double phase = 0;
    for (const Tone& tone : tones) {
        const qint64 frames = qint64(std::llround(tone.seconds * rate));
        for (qint64 i = 0; i < frames; ++i) {
            const auto value = int16_t(std::lround(16383 * std::sin(phase)));
            phase += 2 * std::numbers::pi * tone.frequency / rate;
            for (int c = 0; c < channels; ++c) appendLe16(pcm, uint16_t(value));
        }
    }
    QByteArray wav("RIFF");
    appendLe32(wav, uint32_t(36 + pcm.size()));
    wav.append("WAVEfmt ");
    // Chunk size; PCM and the channels; rate; bytes a second; bytes a frame and 16 bits a sample.
    for (uint32_t v : {16u, 1u | uint32_t(channels) << 16, uint32_t(rate), uint32_t(rate * channels * 2), uint32_t(channels * 2) | 16u << 16})
        appendLe32(wav, v);
    wav.append("data");
    appendLe32(wav, uint32_t(pcm.size()));
    wav.append(pcm);
    return writeBytes(path, wav);
}

QByteArray midiBytes(int notes, double noteSeconds) {
    QByteArray events;
    for (int i = 0; i < notes; ++i) {
        const char key = char(60 + (i % 12));
        events.append('\0').append('\x90').append(key).append('\x64');
        appendVlq(events, ticks(noteSeconds));
        events.append('\x80').append(key).append('\x40');
    }
    return smf(0, events);  // acoustic grand piano
}

bool writeMidi(const QString& path, int notes, double noteSeconds) { return writeBytes(path, midiBytes(notes, noteSeconds)); }

bool makeSoxTone(const QString& path, double seconds, const QStringList& format, double frequency) {
    if (QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty()) return false;
    QStringList args{QStringLiteral("-n")};
    args << format << path << QStringLiteral("synth") << QString::number(seconds) << QStringLiteral("sine")
         << QString::number(frequency) << QStringLiteral("vol") << QStringLiteral("0.5");
    QProcess sox;
    sox.start(QStringLiteral("sox"), args);
    // Ten minutes of MP3 take a while on a busy machine.
    return sox.waitForFinished(600000) && sox.exitStatus() == QProcess::NormalExit && sox.exitCode() == 0 &&
           QFile::exists(path);
}

bool makeMp3(const QString& path, double seconds, double frequency, int kbps) {
    QStringList format{QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("1")};
    if (kbps > 0) format << QStringLiteral("-C") << QString::number(kbps);
    return makeSoxTone(path, seconds, format, frequency);
}

qint64 DiskAudio::framesIn(const QString& path, int channels) { return QFile(path).size() / (2 * channels); }

qint64 DiskAudio::mark(const QString& path) {
    QThread::msleep(60);
    return framesIn(path);
}

DiskAudio DiskAudio::since(const QString& path, qint64 from) {
    QThread::msleep(150);
    return read(path, from);
}

DiskAudio DiskAudio::read(const QString& path, qint64 fromFrame, int channels, int rate) {
    DiskAudio audio;
    audio.channels_ = channels;
    audio.rate_ = rate;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(fromFrame * 2 * channels)) return audio;
    const QByteArray bytes = file.readAll();
    const qint64 frames = bytes.size() / (2 * channels);
    audio.samples_.resize(size_t(frames * channels));
    for (size_t i = 0; i < audio.samples_.size(); ++i)
        audio.samples_[i] = qFromLittleEndian<int16_t>(bytes.constData() + 2 * i);
    return audio;
}

qint64 DiskAudio::firstLoudFrame(int threshold) const {
    for (size_t i = 0; i < samples_.size(); ++i)
        if (std::abs(int(samples_[i])) > threshold) return qint64(i) / channels_;
    return -1;
}

qint64 DiskAudio::lastLoudFrame(int threshold) const {
    for (size_t i = samples_.size(); i-- > 0;)
        if (std::abs(int(samples_[i])) > threshold) return qint64(i) / channels_;
    return -1;
}

double DiskAudio::peak(qint64 from, qint64 to) const {
    to = clampEnd(to, frames());
    int best = 0;
    for (qint64 i = from * channels_; i < to * channels_; ++i) best = std::max(best, std::abs(int(samples_[size_t(i)])));
    return best / 32768.0;
}

double DiskAudio::frequency(qint64 from, qint64 to) const {
    to = clampEnd(to, frames());
    int crossings = 0;
    qint64 first = -1, last = -1;
    for (qint64 f = std::max<qint64>(from, 0) + 1; f < to; ++f) {
        if ((sample(f - 1) < 0) != (sample(f) < 0)) ++crossings, first = first < 0 ? f : first, last = f;
    }
    return crossings < 3 ? 0 : (crossings - 1) / 2.0 / (double(last - first) / rate_);
}

qint64 DiskAudio::longestQuietRun(qint64 from, qint64 to, int threshold) const {
    to = clampEnd(to, frames());
    qint64 best = 0, run = 0;
    for (qint64 f = std::max<qint64>(from, 0); f < to; ++f) {
        bool quiet = true;
        for (int c = 0; c < channels_; ++c) quiet = quiet && std::abs(int(sample(f, c))) < threshold;
        run = quiet ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

}  // namespace testmedia

namespace midimaker {

QByteArray chord(int program, const QList<int>& keys, double seconds, bool release) {
    QByteArray events;
    for (int key : keys) events.append('\0').append('\x90').append(char(key)).append('\x7F');
    uint32_t delta = testmedia::ticks(seconds);
    for (int key : release ? keys : QList<int>()) {
        testmedia::appendVlq(events, delta);
        events.append('\x80').append(char(key)).append('\x40');
        delta = 0;
    }
    return testmedia::smf(program, events, delta);
}

QByteArray rmid(const QByteArray& smf) {
    QByteArray data("data");
    testmedia::appendLe32(data, uint32_t(smf.size()));
    data += smf;
    if (smf.size() % 2) data.append('\0');
    QByteArray riff("RIFF");
    testmedia::appendLe32(riff, uint32_t(4 + data.size()));
    return riff + "RMID" + data;
}

}  // namespace midimaker
