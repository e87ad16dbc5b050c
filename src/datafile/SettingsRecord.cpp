#include "datafile/SettingsRecord.h"

#include "platform/CodePage932.h"

namespace {

void put16(QByteArray& out, uint16_t v) {
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void put32(QByteArray& out, uint32_t v) {
    put16(out, uint16_t(v & 0xFFFF));
    put16(out, uint16_t(v >> 16));
}

// Reads little-endian values and counted strings, refusing to go past the end.
class Reader {
public:
    Reader(const unsigned char* data, size_t size) : p_(data), left_(size) {}

    bool u16(uint16_t& v) {
        if (left_ < 2) return false;
        v = uint16_t(p_[0] | p_[1] << 8);
        advance(2);
        return true;
    }
    bool i16(int16_t& v) {
        uint16_t u = 0;
        if (!u16(u)) return false;
        v = int16_t(u);
        return true;
    }
    bool u32(uint32_t& v) {
        uint16_t lo = 0, hi = 0;
        if (!u16(lo) || !u16(hi)) return false;
        v = uint32_t(lo) | uint32_t(hi) << 16;
        return true;
    }
    bool text(QString& v) {
        uint16_t count = 0;
        if (!u16(count) || left_ < count) return false;
        v = count ? cp932::toUnicode(QByteArray(reinterpret_cast<const char*>(p_), count)) : QString();
        advance(count);
        return true;
    }
    size_t used(size_t size) const { return size - left_; }

private:
    void advance(size_t n) {
        p_ += n;
        left_ -= n;
    }
    const unsigned char* p_;
    size_t left_;
};

}  // namespace

std::optional<QByteArray> encodePath(const QString& path, PathProblem* problem) {
    std::optional<QByteArray> bytes = cp932::fromUnicodeExact(path);
    PathProblem found = PathProblem::None;
    if (!bytes) found = PathProblem::Unrepresentable;
    else if (bytes->size() > MaxStoredPathBytes) found = PathProblem::TooLong;
    if (problem) *problem = found;
    if (found != PathProblem::None) return std::nullopt;
    return bytes;
}

std::optional<QByteArray> encodeRecord(const SettingsRecord& r) {
    QByteArray out;
    out.reserve(MinRecordSize);
    put16(out, uint16_t(r.WindowWidth));
    put16(out, uint16_t(r.WindowHeight));
    put32(out, r.BackgroundColor);
    put16(out, uint16_t(r.AreaLeft));
    put16(out, uint16_t(r.AreaTop));
    put16(out, uint16_t(r.AreaWidth));
    put16(out, uint16_t(r.AreaHeight));
    for (const QString* path : {&r.UnpressedImagePath, &r.PressedImagePath, &r.SoundPath}) {
        const std::optional<QByteArray> bytes = encodePath(*path);
        if (!bytes) return std::nullopt;
        put16(out, uint16_t(bytes->size()));
        out.append(*bytes);
    }
    put16(out, uint16_t(r.AlwaysOnTop));
    return out;
}

std::optional<SettingsRecord> decodeRecord(const char* data, size_t size, size_t* used) {
    Reader in(reinterpret_cast<const unsigned char*>(data), data ? size : 0);
    SettingsRecord r;
    const bool complete = in.i16(r.WindowWidth) && in.i16(r.WindowHeight) && in.u32(r.BackgroundColor) &&
                          in.i16(r.AreaLeft) && in.i16(r.AreaTop) && in.i16(r.AreaWidth) &&
                          in.i16(r.AreaHeight) && in.text(r.UnpressedImagePath) && in.text(r.PressedImagePath) &&
                          in.text(r.SoundPath) && in.i16(r.AlwaysOnTop);
    if (!complete) return std::nullopt;
    if (used) *used = in.used(size);
    return r;
}

std::optional<SettingsRecord> decodeRecord(const QByteArray& bytes, size_t* used) {
    return decodeRecord(bytes.constData(), size_t(bytes.size()), used);
}
