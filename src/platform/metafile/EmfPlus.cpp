#include "platform/metafile/EmfPlus.h"

#include "platform/metafile/Fonts.h"
#include "platform/metafile/Gdi.h"
#include "platform/metafile/Metafile.h"
#include "platform/metafile/ShapedText.h"

#include <QGlyphRun>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QRawFont>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace metafile::emf {

namespace {

constexpr quint32 Signature = 0x2B464D45;  // "EMF+"
constexpr quint32 CommentRecord = 70, EofRecord = 14;
constexpr int MaxImageSide = 8192;
constexpr double Limit = 1e7;  // world coordinates past this are refused

enum : quint16 {
    Header = 0x4001, EndOfFile = 0x4002, GetDC = 0x4004, ObjectRecord = 0x4008, Clear = 0x4009,
    FillRects = 0x400A, DrawRects = 0x400B, FillPolygon = 0x400C, DrawLines = 0x400D, FillEllipse = 0x400E,
    DrawEllipse = 0x400F, FillPie = 0x4010, DrawPie = 0x4011, DrawArc = 0x4012, FillRegion = 0x4013,
    FillPath = 0x4014, DrawPath = 0x4015, FillClosedCurve = 0x4016, DrawClosedCurve = 0x4017, DrawCurve = 0x4018,
    DrawBeziers = 0x4019, DrawImage = 0x401A, DrawImagePoints = 0x401B, DrawString = 0x401C,
    Save = 0x4025, Restore = 0x4026, BeginContainer = 0x4027, BeginContainerNoParams = 0x4028,
    EndContainer = 0x4029, SetWorldTransform = 0x402A, ResetWorldTransform = 0x402B,
    MultiplyWorldTransform = 0x402C, TranslateWorldTransform = 0x402D, ScaleWorldTransform = 0x402E,
    RotateWorldTransform = 0x402F, SetPageTransform = 0x4030, ResetClip = 0x4031, SetClipRect = 0x4032,
    SetClipPath = 0x4033, SetClipRegion = 0x4034, OffsetClip = 0x4035, DrawDriverString = 0x4036,
};

constexpr quint16 BrushIsColor = 0x8000, Compressed = 0x4000, Relative = 0x0800, Append = 0x2000;

// Little-endian reads that give zero, and mark the reader bad, past the end.
class Reader {
public:
    Reader(const uchar* p, quint32 n) : p_(p), n_(n) {}
    bool ok() const { return ok_; }
    quint32 pos() const { return pos_; }
    quint32 left() const { return n_ - pos_; }
    const uchar* here() const { return p_ + pos_; }
    bool skip(quint64 k) {
        if (!ok_ || k > left()) return ok_ = false;
        pos_ += quint32(k);
        return true;
    }
    quint32 u32() { return take<quint32>(); }
    qint32 i32() { return take<qint32>(); }
    qint16 i16() { return take<qint16>(); }
    quint8 u8() { return take<quint8>(); }
    double f32() {
        const quint32 bits = u32();
        float f;
        std::memcpy(&f, &bits, 4);
        return std::isfinite(f) ? std::clamp(double(f), -Limit, Limit) : 0.0;
    }
    QPointF point(bool compressed) {
        if (compressed) {
            const double x = i16();
            return QPointF(x, i16());
        }
        const double x = f32();
        return QPointF(x, f32());
    }
    QRectF rect(bool compressed) {
        const QPointF xy = point(compressed);
        const QPointF wh = point(compressed);
        return QRectF(xy.x(), xy.y(), wh.x(), wh.y());
    }
    QTransform transform() {
        double m[6];
        for (double& v : m) v = f32();
        return QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
    }

private:
    template <typename T>
    T take() {
        if (!ok_ || left() < sizeof(T)) {
            ok_ = false;
            return 0;
        }
        const T v = qFromLittleEndian<T>(p_ + pos_);
        pos_ += sizeof(T);
        return v;
    }
    const uchar* p_;
    quint32 n_;
    quint32 pos_ = 0;
    bool ok_ = true;
};

QColor argb(quint32 v) { return QColor::fromRgba(v); }

// A count of points, each at most `bytes` long, that the rest of the record can hold.
bool fits(const Reader& r, quint32 count, quint32 bytes) { return r.ok() && quint64(count) * bytes <= r.left(); }

std::vector<QPointF> points(Reader& r, quint16 flags, quint32 count) {
    std::vector<QPointF> pts;
    if (flags & Relative) {
        // Each point is an offset from the last, in 7 or 15 signed bits.
        if (!fits(r, count, 2) && !fits(r, count, 1)) return pts;
        QPointF last;
        auto coordinate = [&r]() -> double {
            const quint8 first = r.u8();
            if (!(first & 0x80)) return qint8(quint8(first << 1)) >> 1;
            const quint16 v = quint16(((first & 0x7F) << 8) | r.u8());
            return qint16(quint16(v << 1)) >> 1;
        };
        for (quint32 i = 0; i < count && r.ok(); ++i) {
            const double dx = coordinate();
            last += QPointF(dx, coordinate());
            pts.push_back(last);
        }
    } else {
        const bool c = flags & Compressed;
        if (!fits(r, count, c ? 4 : 8)) return pts;
        pts.reserve(count);
        for (quint32 i = 0; i < count; ++i) pts.push_back(r.point(c));
    }
    if (!r.ok()) pts.clear();
    return pts;
}

QBrush hatch(quint32 style, const QColor& fore, const QColor& back) {
    const QImage lines = hatchImage(style, fore);
    if (lines.isNull()) {
        // The finer hatches, as the colour they average to.
        return QColor((fore.red() + back.red()) / 2, (fore.green() + back.green()) / 2,
                      (fore.blue() + back.blue()) / 2, (fore.alpha() + back.alpha()) / 2);
    }
    QImage tile(lines.size(), QImage::Format_ARGB32_Premultiplied);
    tile.fill(back);
    QPainter p(&tile);
    p.drawImage(0, 0, lines);
    p.end();
    return QBrush(tile);
}

// `budget`, when given, is the enclosing picture's: with it, an image that is
// itself a metafile is drawn (whole, which `*whole` then says).
QImage readImage(Reader& r, WorkBudget* budget = nullptr, bool* whole = nullptr);
QPainterPath readPath(Reader& r);

// What repeats when an image is tiled: the image itself, or for the flipping
// wrap modes (1 across x, 2 across y, 3 both) the image beside its mirror
// images, since every other tile is mirrored.
QImage wrapTile(const QImage& image, quint32 wrap) {
    if (wrap < 1 || wrap > 3 || image.isNull() || image.width() > MaxImageSide / 2 || image.height() > MaxImageSide / 2)
        return image;
    const bool fx = wrap & 1, fy = wrap & 2;
    QImage tile(image.width() * (fx ? 2 : 1), image.height() * (fy ? 2 : 1), QImage::Format_ARGB32_Premultiplied);
    if (tile.isNull()) return image;
    tile.fill(Qt::transparent);
    QPainter p(&tile);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, image);
    if (fx) p.drawImage(image.width(), 0, image.mirrored(true, false));
    if (fy) p.drawImage(0, image.height(), image.mirrored(false, true));
    if (fx && fy) p.drawImage(image.width(), image.height(), image.mirrored(true, true));
    return tile;
}

