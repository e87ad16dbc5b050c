#include "platform/mci/MidiFile.h"

#include "platform/mci/Sound.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <queue>
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

// An event of a track, by its tick; `sysex` >= 0 indexes the track's
// system-exclusive messages.
struct TimedEvent {
    uint64_t tick;
    uint8_t status, data1, data2;
    int sysex = -1;
};

struct TrackScan {
    uint64_t lastTick = 0;
    std::vector<TimedEvent> events;
    std::vector<QByteArray> sysex;
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
            const uint8_t* p = r.pos();
            if (!length || !r.skip(*length)) return false;
            // F0 starts a message the synthesiser takes; F7 escapes raw bytes.
            if (*status == 0xF0) {
                const uint32_t n = *length > 0 && p[*length - 1] == 0xF7 ? *length - 1 : *length;
                scan.events.push_back({tick, 0xF0, 0, 0, int(scan.sysex.size())});
                scan.sysex.push_back(QByteArray(reinterpret_cast<const char*>(p), qsizetype(n)));
            }
            running = 0;
            scan.lastTick = std::max(scan.lastTick, tick);
            continue;
        }
        if (*status >= 0xF1) return false;  // system common/real-time bytes have no place in a file
        running = *status;
        const int kind = *status >> 4;
        const int dataBytes = (kind == 0xC || kind == 0xD) ? 1 : 2;
        uint8_t data[2] = {0, 0};
        for (int i = 0; i < dataBytes; ++i) {
            if (i == 0 && haveFirst) {
                data[0] = first;
            } else {
                const auto b = r.byte();
                if (!b) return false;
                data[i] = *b;
            }
            if (data[i] & 0x80) return false;
        }
        scan.events.push_back({tick, *status, data[0], data[1]});
        scan.lastTick = std::max(scan.lastTick, tick);
    }
    return true;  // a missing end-of-track event is tolerated
}

// Seconds from the start at each tick, ticks asked for in rising order.
class Clock {
public:
    Clock(uint16_t division, const std::map<uint64_t, uint32_t>& tempos) : division_(division), tempos_(tempos) {
        if (division & 0x8000) {
            // SMPTE: frames per second (29 is 29.97 drop-frame) times ticks
            // per frame; tempo changes do not apply.
            const int fps = -int(int8_t(division >> 8));
            ticksPerSecond_ = (fps == 29 ? 29.97 : fps) * (division & 0xFF);
        }
        next_ = tempos_.begin();
    }
    bool valid() const {
        const int fps = -int(int8_t(division_ >> 8));
        return !(division_ & 0x8000) || ((fps == 24 || fps == 25 || fps == 29 || fps == 30) && (division_ & 0xFF) != 0);
    }
    double at(uint64_t tick) {
        if (ticksPerSecond_ > 0) return double(tick) / ticksPerSecond_;
        // Ticks per quarter note: integrate the tempo map (120 bpm until the first change).
        while (next_ != tempos_.end() && next_->first <= tick) {
            seconds_ += double(next_->first - tick_) * usPerQuarter_ / 1e6 / division_;
            tick_ = next_->first;
            usPerQuarter_ = next_->second;
            ++next_;
        }
        return seconds_ + double(tick - tick_) * usPerQuarter_ / 1e6 / division_;
    }

private:
    uint16_t division_;
    const std::map<uint64_t, uint32_t>& tempos_;
    std::map<uint64_t, uint32_t>::const_iterator next_;
    double ticksPerSecond_ = 0;
    double seconds_ = 0;
    uint64_t tick_ = 0;
    uint32_t usPerQuarter_ = 500000;
};

uint32_t frameAt(double seconds) { return uint32_t(std::min<double>(std::round(seconds * device::Rate), UINT32_MAX)); }

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

size_t MidiSong::bytes() const {
    size_t total = events.capacity() * sizeof(MidiEvent) + sysex.capacity() * sizeof(sysex[0]);
    for (const auto& message : sysex) total += size_t(message.second.size());
    return total;
}

std::optional<MidiInfo> inspectMidi(const QByteArray& bytes) {
    const std::optional<MidiSong> song = readMidi(bytes);
    if (!song) return std::nullopt;
    return song->info;
}

std::optional<MidiSong> readMidi(const QByteArray& wrapped) {
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
    std::vector<TrackScan> tracks;
    size_t offset = 8 + size_t(headerLength);
    while (offset < size) {
        if (size - offset < 8) return std::nullopt;
        const uint32_t length = be32(data + offset + 4);
        if (length > size - offset - 8) return std::nullopt;  // truncated chunk
        if (QByteArray::fromRawData(bytes.constData() + offset, 4) == "MTrk") {
            const uint8_t* begin = data + offset + 8;
            tracks.emplace_back();
            tracks.back().events.reserve(length / 3);  // an event takes three bytes or more, mostly
            if (!scanTrack(Reader(begin, begin + length), tracks.back(), tempos)) return std::nullopt;
        }
        offset += 8 + size_t(length);
    }
    if (tracks.size() < trackCount) return std::nullopt;
    Clock clock(division, tempos);
    if (!clock.valid()) return std::nullopt;

    // The tracks merged by time; at one tick the earlier track first.
    MidiSong song;
    song.info.tracks = int(tracks.size());
    uint64_t lastTick = 0;
    size_t count = 0;
    using Next = std::pair<uint64_t, size_t>;  // tick, track
    std::priority_queue<Next, std::vector<Next>, std::greater<>> queue;
    std::vector<size_t> at(tracks.size(), 0);
    for (size_t t = 0; t < tracks.size(); ++t) {
        lastTick = std::max(lastTick, tracks[t].lastTick);
        count += tracks[t].events.size();
        if (!tracks[t].events.empty()) queue.emplace(tracks[t].events[0].tick, t);
    }
    song.events.reserve(count);
    while (!queue.empty()) {
        const size_t t = queue.top().second;
        queue.pop();
        const TimedEvent& event = tracks[t].events[at[t]];
        const uint32_t frame = frameAt(clock.at(event.tick));
        if (event.sysex >= 0)
            song.sysex.emplace_back(frame, tracks[t].sysex[size_t(event.sysex)]);
        else
            song.events.push_back({frame, event.status, event.data1, event.data2});
        if (++at[t] < tracks[t].events.size()) queue.emplace(tracks[t].events[at[t]].tick, t);
        else std::vector<TimedEvent>().swap(tracks[t].events);  // done with it
    }
    song.info.seconds = clock.at(lastTick);
    return song;
}

}  // namespace mci
