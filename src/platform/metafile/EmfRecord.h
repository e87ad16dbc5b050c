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

// Record types.
enum RecordType : quint32 {
    EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5, EMR_POLYLINETO = 6,
    EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9, EMR_SETWINDOWORGEX = 10,
    EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_SETBRUSHORGEX = 13, EMR_EOF = 14,
    EMR_SETPIXELV = 15, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18, EMR_SETPOLYFILLMODE = 19, EMR_SETROP2 = 20,
    EMR_SETTEXTALIGN = 22, EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_OFFSETCLIPRGN = 26,
    EMR_MOVETOEX = 27, EMR_SETMETARGN = 28, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30, EMR_SCALEVIEWPORTEXTEX = 31,
    EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35,
    EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38, EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40, EMR_ANGLEARC = 41, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44,
    EMR_ARC = 45, EMR_CHORD = 46, EMR_PIE = 47, EMR_SELECTPALETTE = 48, EMR_CREATEPALETTE = 49,
    EMR_SETPALETTEENTRIES = 50, EMR_RESIZEPALETTE = 51, EMR_LINETO = 54, EMR_ARCTO = 55,
    EMR_SETARCDIRECTION = 57, EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59, EMR_ENDPATH = 60,
    EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62, EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64,
    EMR_FLATTENPATH = 65, EMR_WIDENPATH = 66, EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68,
    EMR_GDICOMMENT = 70, EMR_FILLRGN = 71, EMR_FRAMERGN = 72, EMR_INVERTRGN = 73, EMR_PAINTRGN = 74,
    EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76, EMR_STRETCHBLT = 77, EMR_MASKBLT = 78, EMR_PLGBLT = 79,
    EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84, EMR_POLYTEXTOUTA = 96, EMR_POLYTEXTOUTW = 97, EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86,
    EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88, EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90,
    EMR_POLYPOLYGON16 = 91, EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT = 94,
    EMR_EXTCREATEPEN = 95, EMR_POLYDRAW = 56, EMR_POLYDRAW16 = 92, EMR_SMALLTEXTOUT = 108, EMR_ALPHABLEND = 114, EMR_TRANSPARENTBLT = 116,
    EMR_GRADIENTFILL = 118,
};

// The readers are forced inline: they are a few instructions each, called for
// every field of every record, and the record switch is large enough that the
// compiler would otherwise stop inlining them there.
#define EMF_READER [[gnu::always_inline]]

class Record {
public:
    Record(const uchar* data, quint32 size, quint32 type) : p_(data), size_(size), type_(type) {}

    quint32 type() const { return type_; }
    quint32 size() const { return size_; }
    const uchar* data() const { return p_; }

    // True when `count` bytes starting at `offset` lie inside the record.
    EMF_READER bool has(quint64 offset, quint64 count) const { return offset <= size_ && count <= size_ - offset; }
    // True when `count` items of `itemBytes` each, starting at `offset`, lie inside.
    bool hasArray(quint64 offset, quint64 count, quint64 itemBytes) const {
        if (offset > size_) return false;
        return itemBytes == 0 || count <= (size_ - offset) / itemBytes;
    }

    EMF_READER quint32 u32(quint32 off) const { return has(off, 4) ? qFromLittleEndian<quint32>(p_ + off) : 0; }
    EMF_READER qint32 i32(quint32 off) const { return has(off, 4) ? qFromLittleEndian<qint32>(p_ + off) : 0; }
    EMF_READER quint16 u16(quint32 off) const { return has(off, 2) ? qFromLittleEndian<quint16>(p_ + off) : 0; }
    EMF_READER qint16 i16(quint32 off) const { return has(off, 2) ? qFromLittleEndian<qint16>(p_ + off) : 0; }
    EMF_READER quint8 u8(quint32 off) const { return has(off, 1) ? p_[off] : 0; }
    float f32(quint32 off) const {
        const quint32 bits = u32(off);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    EMF_READER QPointF pointL(quint32 off) const { return QPointF(i32(off), i32(off + 4)); }
    EMF_READER QPointF pointS(quint32 off) const { return QPointF(i16(off), i16(off + 2)); }
    // RECTL: left, top, right, bottom.
    EMF_READER QRectF rectL(quint32 off) const {
        return QRectF(QPointF(i32(off), i32(off + 4)), QPointF(i32(off + 8), i32(off + 12)));
    }

private:
#undef EMF_READER
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