// Marks a texture brush's image as clamped (wrap mode 4): QBrush always tiles.
const QString ClampKey = QStringLiteral("zumble-clamp");

// A clamped texture as a brush that tiles: the image with transparent space
// after it wide enough that, over `area` (in the texture's own pixels), no
// second copy shows. Empty when that would be too large to make.
QBrush clampedTexture(const QBrush& brush, const QRectF& area) {
    const QImage image = brush.textureImage();
    const double w = image.width() + std::ceil(area.width()) + 1, h = image.height() + std::ceil(area.height()) + 1;
    if (!(w * h <= 4096.0 * 4096.0)) return Qt::NoBrush;
    QImage tile(int(w), int(h), QImage::Format_ARGB32_Premultiplied);
    if (tile.isNull()) return Qt::NoBrush;
    tile.fill(Qt::transparent);
    QPainter(&tile).drawImage(0, 0, image);
    QBrush b(tile);
    b.setTransform(brush.transform());
    return b;
}

QBrush readBrush(Reader& r, WorkBudget* budget = nullptr) {
    r.u32();  // version
    const quint32 type = r.u32();
    switch (type) {
    case 0: return argb(r.u32());
    case 1: {
        const quint32 style = r.u32();
        const QColor fore = argb(r.u32());
        return hatch(style, fore, argb(r.u32()));
    }
    case 2: {  // texture
        const quint32 flags = r.u32();
        const quint32 wrap = r.u32();
        const QTransform t = (flags & 0x02) ? r.transform() : QTransform();
        const QImage img = readImage(r, budget);
        if (img.isNull()) return Qt::NoBrush;
        QImage tile = wrapTile(img, wrap);
        if (wrap == 4) tile.setText(ClampKey, QStringLiteral("1"));  // drawn once: see fill()
        QBrush b(tile);
        b.setTransform(t);
        return b;
    }
    case 3: {  // path gradient
        const quint32 flags = r.u32();
        r.i32();  // wrap mode
        const QColor centre = argb(r.u32());
        const QPointF focus = r.point(false);
        const quint32 count = r.u32();
        if (!fits(r, count, 4)) return Qt::NoBrush;
        // The colours around the boundary, one per point, blend to their average.
        double sum[4] = {};
        for (quint32 i = 0; i < count; ++i) {
            const QColor c = argb(r.u32());
            sum[0] += c.red();
            sum[1] += c.green();
            sum[2] += c.blue();
            sum[3] += c.alpha();
        }
        const QColor edge = count == 0 ? centre
                                       : QColor(int(sum[0] / count), int(sum[1] / count), int(sum[2] / count),
                                                int(sum[3] / count));
        QRectF bounds;
        if (flags & 0x01) {  // the boundary as a path object of the given size
            const quint32 size = r.u32();
            const quint32 start = r.pos();
            bounds = readPath(r).boundingRect();
            if (r.ok() && r.pos() - start < size) r.skip(size - (r.pos() - start));
        } else {
            const quint32 n = r.u32();
            if (!fits(r, n, 8)) return Qt::NoBrush;
            QPolygonF boundary;
            for (quint32 i = 0; i < n; ++i) boundary << r.point(false);
            bounds = boundary.boundingRect();
        }
        const QTransform t = (flags & 0x02) ? r.transform() : QTransform();
        if (!r.ok()) return Qt::NoBrush;
        if (!(bounds.width() > 1e-3) || !(bounds.height() > 1e-3)) return edge;
        // The centre colour at the focus, rising to the surround colour at the
        // ellipse that fills the boundary's box; outside it, the surround colour.
        const QPointF mid = bounds.center();
        const double rx = bounds.width() / 2, ry = bounds.height() / 2;
        QRadialGradient g(QPointF(0, 0), 1.0, QPointF((focus.x() - mid.x()) / rx, (focus.y() - mid.y()) / ry));
        g.setColorAt(0, centre);
        g.setColorAt(1, edge);
        QBrush b(g);
        b.setTransform(QTransform::fromScale(rx, ry) * QTransform::fromTranslate(mid.x(), mid.y()) * t);
        return b;
    }
    case 4: {  // linear gradient across its rectangle
        const quint32 flags = r.u32();
        r.i32();
        const QRectF rect = r.rect(false);
        const QColor start = argb(r.u32()), end = argb(r.u32());
        r.u32();
        r.u32();
        const QTransform t = (flags & 0x02) ? r.transform() : QTransform();
        if (!r.ok()) return Qt::NoBrush;
        QLinearGradient g(rect.topLeft(), rect.topRight());
        g.setColorAt(0, start);
        g.setColorAt(1, end);
        g.setSpread(QGradient::ReflectSpread);
        QBrush b(g);
        b.setTransform(t);
        return b;
    }
    default: return Qt::NoBrush;
    }
}

