#include "platform/mci/MidiFile.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace mci {
namespace {

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }

class Reader {
public:
    Reader(const uint8_t* begin, const uint8_t* end) : p_(begin), end_(end) {}
    bool atEnd() const { return p_ >= end_; }
    std::optional<uint8_t> byte() {
        if (p_ >= end_) return std::nullopt;
        return *p_++;
    }
    // Variable-length quantity: at most four bytes, as the file format allows.
    std::optional<uint32_t> vlq() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const auto b = byte();
            if (!b) return std::nullopt;
            value = value << 7 | (*b & 0x7F);
            if (!(*b & 0x80)) return value;
        }
        return std::nullopt;
    }
    bool skip(uint32_t n) {
        if (uint64_t(end_ - p_) < n) return false;
        p_ += n;
        return true;
    }
    const uint8_t* pos() const { return p_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

struct TrackScan {
    uint64_t lastTick = 0;
};

// Walks one track's events; records tempo changes into `tempos` (tick -> µs
// per quarter note). False when an event is incomplete or malformed.
bool scanTrack(Reader r, TrackScan& scan, std::map<uint64_t, uint32_t>& tempos) {
    uint64_t tick = 0;
    uint8_t running = 0;
    while (!r.atEnd()) {
        const auto delta = r.vlq();
        if (!delta) return false;
        tick += *delta;
        auto status = r.byte();
        if (!status) return false;
        uint8_t first = 0;
        bool haveFirst = false;
        if (*status < 0x80) {
            // Running status: the byte is the first data byte.
            if (running == 0) return false;
            first = *status;
            haveFirst = true;
            status = running;
        }
        if (*status == 0xFF) {
            const auto type = r.byte();
            const auto length = r.vlq();
            if (!type || !length) return false;
            if (*type == 0x51 && *length == 3) {
                const uint8_t* p = r.pos();
                if (!r.skip(3)) return false;
                const uint32_t usPerQuarter = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                if (usPerQuarter == 0) return false;
                tempos[tick] = usPerQuarter;
            } else if (!r.skip(*length)) {
                return false;
            }
            scan.lastTick = std::max(scan.lastTick, tick);
            if (*type == 0x2F) return true;  // end of track; trailing bytes ignored
            running = 0;
            continue;
        }
        if (*status == 0xF0 || *status == 0xF7) {
            const auto length = r.vlq();
            if (!length || !r.skip(*length)) return false;
            running = 0;
            scan.lastTick = std::max(scan.lastTick, tick);
            continue;
        }
        if (*status >= 0xF1) return false;  // system common/real-time bytes have no place in a file
        running = *status;
        const int kind = *status >> 4;
        const int dataBytes = (kind == 0xC || kind == 0xD) ? 1 : 2;
        for (int i = 0; i < dataBytes; ++i) {
            uint8_t value;
            if (i == 0 && haveFirst) {
                value = first;
            } else {
                const auto b = r.byte();
                if (!b) return false;
                value = *b;
            }
            if (value & 0x80) return false;
        }
        scan.lastTick = std::max(scan.lastTick, tick);
    }
    return true;  // a missing end-of-track event is tolerated
}

}  // namespace

bool isRiffMidi(const QByteArray& start) { return start.size() >= 12 && start.startsWith("RIFF") && start.mid(8, 4) == "RMID"; }

QByteArray unwrapRiffMidi(const QByteArray& bytes) {
    if (!isRiffMidi(bytes)) return bytes;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const size_t size = size_t(bytes.size());
    // Chunks after the form type, each padded to an even length; the
    // "data" chunk holds the Standard MIDI File.
    size_t offset = 12;
    while (size - offset >= 8) {
        const uint32_t length = le32(data + offset + 4);
        if (length > size - offset - 8) return {};
        if (QByteArray::fromRawData(bytes.constData() + offset, 4) == "data")
            return QByteArray::fromRawData(bytes.constData() + offset + 8, qsizetype(length));
        offset += 8 + size_t(length) + (length & 1);
        if (offset > size) return {};
    }
    return {};
}

std::optional<MidiInfo> inspectMidi(const QByteArray& wrapped) {
    const QByteArray bytes = unwrapRiffMidi(wrapped);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const size_t size = size_t(bytes.size());
    if (size < 14 || bytes.left(4) != "MThd") return std::nullopt;
    const uint32_t headerLength = be32(data + 4);
    if (headerLength < 6 || headerLength > size - 8) return std::nullopt;
    const uint16_t format = be16(data + 8);
    const uint16_t trackCount = be16(data + 10);
    const uint16_t division = be16(data + 12);
    if (format > 2 || trackCount == 0 || division == 0) return std::nullopt;

    std::map<uint64_t, uint32_t> tempos;
    uint64_t lastTick = 0;
    int tracks = 0;
    size_t offset = 8 + size_t(headerLength);
    while (offset < size) {
        if (size - offset < 8) return std::nullopt;
        const uint32_t length = be32(data + offset + 4);
        if (length > size - offset - 8) return std::nullopt;  // truncated chunk
        if (QByteArray::fromRawData(bytes.constData() + offset, 4) == "MTrk") {
            TrackScan scan;
            const uint8_t* begin = data + offset + 8;
            if (!scanTrack(Reader(begin, begin + length), scan, tempos)) return std::nullopt;
            lastTick = std::max(lastTick, scan.lastTick);
            ++tracks;
        }
        offset += 8 + size_t(length);
    }
    if (tracks < trackCount) return std::nullopt;

    MidiInfo info;
    info.tracks = tracks;
    if (division & 0x8000) {
        // SMPTE time: frames per second times ticks per frame.
        const int fps = -int(int8_t(division >> 8));
        const int ticksPerFrame = division & 0xFF;
        if (fps <= 0 || ticksPerFrame == 0) return std::nullopt;
        info.seconds = double(lastTick) / (fps * ticksPerFrame);
        return info;
    }
    // Ticks per quarter note: integrate the tempo map (120 bpm until the first change).
    double seconds = 0;
    uint64_t tick = 0;
    uint32_t usPerQuarter = 500000;
    for (const auto& [at, tempo] : tempos) {
        if (at >= lastTick) break;
        seconds += double(at - tick) * usPerQuarter / 1e6 / division;
        tick = at;
        usPerQuarter = tempo;
    }
    seconds += double(lastTick - tick) * usPerQuarter / 1e6 / division;
    info.seconds = seconds;
    return info;
}

}  // namespace mci
