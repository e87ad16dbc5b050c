#include "platform/mci/SoundLoader.h"

#include "platform/mci/MciErrors.h"
#include "platform/mci/MidiFile.h"
#include "platform/mci/PcmSource.h"
#include "platform/mci/Sound.h"

#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>

namespace mci {
namespace {

// The file, read at byte offsets; closed when it goes.
class File {
public:
    explicit File(const QByteArray& path) : fd_(openSoundFile(path)), stamp_(FileStamp::of(fd_)) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool isOpen() const { return fd_ >= 0; }
    int64_t size() const { return stamp_.size; }
    const FileStamp& stamp() const { return stamp_; }
    // Up to `length` bytes at `offset` (fewer at the end of the file).
    QByteArray read(int64_t offset, int64_t length) const {
        length = std::clamp<int64_t>(length, 0, std::max<int64_t>(0, size() - offset));
        QByteArray bytes(qsizetype(length), Qt::Uninitialized);
        int64_t got = 0;
        while (got < length) {
            const ssize_t n = ::pread(fd_, bytes.data() + got, size_t(length - got), off_t(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += n;
        }
        bytes.truncate(qsizetype(got));
        return bytes;
    }

private:
    int fd_;
    FileStamp stamp_;
};

uint32_t le32(const QByteArray& b, int at) {
    const auto* p = reinterpret_cast<const uint8_t*>(b.constData() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const QByteArray& b, int at) {
    const auto* p = reinterpret_cast<const uint8_t*>(b.constData() + at);
    return uint16_t(p[0] | p[1] << 8);
}

// The length of the MPEG audio frame whose header is at `p`, or 0 when the
// four bytes are not a valid header. `sameStream` (when given) must be a
// header of the same version, layer and rate.
int mpegFrameLength(const uint8_t* p, const uint8_t* sameStream = nullptr) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    const int version = (p[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layer = (p[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
    if (sameStream && ((p[1] ^ sameStream[1]) & 0x1E || (p[2] ^ sameStream[2]) & 0x0C)) return 0;
    static const int kbps[2][3][16] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
    static const int rates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int rate = rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int bitrate = kbps[mpeg1 ? 0 : 1][3 - layer] [bitrateIndex] * 1000;
    const int padding = (p[2] >> 1) & 1;
    if (layer == 3) return (12 * bitrate / rate + padding) * 4;
    return (layer == 1 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
}

// The offset of the first MPEG audio frame in `bytes` at or after `from`:
// one at `from` itself counts if it is valid (a file may hold a single
// frame), anywhere later it must be followed by a second frame of the same
// stream, so stray 0xFF bytes in junk are not taken for audio.
std::optional<int64_t> findMpegFrames(const QByteArray& bytes, int64_t from) {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.constData());
    const int64_t size = bytes.size();
    for (int64_t at = from; at + 4 <= size; ++at) {
        if (b[at] != 0xFF) continue;
        const int length = mpegFrameLength(b + at);
        if (length <= 0) continue;
        if (at + length + 4 <= size ? mpegFrameLength(b + at + length, b + at) > 0 : at == from) return at;
    }
    return std::nullopt;
}

// Where an ID3v2 tag at `at` ends, or `at` when there is none there.
int64_t skipId3(const File& file, int64_t at) {
    const QByteArray h = file.read(at, 10);
    if (h.size() < 10 || !h.startsWith("ID3")) return at;
    int64_t size = 0;
    for (int i = 6; i < 10; ++i) size = size << 7 | (uint8_t(h[i]) & 0x7F);
    const bool footer = uint8_t(h[5]) & 0x10;
    return at + 10 + size + (footer ? 10 : 0);
}

std::optional<SourceSpec> sniffMp3(const File& file, const QByteArray& path) {
    int64_t at = 0;
    for (int tags = 0; tags < 4; ++tags) {  // tags may be chained
        const int64_t next = skipId3(file, at);
        if (next == at) break;
        at = next;
    }
    // Most files start with their frames: a small read finds them.
    std::optional<int64_t> frame = findMpegFrames(file.read(at, 8192), 0);
    // Else through the junk a piece at a time; the pieces overlap by more
    // than the longest frame, so a frame and the next are seen together.
    constexpr int64_t Piece = 256 * 1024, Overlap = 8192;
    for (int64_t from = 0; !frame && from < Mp3SyncSearchBytes && at + from + Overlap < file.size(); from += Piece - Overlap) {
        frame = findMpegFrames(file.read(at + from, Piece), 0);
        if (frame) *frame += from;
    }
    if (!frame) return std::nullopt;
    SourceSpec spec;
    spec.codec = SourceSpec::Codec::Mp3;
    spec.path = path;
    spec.stamp = file.stamp();
    spec.begin = at + *frame;
    spec.end = file.size();
    return spec;
}

// The predictors of MS ADPCM, for a format chunk that leaves them out.
constexpr int16_t StandardMsCoefficients[14] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};

// Reads the RIFF chunks for the format and the data; fills `spec`. False
// when the file is no WAV that can be played.
bool parseWav(const File& file, const QByteArray& path, SourceSpec& spec) {
    spec.path = path;
    spec.stamp = file.stamp();
    bool haveFormat = false, haveData = false;
    int64_t at = 12;
    for (int chunks = 0; chunks < 4096 && !(haveFormat && haveData) && at + 8 <= file.size(); ++chunks) {
        const QByteArray header = file.read(at, 8);
        if (header.size() < 8) break;
        const int64_t size = le32(header, 4);
        if (header.startsWith("fmt ") && size >= 16) {
            const QByteArray f = file.read(at + 8, std::min<int64_t>(size, 22 + 4 * 256));
            if (f.size() < 16) return false;
            spec.formatTag = le16(f, 0);
            spec.channels = le16(f, 2);
            spec.rate = int(std::min<uint32_t>(le32(f, 4), 1u << 30));
            spec.blockAlign = le16(f, 12);
            spec.bitsPerSample = le16(f, 14);
            // WAVE_FORMAT_EXTENSIBLE: the real tag opens the subformat GUID.
            if (spec.formatTag == 0xFFFE && f.size() >= 26) spec.formatTag = le16(f, 24);
            if (spec.formatTag == 2 && f.size() >= 22)
                for (int i = 0; i < le16(f, 20) && 22 + 4 * i + 4 <= f.size(); ++i)
                    spec.coefficients.insert(spec.coefficients.end(), {int16_t(le16(f, 22 + 4 * i)), int16_t(le16(f, 24 + 4 * i))});
            haveFormat = true;
        } else if (header.startsWith("data")) {
            spec.begin = at + 8;
            // A header written before the length was known can claim more
            // than the file holds, or nothing at all (a recording that never
            // finished): the file is what plays.
            spec.end = size == 0 ? file.size() : std::min(spec.begin + size, file.size());
            haveData = true;
        }
        at += 8 + size + (size & 1);
    }
    if (!haveFormat || !haveData) return false;
    if (spec.formatTag == 0x55) {
        spec.codec = SourceSpec::Codec::Mp3;
        return true;
    }
    spec.codec = SourceSpec::Codec::Wav;
    if (spec.channels < 1 || spec.channels > 8 || spec.rate < 1000 || spec.rate > 384000) return false;
    const int bits = spec.bitsPerSample;
    if (spec.formatTag == 2 || spec.formatTag == 0x11) {
        // ADPCM: blocks of blockAlign bytes, each a header and 4-bit codes.
        const int header = (spec.formatTag == 2 ? 7 : 4) * spec.channels;
        if (bits != 4 || spec.blockAlign <= header) return false;
        if (spec.formatTag == 2 && spec.coefficients.empty())
            spec.coefficients.assign(std::begin(StandardMsCoefficients), std::end(StandardMsCoefficients));
        spec.samplesPerBlock = int(adpcmFrames(spec.formatTag, spec.channels, spec.blockAlign));
        return true;
    }
    const bool known = (spec.formatTag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
                       (spec.formatTag == 3 && (bits == 32 || bits == 64)) ||
                       ((spec.formatTag == 6 || spec.formatTag == 7) && bits == 8);
    if (!known || spec.blockAlign != spec.channels * bits / 8) return false;
    spec.end = spec.begin + (spec.end - spec.begin) / spec.blockAlign * spec.blockAlign;
    return true;
}

// Frames of digital silence an MP3 decoder puts before the music (its
// delay and the encoder's padding), at most about 50 ms.
int64_t leadingSilence(const std::vector<int16_t>& head) {
    const size_t limit = std::min(head.size(), size_t(device::Rate / 20) * device::Channels);
    size_t i = 0;
    while (i < limit && std::abs(head[i]) <= 2) ++i;
    return int64_t(i / device::Channels);
}

// Decodes the head from a fresh source and keeps the source for the first stream.
LoadResult loadPcm(const SourceSpec& spec) {
    std::unique_ptr<PcmSource> source = openSource(spec);
    if (!source) return {nullptr, mcierr::InvalidFile};
    auto sound = std::make_shared<Sound>(Sound::Kind::Pcm);
    sound->spec = spec;
    sound->head.resize(size_t(HeadFrames) * device::Channels);
    int64_t got = 0;
    bool ended = false;
    while (got < HeadFrames) {
        const long n = source->read(sound->head.data() + got * device::Channels, long(HeadFrames - got));
        if (n <= 0) {
            ended = true;
            break;
        }
        got += n;
    }
    if (got == 0) return {nullptr, mcierr::InvalidFile};
    if (source->framesExact() && source->position() >= source->frames()) ended = true;
    sound->head.resize(size_t(got) * device::Channels);
    sound->head.shrink_to_fit();
    sound->headFrames = got;
    if (spec.codec == SourceSpec::Codec::Mp3) sound->startFrame = leadingSilence(sound->head);
    if (ended) {
        sound->wholeInHead = true;
        sound->frames.store(got);
        sound->complete.store(true);
    } else {
        sound->frames.store(std::max(source->frames(), got));
        sound->complete.store(source->framesExact());
        sound->keepSpare(std::move(source));
    }
    return {sound, 0};
}

}  // namespace

LoadResult loadSound(const QString& path) {
    const QByteArray local = QFile::encodeName(path);
    const File file(local);
    if (!file.isOpen()) return {nullptr, mcierr::InvalidFile};
    const QByteArray start = file.read(0, 16);

    if (start.size() >= 12 && start.startsWith("RIFF") && start.mid(8, 4) == "WAVE") {
        SourceSpec spec;
        if (parseWav(file, local, spec)) return loadPcm(spec);
        return {nullptr, mcierr::InvalidFile};
    }
    if (start.startsWith("MThd") || isRiffMidi(start)) {
        if (file.size() > MaxMidiFileBytes) return {nullptr, mcierr::InvalidFile};
        std::optional<MidiSong> song = readMidi(file.read(0, file.size()));
        if (!song) return {nullptr, mcierr::InvalidFile};
        auto sound = std::make_shared<Sound>(Sound::Kind::Midi);
        sound->midiSeconds = song->info.seconds;
        sound->song = std::make_shared<const MidiSong>(std::move(*song));
        sound->complete.store(true);
        return {sound, 0};
    }
    if (const std::optional<SourceSpec> spec = sniffMp3(file, local)) return loadPcm(*spec);
    return {nullptr, mcierr::InvalidFile};
}

}  // namespace mci