// A metafile image is drawn at its natural size, or smaller to fit the area
// kept of a nested picture.
QImage readMetafileImage(Reader& r, WorkBudget& budget) {
    r.u32();  // WMF, placeable WMF, EMF, EMF+ or dual: the data says it again
    const quint32 size = r.u32();
    if (!r.ok() || size > r.left() || NestedPicture::inside() || !budget.spend(NestedPicture::SetUpCost)) return {};
    QImage img;
    {
        NestedPicture nested(budget);
        img = render(QByteArray::fromRawData(reinterpret_cast<const char*>(r.here()), qsizetype(size)));
    }
    if (img.isNull() || !budget.spend(double(img.width()) * img.height())) return {};
    return img;
}

QImage readImage(Reader& r, WorkBudget* budget, bool* whole) {
    r.u32();  // version
    const quint32 imageType = r.u32();
    if (imageType == 2) {
        if (!budget) return {};
        QImage img = readMetafileImage(r, *budget);
        if (whole) *whole = !img.isNull();
        return img;
    }
    if (imageType != 1) return {};
    const qint32 w = r.i32(), h = r.i32(), stride = r.i32();
    const quint32 format = r.u32(), type = r.u32();
    if (!r.ok()) return {};
    if (type == 1) {  // PNG, JPEG, GIF, BMP... as a file
        const QImage img = QImage::fromData(r.here(), int(std::min<quint32>(r.left(), 0x7FFFFFFF)));
        if (img.width() > MaxImageSide || img.height() > MaxImageSide) return {};
        return img;
    }
    if (w <= 0 || h <= 0 || w > MaxImageSide || h > MaxImageSide || stride <= 0) return {};
    const int bits = int((format >> 8) & 0xFF);
    std::vector<QRgb> palette;
    if (format & 0x00010000) {  // indexed: a palette comes first
        r.u32();
        const quint32 count = r.u32();
        if (!fits(r, count, 4) || count > 256) return {};
        for (quint32 i = 0; i < count; ++i) palette.push_back(r.u32());
    }
    if (quint64(stride) * quint64(h) > r.left() || quint64(stride) * 8 < quint64(w) * quint64(bits)) return {};
    QImage img(w, h, QImage::Format_ARGB32);
    if (img.isNull()) return {};
    const bool premultiplied = format == 0x000E200B;
    for (int y = 0; y < h; ++y) {
        const uchar* s = r.here() + qsizetype(stride) * y;
        auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            QRgb c = 0;
            switch (bits) {
            case 1: case 4: case 8: {
                const int per = 8 / bits;
                const int index = (s[x / per] >> ((per - 1 - x % per) * bits)) & ((1 << bits) - 1);
                c = size_t(index) < palette.size() ? palette[size_t(index)] : 0xFF000000u;
                break;
            }
            case 16: {  // 5-5-5
                const quint16 v = qFromLittleEndian<quint16>(s + 2 * x);
                c = qRgb(((v >> 10) & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, (v & 31) * 255 / 31);
                break;
            }
            case 24: c = qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]); break;
            case 32: {
                const quint32 v = qFromLittleEndian<quint32>(s + 4 * x);
                c = (format & 0x00040000) ? (premultiplied ? qUnpremultiply(v) : v) : (v | 0xFF000000u);
                break;
            }
            default: return {};
            }
            d[x] = c;
        }
    }
    return img;
}

QPen readPen(Reader& r, double unitScale, WorkBudget* budget) {
    r.u32();  // version
    r.u32();  // type
    const quint32 flags = r.u32();
    r.u32();  // unit: widths below are taken in world units
    const double width = r.f32() * unitScale;
    QPen pen;
    pen.setWidthF(std::max(width, 0.0));
    pen.setCosmetic(width <= 0);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    if (flags & 0x01) r.skip(24);  // transform
    auto cap = [](qint32 v) { return v == 1 ? Qt::SquareCap : v == 2 ? Qt::RoundCap : Qt::FlatCap; };
    if (flags & 0x02) pen.setCapStyle(cap(r.i32()));
    if (flags & 0x04) r.i32();  // end cap: Qt has one for both ends
    if (flags & 0x08) {
        const quint32 join = r.u32();
        pen.setJoinStyle(join == 1 ? Qt::BevelJoin : join == 2 ? Qt::RoundJoin : Qt::MiterJoin);
    }
    if (flags & 0x10) pen.setMiterLimit(std::clamp(r.f32(), 0.0, 100.0));
    qint32 style = 0;
    if (flags & 0x20) style = r.i32();
    if (flags & 0x40) r.i32();
    if (flags & 0x80) r.f32();
    QList<qreal> dashes;
    if (flags & 0x100) {
        const quint32 count = r.u32();
        if (!fits(r, count, 4)) return QPen(Qt::NoPen);
        for (quint32 i = 0; i < count; ++i) dashes << std::clamp(r.f32(), 0.01, 1000.0);
    }
    if (flags & 0x200) r.i32();
    if (flags & 0x400) {
        const quint32 count = r.u32();
        if (!fits(r, count, 4)) return QPen(Qt::NoPen);
        r.skip(quint64(count) * 4);
    }
    if (flags & 0x800) r.skip(r.u32());
    if (flags & 0x1000) r.skip(r.u32());
    switch (style) {
    case 1: pen.setStyle(Qt::DashLine); break;
    case 2: pen.setStyle(Qt::DotLine); break;
    case 3: pen.setStyle(Qt::DashDotLine); break;
    case 4: pen.setStyle(Qt::DashDotDotLine); break;
    case 5:
        if (dashes.size() >= 2 && dashes.size() % 2 == 0) pen.setDashPattern(dashes);
        break;
    default: break;
    }
    pen.setBrush(readBrush(r, budget));
    if (!r.ok()) return QPen(Qt::NoPen);
    return pen;
}

