#include "MidiMaker.h"

#include <QtEndian>

#include <cmath>

namespace midimaker {
namespace {

void appendVlq(QByteArray& b, uint32_t v) {
    char bytes[5];
    int n = 0;
    bytes[n++] = char(v & 0x7F);
    while (v >>= 7) bytes[n++] = char((v & 0x7F) | 0x80);
    while (n) b.append(bytes[--n]);
}

void append32(QByteArray& b, uint32_t v, bool bigEndian) {
    char raw[4];
    if (bigEndian) qToBigEndian(v, raw);
    else qToLittleEndian(v, raw);
    b.append(raw, 4);
}

}  // namespace

QByteArray chord(int program, const QList<int>& keys, double seconds, bool release) {
    const auto ticks = uint32_t(std::lround(seconds / 0.5 * 480));
    QByteArray track;
    appendVlq(track, 0);
    track.append("\xFF\x51\x03\x07\xA1\x20", 6);  // 500000 µs per quarter
    appendVlq(track, 0);
    track.append('\xC0').append(char(program));
    for (int key : keys) {
        appendVlq(track, 0);
        track.append('\x90').append(char(key)).append('\x7F');
    }
    uint32_t delta = ticks;
    if (release) {
        for (int key : keys) {
            appendVlq(track, delta);
            track.append('\x80').append(char(key)).append('\x40');
            delta = 0;
        }
    }
    appendVlq(track, delta);
    track.append("\xFF\x2F\x00", 3);

    QByteArray smf("MThd");
    append32(smf, 6, true);
    smf.append("\x00\x00\x00\x01\x01\xE0", 6);  // format 0, one track, 480 ticks
    smf.append("MTrk");
    append32(smf, uint32_t(track.size()), true);
    return smf + track;
}

QByteArray rmid(const QByteArray& smf) {
    QByteArray data("data");
    append32(data, uint32_t(smf.size()), false);
    data += smf;
    if (smf.size() % 2) data.append('\0');
    QByteArray riff("RIFF");
    append32(riff, uint32_t(4 + data.size()), false);
    return riff + "RMID" + data;
}

}  // namespace midimaker
