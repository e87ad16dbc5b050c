#pragma once
// Bounds-checked view of one EMF record. Every read names its offset from the
// start of the record; a read past the record's end gives zero, and handlers
// check `has()` first so that a short record is skipped rather than half-read.
#include <QPointF>
#include <QRectF>
#include <QTransform>
#include <QtEndian>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace metafile::emf {

class Record {
public:
    Record(const uchar* data, quint32 size, quint32 type) : p_(data), size_(size), type_(type) {}

    quint32 type() const { return type_; }
    quint32 size() const { return size_; }
    const uchar* data() const { return p_; }

    // True when `count` bytes starting at `offset` lie inside the record.
    bool has(quint64 offset, quint64 count) const { return offset <= size_ && count <= size_ - offset; }
    // True when `count` items of `itemBytes` each, starting at `offset`, lie inside.
    bool hasArray(quint64 offset, quint64 count, quint64 itemBytes) const {
        if (offset > size_) return false;
        return itemBytes == 0 || count <= (size_ - offset) / itemBytes;
    }

    quint32 u32(quint32 off) const { return has(off, 4) ? qFromLittleEndian<quint32>(p_ + off) : 0; }
    qint32 i32(quint32 off) const { return has(off, 4) ? qFromLittleEndian<qint32>(p_ + off) : 0; }
    quint16 u16(quint32 off) const { return has(off, 2) ? qFromLittleEndian<quint16>(p_ + off) : 0; }
    qint16 i16(quint32 off) const { return has(off, 2) ? qFromLittleEndian<qint16>(p_ + off) : 0; }
    quint8 u8(quint32 off) const { return has(off, 1) ? p_[off] : 0; }
    float f32(quint32 off) const {
        const quint32 bits = u32(off);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    QPointF pointL(quint32 off) const { return QPointF(i32(off), i32(off + 4)); }
    QPointF pointS(quint32 off) const { return QPointF(i16(off), i16(off + 2)); }
    // RECTL: left, top, right, bottom.
    QRectF rectL(quint32 off) const {
        return QRectF(QPointF(i32(off), i32(off + 4)), QPointF(i32(off + 8), i32(off + 12)));
    }

private:
    const uchar* p_;
    quint32 size_;
    quint32 type_;
};

inline bool finite(double v) { return std::isfinite(v); }
// std::clamp that also turns NaN into 0.
inline double clampd(double v, double lo, double hi) { return std::isnan(v) ? 0 : std::clamp(v, lo, hi); }
inline bool finiteTransform(const QTransform& t) {
    return finite(t.m11()) && finite(t.m12()) && finite(t.m21()) && finite(t.m22()) && finite(t.dx()) &&
           finite(t.dy());
}

}  // namespace metafile::emf