QPainterPath readPath(Reader& r) {
    r.u32();  // version
    const quint32 count = r.u32();
    const quint32 flags = r.u32();
    const std::vector<QPointF> pts = points(r, quint16(flags), count);
    if (pts.size() != count) return {};
    std::vector<quint8> types;
    types.reserve(count);
    if (flags & 0x1000) {  // run-length types: a run count (low six bits) and a type
        while (types.size() < count && r.ok()) {
            const int run = r.u8() & 0x3F;
            const quint8 type = r.u8();
            for (int i = 0; i < run && types.size() < count; ++i) types.push_back(type);
        }
    } else {
        if (!fits(r, count, 1)) return {};
        for (quint32 i = 0; i < count; ++i) types.push_back(r.u8());
    }
    if (!r.ok()) return {};
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (size_t i = 0; i < pts.size(); ++i) {
        const int kind = types[i] & 0x07;
        if (kind == 0 || path.elementCount() == 0) {
            path.moveTo(pts[i]);
        } else if (kind == 3 && i + 2 < pts.size()) {
            path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            i += 2;
        } else {
            path.lineTo(pts[i]);
        }
        if (types[i] & 0x80) path.closeSubpath();
    }
    return path;
}

// A region: a tree of rectangles and paths combined by the clip modes.
QPainterPath readRegionNode(Reader& r, int depth) {
    const quint32 type = r.u32();
    QPainterPath out;
    if (!r.ok() || depth > 32) return out;
    switch (type) {
    case 0x10000000: out.addRect(r.rect(false)); return out;
    case 0x10000001: {
        const quint32 size = r.u32();
        if (size > r.left()) return out;
        Reader sub(r.here(), size);
        r.skip(size);
        return readPath(sub);
    }
    case 0x10000002: return out;  // empty
    case 0x10000003: out.addRect(QRectF(-Limit, -Limit, 2 * Limit, 2 * Limit)); return out;
    case 1: case 2: case 3: case 4: case 5: {
        const QPainterPath a = readRegionNode(r, depth + 1);
        const QPainterPath b = readRegionNode(r, depth + 1);
        // Boolean operations on outlines grow fast with their size; past a
        // few thousand points the second operand is left out.
        if (a.elementCount() + b.elementCount() > 4000) return a;
        switch (type) {
        case 1: return a.intersected(b);
        case 2: return a.united(b);
        case 3: return a.united(b).subtracted(a.intersected(b));
        case 4: return a.subtracted(b);
        default: return b.subtracted(a);
        }
    }
    default: return out;
    }
}

// A cardinal spline through the points, as Bézier segments.
QPainterPath curve(const std::vector<QPointF>& p, double tension, bool closed) {
    QPainterPath path;
    const size_t n = p.size();
    if (n < 2) return path;
    path.moveTo(p[0]);
    const double t = tension / 3;
    auto at = [&](qint64 i) {
        if (closed) return p[size_t((i % qint64(n) + qint64(n)) % qint64(n))];
        return p[size_t(std::clamp<qint64>(i, 0, qint64(n) - 1))];
    };
    const size_t segments = closed ? n : n - 1;
    for (size_t i = 0; i < segments; ++i) {
        const QPointF p0 = at(qint64(i) - 1), p1 = at(qint64(i)), p2 = at(qint64(i) + 1), p3 = at(qint64(i) + 2);
        path.cubicTo(p1 + (p2 - p0) * t, p2 - (p3 - p1) * t, p2);
    }
    if (closed) path.closeSubpath();
    return path;
}

}  // namespace

bool drawsWithEmfPlusOnly(const uchar* data, qsizetype size, qsizetype offset) {
    bool sawPlus = false, handedOver = false;
    while (offset >= 0 && size - offset >= 8) {
        const quint32 type = qFromLittleEndian<quint32>(data + offset);
        const quint32 recordSize = qFromLittleEndian<quint32>(data + offset + 4);
        if (recordSize < 8 || recordSize > quint64(size - offset) || type == EofRecord) break;
        if (type == CommentRecord && recordSize >= 16 && qFromLittleEndian<quint32>(data + offset + 12) == Signature) {
            sawPlus = true;
            // The comment's last EMF+ record decides whether plain records may follow.
            handedOver = false;
            const quint32 cb = std::min<quint32>(qFromLittleEndian<quint32>(data + offset + 8), recordSize - 12);
            quint32 at = 4;
            while (at + 12 <= cb) {
                const uchar* rec = data + offset + 12 + at;
                const quint32 sz = qFromLittleEndian<quint32>(rec + 4);
                if (sz < 12 || sz > cb - at) break;
                handedOver = qFromLittleEndian<quint16>(rec) == GetDC;
                at += sz;
            }
        } else if (type >= 2 && type != CommentRecord && !handedOver) {
            // Records that only set state are harmless; anything that draws
            // outside a GetDC hand-over is the plain copy of the picture.
            static constexpr quint32 drawing[] = {2, 3, 4, 5, 6, 7, 8, 15, 41, 42, 43, 44, 45, 46, 47, 54, 55, 56, 62, 63,
                                                  64, 71, 72, 73, 74, 76, 77, 78, 79, 80, 81, 83, 84, 85, 86, 87, 88, 89,
                                                  90, 91, 92, 96, 97, 108, 114, 116, 118};
            if (std::find(std::begin(drawing), std::end(drawing), type) != std::end(drawing)) return false;
        }
        offset += recordSize;
    }
    return sawPlus;
}

PlusPlayer::PlusPlayer(QPainter& painter, const QTransform& deviceToImage, QSize imageSize, WorkBudget& budget)
    : painter_(painter), deviceToImage_(deviceToImage), imageSize_(imageSize),
      clip_(QRect(QPoint(0, 0), imageSize)), budget_(budget) {}

void PlusPlayer::play(const uchar* data, qsizetype size) {
    qsizetype at = 0;
    while (size - at >= 12) {
        const quint16 type = qFromLittleEndian<quint16>(data + at);
        const quint16 flags = qFromLittleEndian<quint16>(data + at + 2);
        const quint32 recordSize = qFromLittleEndian<quint32>(data + at + 4);
        const quint32 dataSize = qFromLittleEndian<quint32>(data + at + 8);
        if (recordSize < 12 || recordSize > quint64(size - at) || dataSize > recordSize - 12) return;
        handedOver_ = type == GetDC;
        record(type, flags, data + at + 12, dataSize);
        at += recordSize;
    }
}

double PlusPlayer::unitToDevice(quint32 unit) const {
    switch (unit) {
    case 3: return dpiX_ / 72.0;    // point
    case 4: return dpiX_;           // inch
    case 5: return dpiX_ / 300.0;   // document
    case 6: return dpiX_ / 25.4;    // millimetre
    default: return 1.0;            // world, display, pixel
    }
}

// A font's em in world units when it is drawn: a unit of its own is taken
// through the page transform of that moment.
double PlusPlayer::emInWorld(const Object& font) const {
    if (font.emUnit == 0) return font.emSize;
    const double page = unitToDevice(pageUnit_) * pageScale_;
    return font.emSize * unitToDevice(font.emUnit) / (page > 0 ? page : 1);
}

QTransform PlusPlayer::worldToImage() const {
    const double page = unitToDevice(pageUnit_) * pageScale_;
    return world_ * QTransform::fromScale(page, page) * deviceToImage_;
}

void PlusPlayer::prepare() {
    clip_.apply(painter_);
    painter_.setTransform(worldToImage());
}

const PlusPlayer::Object* PlusPlayer::object(quint32 id, Object::Kind kind) const {
    if (id >= objects_.size() || objects_[id].kind != kind) return nullptr;
    return &objects_[id];
}

bool PlusPlayer::brushFor(quint16 flags, quint32 id, QBrush* out) const {
    if (flags & BrushIsColor) {
        *out = argb(id);
    } else {
        const Object* o = object(id, Object::BrushKind);
        if (!o) return false;
        *out = o->brush;
    }
    // A colour of no opacity draws nothing: such text (an invisible layer of
    // searchable text over a scanned page) must not spend the work budget
    // that the visible drawing after it needs.
    return !(out->style() == Qt::SolidPattern && out->color().alpha() == 0);
}

void PlusPlayer::fill(const QPainterPath& world, const QBrush& brush) {
    if (brush.style() == Qt::NoBrush || world.isEmpty()) return;
    const QTransform t = worldToImage();
    if (!t.isInvertible()) return;
    const QRectF area = t.mapRect(world.boundingRect()).intersected(QRectF(QPoint(0, 0), imageSize_));
    if (!budget_.spend(area.width() * area.height() + world.elementCount())) return;
    prepare();
    const bool aa = !heavyShape(t.map(world), imageSize_);
    painter_.setRenderHint(QPainter::Antialiasing, aa);
    if (brush.style() == Qt::TexturePattern && !brush.textureImage().text(ClampKey).isEmpty()) {
        // The texture once, where the brush puts it, and nothing around it:
        // past the image, the fill shows no second copy.
        const QRectF inTexture = brush.transform().inverted().mapRect(world.boundingRect());
        if (inTexture.intersects(QRectF(brush.textureImage().rect())))
            painter_.fillPath(world, clampedTexture(brush, inTexture));
    } else {
        painter_.fillPath(world, brush);
    }
    painter_.setRenderHint(QPainter::Antialiasing, true);
}

void PlusPlayer::stroke(const QPainterPath& world, quint32 penId) {
    const Object* o = object(penId, Object::PenKind);
    if (!o || world.isEmpty()) return;
    const QTransform t = worldToImage();
    QPen pen = o->pen;
    // Past a few times the picture's size a line is all ink anyway.
    const double scale = std::sqrt(std::abs(t.determinant()));
    if (!(scale > 0)) return;
    pen.setWidthF(std::min(pen.widthF(), 4.0 * std::max(imageSize_.width(), imageSize_.height()) / scale));
    const QRectF area = t.mapRect(world.boundingRect()).intersected(QRectF(QPoint(0, 0), imageSize_));
    if (!budget_.spend(std::min(area.width() * area.height(), (area.width() + area.height()) * (pen.widthF() * scale + 2)) +
                       world.elementCount()))
        return;
    prepare();
    const bool aa = !heavyStroke(t.map(world), pen, imageSize_);
    painter_.setRenderHint(QPainter::Antialiasing, aa);
    painter_.strokePath(world, pen);
    painter_.setRenderHint(QPainter::Antialiasing, true);
}

void PlusPlayer::drawImage(const QImage& image, bool whole, const QRectF& source, const QTransform& placeSource) {
    if (image.isNull() || source.width() == 0 || source.height() == 0) return;
    const QTransform t = placeSource * worldToImage();
    if (!t.isInvertible()) return;
    const QRectF area = t.mapRect(source).intersected(QRectF(QPoint(0, 0), imageSize_));
    if (!budget_.spend(area.width() * area.height() + double(image.width()) * image.height())) return;
    clip_.apply(painter_);
    painter_.setTransform(t);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.drawImage(source, image, whole ? QRectF(image.rect()) : source);
}

void PlusPlayer::setClip(const QPainterPath& world, int mode) {
    // Replace, intersect, union, xor, exclude, complement.
    static constexpr int modes[] = {ClipCopy, ClipAnd, ClipOr, ClipXor, ClipDiff, ClipComplement};
    if (mode < 0 || mode > 5) return;
    clip_.combine(Clip::fromPath(worldToImage().map(world), QRect(QPoint(0, 0), imageSize_)), modes[mode]);
}

void PlusPlayer::objectRecord(quint16 flags, const uchar* data, quint32 size) {
    const int id = flags & 0x3F;
    const int kind = (flags >> 8) & 0x7F;
    Reader r(data, size);
    if (flags & 0x8000) {
        // Continued: the total size first, then this part of the object.
        const quint32 total = r.u32();
        if (!r.ok()) return;
        if (pendingId_ != id) {
            pending_.clear();
            pendingId_ = id;
            pendingTotal_ = total;
        }
        if (quint64(pending_.size()) + r.left() > pendingTotal_ || pendingTotal_ > 64u * 1024 * 1024) {
            pending_.clear();
            pendingId_ = -1;
            return;
        }
        pending_.insert(pending_.end(), r.here(), r.here() + r.left());
        return;
    }
    std::vector<uchar> whole;
    if (pendingId_ == id) {
        whole.swap(pending_);
        whole.insert(whole.end(), data, data + size);
        r = Reader(whole.data(), quint32(whole.size()));
    }
    pendingId_ = -1;
    pending_.clear();

    Object o;
    switch (kind) {
    case 1: o.kind = Object::BrushKind; o.brush = readBrush(r, &budget_); break;
    case 2: o.kind = Object::PenKind; o.pen = readPen(r, 1.0, &budget_); break;
    case 3: o.kind = Object::PathKind; o.path = readPath(r); break;
    case 4:
        o.kind = Object::RegionKind;
        r.u32();  // version
        r.u32();  // node count
        o.path = readRegionNode(r, 0);
        break;
    case 5: o.kind = Object::ImageKind; o.image = readImage(r, &budget_, &o.wholeImage); break;
    case 6: {
        r.u32();  // version
        const double em = r.f32();
        const quint32 unit = r.u32();
        const qint32 style = r.i32();
        r.u32();
        const quint32 length = r.u32();
        if (!fits(r, length, 2)) return;
        QString family;
        for (quint32 i = 0; i < length; ++i) family += QChar(char16_t(qFromLittleEndian<quint16>(r.here() + 2 * i)));
        o.kind = Object::FontKind;
        o.font = QFont(substituteFace(family));
        o.font.setBold(style & 1);
        o.font.setItalic(style & 2);
        o.font.setUnderline(style & 4);
        o.font.setStrikeOut(style & 8);
        o.emSize = em;
        o.emUnit = unit;
        break;
    }
    case 8:  // image attributes: version, reserved, then the wrap mode
        o.kind = Object::AttributesKind;
        r.u32();
        r.u32();
        o.wrap = int(r.u32());
        break;
    case 7:
        o.kind = Object::FormatKind;
        r.u32();  // version
        o.formatFlags = r.u32();
        r.u32();  // language
        o.align = int(r.u32());
        o.lineAlign = int(r.u32());
        r.u32();  // digit substitution
        r.u32();
        r.f32();  // first tab offset
        r.i32();  // hotkey prefix
        if (const double leading = r.f32(), trailing = r.f32(); r.ok()) {
            o.leadingMargin = std::clamp(leading, 0.0, 10.0);
            o.trailingMargin = std::clamp(trailing, 0.0, 10.0);
        }
        break;
    default: return;
    }
    if (!r.ok() && o.kind != Object::FormatKind) return;
    objects_[size_t(id)] = std::move(o);
}

void PlusPlayer::drawString(quint16 flags, const uchar* data, quint32 size) {
    Reader r(data, size);
    const quint32 brushId = r.u32(), formatId = r.u32(), length = r.u32();
    const QRectF layout = r.rect(false);
    if (!fits(r, length, 2)) return;
    QString text;
    for (quint32 i = 0; i < length; ++i) text += QChar(char16_t(qFromLittleEndian<quint16>(r.here() + 2 * i)));
    const Object* font = object(flags & 0x3F, Object::FontKind);
    QBrush brush;
    if (!font || !brushFor(flags, brushId, &brush) || !(font->emSize > 0)) return;
    const Object* format = object(formatId, Object::FormatKind);
    const Object defaults;  // a format's defaults when the record names none
    if (!format) format = &defaults;
    const double em = emInWorld(*font);
    if (!(em > 0)) return;
    const QTransform t = worldToImage();
    // Text is laid out in pixels along the world's axes, so that the font
    // size is a whole number of pixels and hinting works as it should; past
    // 512 pixels it is laid out smaller and scaled up, so that a huge font
    // does not make Qt rasterise huge glyphs.
    const double scale = std::sqrt(std::abs(t.determinant()));
    const double px = em * scale;
    if (!(px >= 1) || px > 65536 || text.isEmpty()) return;
    if (!budget_.spend(std::min(px * px, double(imageSize_.width()) * imageSize_.height()) * double(text.size())))
        return;
    // The font takes a whole number of layout pixels, and the layout's scale
    // follows it, so that the text comes out at its own size exactly.
    const int pixelSize = std::max(1, int(std::lround(std::min(px, 512.0))));
    const double unit = pixelSize / em;  // layout pixels per world unit
    QFont f = font->font;
    f.setPixelSize(pixelSize);
    // The margins the format leaves before and after the text, in ems.
    QRectF box = layout;
    if (box.width() > 0) box.adjust(format->leadingMargin * em, 0, -format->trailingMargin * em, 0);
    else box.translate(format->leadingMargin * em, 0);
    box = QRectF(box.topLeft() * unit, box.size() * unit);
    int align = (format->align == 1 ? Qt::AlignHCenter : format->align == 2 ? Qt::AlignRight : Qt::AlignLeft) |
                (format->lineAlign == 1 ? Qt::AlignVCenter : format->lineAlign == 2 ? Qt::AlignBottom : Qt::AlignTop);
    constexpr quint32 NoWrap = 0x1000, NoClip = 0x4000;
    if (box.width() <= 0 || box.height() <= 0) {
        box.setSize(QSizeF(std::max(box.width(), 0.0), std::max(box.height(), 0.0)));
        align |= Qt::TextDontClip;
    } else {
        if (!(format->formatFlags & NoWrap)) align |= Qt::TextWordWrap;
        if (format->formatFlags & NoClip) align |= Qt::TextDontClip;
    }
    clip_.apply(painter_);
    painter_.setTransform(QTransform::fromScale(1 / unit, 1 / unit) * t);
    painter_.setFont(f);
    painter_.setPen(QPen(brush, 0));
    if (glyphsHugeOnDevice(painter_.transform(), f.pixelSize()))
        fillOutlinesInBox(painter_, box, align, text);
    else
        painter_.drawText(box, align, text);
}

// Glyphs placed one by one: glyph numbers of the font (or characters, to be
// looked up in it), each at its own point on the baseline, or only the first
// placed and the rest following at their advances.
void PlusPlayer::drawDriverString(quint16 flags, const uchar* data, quint32 size) {
    constexpr quint32 CharactersNotGlyphs = 1, FirstPositionOnly = 4;
    Reader r(data, size);
    const quint32 brushId = r.u32(), options = r.u32(), matrixPresent = r.u32(), count = r.u32();
    if (!fits(r, count, 2 + 8) || count == 0) return;
    std::vector<quint16> codes(count);
    for (quint16& c : codes) c = quint16(r.i16());
    std::vector<QPointF> positions(count);
    for (QPointF& p : positions) p = r.point(false);
    QTransform matrix;
    if (matrixPresent) {
        const double m11 = r.f32(), m12 = r.f32(), m21 = r.f32(), m22 = r.f32(), dx = r.f32(), dy = r.f32();
        if (!r.ok()) return;
        matrix = QTransform(m11, m12, m21, m22, dx, dy);
    }
    const Object* font = object(flags & 0x3F, Object::FontKind);
    QBrush brush;
    if (!font || !brushFor(flags, brushId, &brush)) return;
    const double em = emInWorld(*font);
    if (!(em > 0)) return;
    // The matrix turns each glyph about its own position.
    const QTransform t = worldToImage();
    const double scale = std::sqrt(std::abs((matrix * t).determinant()));
    const double px = em * scale;
    if (!(px >= 1) || px > 65536) return;
    if (!budget_.spend(std::min(px * px, double(imageSize_.width()) * imageSize_.height()) * double(count))) return;
    // Laid out in whole pixels, and past 512 pixels smaller and scaled up, as DrawString is.
    const int pixelSize = std::max(1, int(std::lround(std::min(px, 512.0))));
    const double unit = pixelSize / em;  // layout pixels per world unit
    QFont f = font->font;
    f.setPixelSize(pixelSize);
    const QRawFont raw = QRawFont::fromFont(f);
    if (!raw.isValid()) return;
    QList<quint32> glyphs;
    if (options & CharactersNotGlyphs) {
        QString text;
        for (quint16 c : codes) text += QChar(char16_t(c));
        glyphs = raw.glyphIndexesForString(text);
    } else {
        for (quint16 c : codes) glyphs << c;
    }
    if (glyphs.size() > qsizetype(count)) glyphs.resize(qsizetype(count));
    const QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
    clip_.apply(painter_);
    painter_.setPen(QPen(brush, 0));
    QPointF pen = positions[0];
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        const QPointF at = (options & FirstPositionOnly) ? pen : positions[size_t(i)];
        if (i < advances.size()) pen = at + advances[i] / unit;
        QGlyphRun run;
        run.setRawFont(raw);
        run.setGlyphIndexes({glyphs[i]});
        run.setPositions({QPointF(0, 0)});
        painter_.setTransform(QTransform::fromScale(1 / unit, 1 / unit) * matrix * QTransform::fromTranslate(at.x(), at.y()) * t);
        drawGlyphs(painter_, run);
    }
}

void PlusPlayer::record(quint16 type, quint16 flags, const uchar* data, quint32 size) {
    Reader r(data, size);
    const bool c = flags & Compressed;
    switch (type) {
    case Header:
        r.u32();
        r.u32();
        dpiX_ = std::clamp(double(r.u32()), 1.0, 100000.0);
        dpiY_ = std::clamp(double(r.u32()), 1.0, 100000.0);
        if (!r.ok()) dpiX_ = dpiY_ = 96;
        break;
    case ObjectRecord: objectRecord(flags, data, size); break;
    case Clear: {
        const QColor color = argb(r.u32());
        if (!r.ok() || !budget_.spend(double(imageSize_.width()) * imageSize_.height())) break;
        clip_.apply(painter_);
        painter_.setCompositionMode(QPainter::CompositionMode_Source);
        painter_.fillRect(QRect(QPoint(0, 0), imageSize_), color);
        painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        break;
    }
    case FillRects:
    case DrawRects: {
        QBrush brush;
        if (type == FillRects && !brushFor(flags, r.u32(), &brush)) break;
        const quint32 count = r.u32();
        if (!fits(r, count, c ? 8 : 16)) break;
        QPainterPath path;
        for (quint32 i = 0; i < count; ++i) path.addRect(r.rect(c));
        if (type == FillRects) fill(path, brush);
        else stroke(path, flags & 0xFF);
        break;
    }
    case FillPolygon:
    case DrawLines:
    case FillClosedCurve:
    case DrawClosedCurve:
    case DrawCurve:
    case DrawBeziers: {
        QBrush brush;
        const bool filled = type == FillPolygon || type == FillClosedCurve;
        if (filled && !brushFor(flags, r.u32(), &brush)) break;
        double tension = 0.5;
        if (type == FillClosedCurve || type == DrawClosedCurve || type == DrawCurve) tension = r.f32();
        quint32 offset = 0, segments = 0;
        if (type == DrawCurve) {
            offset = r.u32();
            segments = r.u32();
        }
        const std::vector<QPointF> pts = points(r, flags, r.u32());
        if (pts.size() < 2) break;
        QPainterPath path;
        if (type == FillPolygon || type == DrawLines) {
            path.addPolygon(QPolygonF(QList<QPointF>(pts.begin(), pts.end())));
            if (type == FillPolygon || (flags & 0x2000)) path.closeSubpath();
        } else if (type == DrawBeziers) {
            path.moveTo(pts[0]);
            for (size_t i = 1; i + 2 < pts.size(); i += 3) path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        } else if (type == DrawCurve) {
            if (offset >= pts.size()) break;
            const size_t end = std::min<size_t>(pts.size(), size_t(offset) + size_t(segments) + 1);
            path = curve(std::vector<QPointF>(pts.begin() + offset, pts.begin() + qsizetype(end)), tension, false);
        } else {
            path = curve(pts, tension, true);
        }
        if (filled) {
            path.setFillRule((flags & 0x2000) && type == FillClosedCurve ? Qt::WindingFill : Qt::OddEvenFill);
            fill(path, brush);
        } else {
            stroke(path, flags & 0xFF);
        }
        break;
    }
    case FillEllipse:
    case DrawEllipse:
    case FillPie:
    case DrawPie:
    case DrawArc: {
        QBrush brush;
        const bool filled = type == FillEllipse || type == FillPie;
        if (filled && !brushFor(flags, r.u32(), &brush)) break;
        double start = 0, sweep = 360;
        if (type == FillPie || type == DrawPie || type == DrawArc) {
            start = r.f32();
            sweep = r.f32();
        }
        const QRectF box = r.rect(c);
        if (!r.ok()) break;
        QPainterPath path;
        // Angles run clockwise from the x axis here, counter-clockwise in Qt.
        if (type == FillEllipse || type == DrawEllipse) {
            path.addEllipse(box);
        } else if (type == DrawArc) {
            path.arcMoveTo(box, -start);
            path.arcTo(box, -start, -sweep);
        } else {
            path.moveTo(box.center());
            path.arcTo(box, -start, -sweep);
            path.closeSubpath();
        }
        if (filled) fill(path, brush);
        else stroke(path, flags & 0xFF);
        break;
    }
    case FillPath:
    case DrawPath:
    case FillRegion: {
        const Object* o = object(flags & 0xFF, type == FillRegion ? Object::RegionKind : Object::PathKind);
        if (!o) break;
        if (type == DrawPath) {
            stroke(o->path, r.u32());
        } else {
            QBrush brush;
            if (brushFor(flags, r.u32(), &brush)) fill(o->path, brush);
        }
        break;
    }
    case DrawImage:
    case DrawImagePoints: {
        const Object* o = object(flags & 0xFF, Object::ImageKind);
        if (!o || o->image.isNull()) break;
        const Object* attributes = object(r.u32(), Object::AttributesKind);
        r.i32();  // source unit: pixels
        const QRectF source = r.rect(false);
        if (source.width() == 0 || source.height() == 0) break;
        QTransform place;
        if (type == DrawImage) {
            const QRectF dest = r.rect(c);
            if (!r.ok()) break;
            place = QTransform(dest.width() / source.width(), 0, 0, dest.height() / source.height(),
                               dest.x() - source.x() * dest.width() / source.width(),
                               dest.y() - source.y() * dest.height() / source.height());
        } else {
            const std::vector<QPointF> p = points(r, flags, r.u32());
            if (p.size() != 3) break;
            const QPointF u = (p[1] - p[0]) / source.width(), v = (p[2] - p[0]) / source.height();
            place = QTransform(u.x(), u.y(), v.x(), v.y(), p[0].x() - source.x() * u.x() - source.y() * v.x(),
                               p[0].y() - source.x() * u.y() - source.y() * v.y());
        }
        // With a tiling wrap mode, a source rectangle reaching past the image
        // repeats it; otherwise the image is drawn once.
        if (attributes && attributes->wrap >= 0 && attributes->wrap <= 3 && !o->wholeImage &&
            !QRectF(o->image.rect()).contains(source.normalized())) {
            QPainterPath area;
            area.addRect(source.normalized());
            const QTransform saved = world_;
            world_ = place * world_;
            fill(area, QBrush(wrapTile(o->image, quint32(attributes->wrap))));
            world_ = saved;
            break;
        }
        drawImage(o->image, o->wholeImage, source, place);
        break;
    }
    case DrawString: drawString(flags, data, size); break;
    case DrawDriverString: drawDriverString(flags, data, size); break;
    case Save:
    case BeginContainerNoParams:
        if (saved_.size() < 1024) saved_.push_back({r.u32(), world_, clip_});
        break;
    case BeginContainer: {
        const QRectF dest = r.rect(false), source = r.rect(false);
        const quint32 index = r.u32();
        if (!r.ok() || saved_.size() >= 1024) break;
        saved_.push_back({index, world_, clip_});
        if (source.width() != 0 && source.height() != 0) {
            const double page = unitToDevice(flags & 0xFF) / std::max(unitToDevice(pageUnit_) * pageScale_, 1e-9);
            const QTransform box(dest.width() / source.width(), 0, 0, dest.height() / source.height(),
                                 dest.x() - source.x() * dest.width() / source.width(),
                                 dest.y() - source.y() * dest.height() / source.height());
            world_ = QTransform::fromScale(page, page) * box * world_;
        }
        break;
    }
    case Restore:
    case EndContainer: {
        const quint32 index = r.u32();
        for (size_t i = saved_.size(); i-- > 0;) {
            if (saved_[i].index != index) continue;
            world_ = saved_[i].world;
            clip_ = saved_[i].clip;
            saved_.resize(i);
            break;
        }
        break;
    }
    case SetWorldTransform: {
        const QTransform t = r.transform();
        if (r.ok()) world_ = t;
        break;
    }
    case ResetWorldTransform: world_ = QTransform(); break;
    case MultiplyWorldTransform:
    case TranslateWorldTransform:
    case ScaleWorldTransform:
    case RotateWorldTransform: {
        QTransform m;
        if (type == MultiplyWorldTransform) {
            m = r.transform();
        } else if (type == TranslateWorldTransform) {
            const double dx = r.f32();
            m = QTransform::fromTranslate(dx, r.f32());
        } else if (type == ScaleWorldTransform) {
            const double sx = r.f32();
            m = QTransform::fromScale(sx, r.f32());
        } else {
            m.rotate(r.f32());
        }
        if (!r.ok()) break;
        world_ = (flags & Append) ? world_ * m : m * world_;
        break;
    }
    case SetPageTransform: {
        const double scale = r.f32();
        if (!r.ok() || !(scale > 0)) break;
        pageUnit_ = flags & 0xFF;
        pageScale_ = scale;
        break;
    }
    case ResetClip: clip_.reset(); break;
    case SetClipRect: {
        QPainterPath p;
        p.addRect(r.rect(false));
        if (r.ok()) setClip(p, (flags >> 8) & 0x0F);
        break;
    }
    case SetClipPath:
    case SetClipRegion: {
        const Object* o = object(flags & 0xFF, type == SetClipPath ? Object::PathKind : Object::RegionKind);
        if (o) setClip(o->path, (flags >> 8) & 0x0F);
        break;
    }
    case OffsetClip: {
        const double dx = r.f32(), dy = r.f32();
        if (!r.ok()) break;
        const QTransform t = worldToImage();
        clip_.offset(t.map(QPointF(dx, dy)) - t.map(QPointF(0, 0)));
        break;
    }
    default: break;
    }
}

}  // namespace metafile::emf
