#include "platform/metafile/Wmf.h"

#include "platform/Picture.h"
#include "platform/metafile/Clip.h"
#include "platform/metafile/Dib.h"
#include "platform/metafile/Fonts.h"
#include "platform/metafile/Gdi.h"
#include "platform/metafile/Metafile.h"
#include "platform/metafile/RasterOp.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <optional>
#include <variant>
#include <vector>

namespace metafile {

namespace {

constexpr quint32 kPlaceableKey = 0x9AC6CDD7u;
constexpr int kMaxSaveDepth = 64;
constexpr int kMaxObjects = 65535;

// Record functions this player knows.
enum Fn : quint16 {
    EofRecord = 0x0000,
    RealizePalette = 0x0035,
    SetPalEntries = 0x0037,
    SaveDC = 0x001E,
    CreatePalette = 0x00F7,
    SetBkMode = 0x0102,
    SetMapMode = 0x0103,
    SetROP2 = 0x0104,
    SetRelabs = 0x0105,
    SetPolyFillMode = 0x0106,
    SetStretchBltMode = 0x0107,
    SetTextCharExtra = 0x0108,
    RestoreDC = 0x0127,
    InvertRegion = 0x012A,
    PaintRegion = 0x012B,
    SelectClipRegion = 0x012C,
    SelectObject = 0x012D,
    SetTextAlign = 0x012E,
    ResizePalette = 0x0139,
    DibCreatePatternBrush = 0x0142,
    SetLayout = 0x0149,
    DeleteObject = 0x01F0,
    CreatePatternBrush = 0x01F9,
    SetBkColor = 0x0201,
    SetTextColor = 0x0209,
    SetTextJustification = 0x020A,
    SetWindowOrg = 0x020B,
    SetWindowExt = 0x020C,
    SetViewportOrg = 0x020D,
    SetViewportExt = 0x020E,
    OffsetWindowOrg = 0x020F,
    OffsetViewportOrg = 0x0211,
    LineTo = 0x0213,
    MoveTo = 0x0214,
    OffsetClipRgn = 0x0220,
    FillRegion = 0x0228,
    SetMapperFlags = 0x0231,
    SelectPalette = 0x0234,
    CreatePenIndirect = 0x02FA,
    CreateFontIndirect = 0x02FB,
    CreateBrushIndirect = 0x02FC,
    Polygon = 0x0324,
    Polyline = 0x0325,
    ScaleWindowExt = 0x0410,
    ScaleViewportExt = 0x0412,
    ExcludeClipRect = 0x0415,
    IntersectClipRect = 0x0416,
    Ellipse = 0x0418,
    FloodFill = 0x0419,
    Rectangle = 0x041B,
    SetPixel = 0x041F,
    FrameRegion = 0x0429,
    AnimatePalette = 0x0436,
    TextOut = 0x0521,
    PolyPolygon = 0x0538,
    ExtFloodFill = 0x0548,
    RoundRect = 0x061C,
    PatBlt = 0x061D,
    Escape = 0x0626,
    CreateRegion = 0x06FF,
    Arc = 0x0817,
    Pie = 0x081A,
    Chord = 0x0830,
    BitBlt = 0x0922,
    DibBitBlt = 0x0940,
    ExtTextOut = 0x0A32,
    StretchBlt = 0x0B23,
    DibStretchBlt = 0x0B41,
    SetDIBitsToDevice = 0x0D33,
    StretchDIB = 0x0F43,
};

// A bounds-checked view of one record's parameters.
class Params {
public:
    Params(const uchar* p, qsizetype n) : p_(p), n_(n) {}
    qsizetype size() const { return n_; }
    bool has(qsizetype bytes) const { return bytes <= n_; }
    qint16 s16(qsizetype at) const { return at + 2 <= n_ ? qFromLittleEndian<qint16>(p_ + at) : 0; }
    quint16 u16(qsizetype at) const { return at + 2 <= n_ ? qFromLittleEndian<quint16>(p_ + at) : 0; }
    quint32 u32(qsizetype at) const { return at + 4 <= n_ ? qFromLittleEndian<quint32>(p_ + at) : 0; }
    quint8 u8(qsizetype at) const { return at < n_ ? p_[at] : 0; }
    const uchar* at(qsizetype offset) const { return p_ + offset; }

private:
    const uchar* p_;
    qsizetype n_;
};

struct PenObj {
    quint16 style = 0;
    qint16 width = 0;
    QColor color = Qt::black;
};
struct BrushObj {
    enum Kind { Solid, Null, Hatched, Pattern } kind = Solid;
    QColor color = Qt::white;
    quint16 hatch = 0;
    QImage pattern;
    bool monoPattern = false;  // a 1-bit bitmap that takes the text and background colours
};
struct FontObj : LogFont {
    QString family;  // the installed face drawn with
};
struct RegionObj {
    QRegion region;  // logical coordinates
};
struct PaletteObj {
    std::vector<QRgb> entries;
};
using Object = std::variant<std::monostate, PenObj, BrushObj, FontObj, RegionObj, PaletteObj>;

struct DcState {
    // Mapping.
    int mapMode = 1;
    QPointF windowOrg{0, 0};
    QSizeF windowExt{1, 1};
    QPointF viewportOrg{0, 0};
    QSizeF viewportExt{1, 1};
    // Drawing attributes.
    PenObj pen;
    BrushObj brush;
    FontObj font;
    bool hasFont = false;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    int bkMode = 2;  // OPAQUE
    int polyFillMode = 1;  // ALTERNATE
    int rop2 = 13;  // R2_COPYPEN
    quint16 textAlign = 0;
    int charExtra = 0;
    QPointF cp{0, 0};
    Clip clip;  // device pixels
};

class Player {
public:
    Player(const uchar* data, qsizetype size) : d_(data), n_(size) {}

    bool parseHeader(QString* error);
    QImage render(QString* error, double zoom);

private:
    // Record loop: calls play() for every record whose length checks out.
    void playAll();
    void play(quint16 fn, const Params& p);

    // Mapping.
    QTransform mapping() const;
    void mappingChanged() { transformDirty_ = true; }
    QPointF toDevice(const QPointF& pt) const { return mapping().map(pt); }
    double scaleX() const;
    double scaleY() const;

    // Drawing primitives; in measuring mode they only grow the bounds.
    void preparePainter();
    void fillAndStroke(const QPainterPath& path, bool fill);
    void strokeOnly(const QPainterPath& path);
    void fillWithBrush(const QPainterPath& path, const BrushObj& brush);
    void addBounds(const QRectF& deviceRect);
    void drawText(QPointF pos, const QByteArray& bytes, const std::vector<qint16>& dx, quint16 options,
                  const QRectF* rect);
    void drawBitmap(const QImage& image, QRectF src, const QRectF& dest, quint32 rop);
    void patBlt(const QRectF& rect, quint32 rop);
    void rasterOp(const QRectF& target, const QImage* source, bool smooth, quint8 code);
    bool rasterOpsUsed_ = false;  // the page needs settling once drawn
    QPen currentPen() const;
    QBrush qtBrush(const BrushObj& b) const;
    QFont qtFont(double* ascent, double* descent);
    void applyClip();
    void combineClip(const QRegion& region, int mode);
    QRegion deviceRegion(const QRectF& logical) const;
    QRegion deviceRegion(const QRegion& logical) const;

    void createObject(Object obj);
    // A COLORREF, looking PALETTEINDEX colours up in the selected palette.
    QColor color(const Params& p, qsizetype at) const;
    QImage readBitmap16(const Params& p, qsizetype at) const;

    const uchar* d_;
    qsizetype n_;
    qsizetype firstRecord_ = 0;
    bool placeable_ = false;
    QRectF bbox_;
    int inch_ = 1440;

    QSize size_;
    QPainter* painter_ = nullptr;
    bool measuring_ = false;
    QRectF bounds_;
    QTransform extra_;  // device adjustment after the mapping (measuring, capping)

    DcState dc_;
    std::vector<QRgb> palette_;
    std::vector<DcState> saved_;
    int unsavedDepth_ = 0;  // SaveDC calls past the depth limit
    std::vector<Object> objects_;
    size_t freeSlot_ = 0;  // no free slot below this one
    // What drawing has cost so far; set up once the picture's size is known.
    WorkBudget budget_;
    bool spend(double pixels) { return budget_.spend(pixels); }
    double onImage(const QRectF& deviceRect) const { return budget_.onImage(deviceRect); }
    mutable bool transformDirty_ = true;
    bool clipDirty_ = true;
    mutable QTransform cached_;
};

bool Player::parseHeader(QString* error) {
    auto fail = [&](const char* why) {
        if (error) *error = QString::fromLatin1(why);
        return false;
    };
    qsizetype at = 0;
    if (n_ >= 22 && qFromLittleEndian<quint32>(d_) == kPlaceableKey) {
        placeable_ = true;
        const Params p(d_, 22);
        const double l = p.s16(6), t = p.s16(8), r = p.s16(10), b = p.s16(12);
        bbox_ = QRectF(QPointF(l, t), QPointF(r, b));
        inch_ = p.u16(14);
        at = 22;
    }
    if (n_ < at + 18) return fail("truncated WMF header");
    const Params h(d_ + at, 18);
    const quint16 headerWords = h.u16(2);
    if (headerWords != 9) return fail("bad WMF header size");
    firstRecord_ = at + 18;
    return true;
}

void Player::createObject(Object obj) {
    // A new object takes the lowest free slot. The table grows as objects are
    // made rather than to the header's count up front, and the search starts
    // at the lowest slot that can be free.
    while (freeSlot_ < objects_.size() && !std::holds_alternative<std::monostate>(objects_[freeSlot_])) ++freeSlot_;
    if (freeSlot_ < objects_.size()) {
        objects_[freeSlot_++] = std::move(obj);
        return;
    }
    // Past the header's count too: a header that under-counts is common
    // enough to tolerate, within the 16-bit index range.
    if (int(objects_.size()) < kMaxObjects) {
        objects_.push_back(std::move(obj));
        freeSlot_ = objects_.size();
    }
}

QColor Player::color(const Params& p, qsizetype at) const {
    const quint32 cr = p.u32(at);
    if ((cr >> 24) == 0x01) {
        const quint32 index = cr & 0xFFFF;
        return index < palette_.size() ? QColor::fromRgb(palette_[index]) : QColor(Qt::black);
    }
    return colorRef(cr);
}

QTransform Player::mapping() const {
    if (!transformDirty_) return cached_;
    double wx = dc_.windowExt.width(), wy = dc_.windowExt.height();
    double vx = dc_.viewportExt.width(), vy = dc_.viewportExt.height();
    if (wx == 0) wx = 1;
    if (wy == 0) wy = 1;
    double sx = vx / wx, sy = vy / wy;
    // Extents scaled over and over can reach absurd ratios; keep the
    // arithmetic finite.
    auto sane = [](double v) { return std::isfinite(v) ? std::clamp(v, -1.0e6, 1.0e6) : 1.0; };
    sx = sane(sx);
    sy = sane(sy);
    if (dc_.mapMode == 7) {  // MM_ISOTROPIC: one scale for both axes
        const double s = std::min(std::abs(sx), std::abs(sy));
        sx = sx < 0 ? -s : s;
        sy = sy < 0 ? -s : s;
    }
    QTransform t(sx, 0, 0, sy, sane(dc_.viewportOrg.x() - dc_.windowOrg.x() * sx), sane(dc_.viewportOrg.y() - dc_.windowOrg.y() * sy));
    cached_ = t * extra_;
    transformDirty_ = false;
    return cached_;
}

double Player::scaleX() const {
    const QTransform t = mapping();
    return std::hypot(t.m11(), t.m12());
}
double Player::scaleY() const {
    const QTransform t = mapping();
    return std::hypot(t.m21(), t.m22());
}

QRegion Player::deviceRegion(const QRectF& logical) const {
    return Clip::fromRect(mapping().mapRect(logical.normalized()));
}

QRegion Player::deviceRegion(const QRegion& logical) const {
    std::vector<QRegion> parts;
    parts.reserve(size_t(logical.rectCount()));
    for (const QRect& r : logical) parts.push_back(deviceRegion(QRectF(r)));
    return Clip::unite(std::move(parts));
}

void Player::combineClip(const QRegion& region, int mode) {
    dc_.clip.combine(region, mode);
    clipDirty_ = true;
}

void Player::applyClip() {
    if (!clipDirty_ || !painter_) return;
    clipDirty_ = false;
    dc_.clip.apply(*painter_);
}

void Player::preparePainter() {
    if (measuring_) return;
    applyClip();
}

void Player::addBounds(const QRectF& r) {
    if (!measuring_ || r.isNull()) return;
    bounds_ = bounds_.isNull() ? r : bounds_.united(r);
}

QPen Player::currentPen() const {
    const PenObj& p = dc_.pen;
    const Qt::PenStyle style = penStyle(p.style);
    if (style == Qt::NoPen) return QPen(Qt::NoPen);
    QPen pen(p.color);
    double w = std::abs(double(p.width));
    const double deviceWidth = w * scaleX();
    // GDI draws a pen thinner than a pixel one pixel wide; the dashed styles
    // only apply to such thin pens.
    if (deviceWidth <= 1.0) {
        pen.setWidthF(0);
        pen.setCosmetic(true);
        pen.setStyle(style);
    } else {
        pen.setWidthF(deviceWidth);
        pen.setStyle(Qt::SolidLine);
    }
    // A one-pixel GDI line covers its start pixel but not its end pixel.
    pen.setCapStyle(pen.isCosmetic() ? Qt::FlatCap : penCap(p.style));
    pen.setJoinStyle(penJoin(p.style));
    return pen;
}

QBrush Player::qtBrush(const BrushObj& b) const {
    switch (b.kind) {
    case BrushObj::Null: return QBrush(Qt::NoBrush);
    case BrushObj::Solid: return QBrush(b.color);
    case BrushObj::Hatched:
    case BrushObj::Pattern: {
        QImage img;
        if (b.kind == BrushObj::Hatched) {
            img = hatchImage(b.hatch, b.color);
            if (img.isNull()) return QBrush(b.color);
        } else if (b.monoPattern) {
            // A 1-bit pattern: set bits take the background colour, clear bits the text colour.
            img = b.pattern.convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < img.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int x = 0; x < img.width(); ++x)
                    line[x] = qGray(line[x]) > 127 ? dc_.bkColor.rgba() : dc_.textColor.rgba();
            }
        } else {
            img = b.pattern;
        }
        if (img.isNull()) return QBrush(Qt::NoBrush);
        // Drawn in device pixels, so the pattern repeats in pixels whatever the mapping.
        return QBrush(img);
    }
    }
    return QBrush(b.color);
}

// GDI fills and thin lines land on whole pixels; snapping the device
// coordinates the same way keeps edges and hairlines crisp instead of smeared
// over two half-covered pixels.
QPainterPath snapped(QPainterPath path, double offset) {
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        path.setElementPositionAt(i, std::floor(e.x + 0.5 - offset) + offset, std::floor(e.y + 0.5 - offset) + offset);
    }
    return path;
}

void Player::fillWithBrush(const QPainterPath& path, const BrushObj& brush) {
    if (brush.kind == BrushObj::Null) return;
    const QPainterPath dev = snapped(mapping().map(path), 0.0);
    if (measuring_) {
        addBounds(dev.boundingRect());
        return;
    }
    if (!spend(onImage(dev.boundingRect()) + dev.elementCount())) return;
    preparePainter();
    const bool aa = !heavyShape(dev, size_);
    if (!aa) painter_->setRenderHint(QPainter::Antialiasing, false);
    if (brush.kind == BrushObj::Hatched && dc_.bkMode == 2) painter_->fillPath(dev, dc_.bkColor);
    painter_->fillPath(dev, qtBrush(brush));
    if (!aa) painter_->setRenderHint(QPainter::Antialiasing, true);
}

void Player::fillAndStroke(const QPainterPath& path, bool fill) {
    bool nop = false;
    rop2Mode(quint32(dc_.rop2), &nop);
    if (nop) return;
    if (fill) fillWithBrush(path, dc_.brush);
    strokeOnly(path);
}

void Player::strokeOnly(const QPainterPath& path) {
    const QPen pen = currentPen();
    if (pen.style() == Qt::NoPen) return;
    QPainterPath dev = mapping().map(path);
    if (pen.isCosmetic()) dev = snapped(dev, 0.5);
    if (measuring_) {
        addBounds(dev.boundingRect().adjusted(-pen.widthF() / 2 - 1, -pen.widthF() / 2 - 1, pen.widthF() / 2 + 1, pen.widthF() / 2 + 1));
        return;
    }
    // A line costs its length times its width, never more than its box.
    double length = 0;
    for (int i = 1; i < dev.elementCount(); ++i)
        length += std::min(QLineF(dev.elementAt(i - 1), dev.elementAt(i)).length(), 2.0 * (size_.width() + size_.height()));
    const double w = pen.widthF() + 2;
    if (!spend(std::min(length * w, onImage(dev.boundingRect().adjusted(-w, -w, w, w))) + dev.elementCount())) return;
    preparePainter();
    const bool aa = !heavyStroke(dev, pen, size_);
    if (!aa) painter_->setRenderHint(QPainter::Antialiasing, false);
    painter_->strokePath(dev, pen);
    if (!aa) painter_->setRenderHint(QPainter::Antialiasing, true);
}

QFont Player::qtFont(double* ascent, double* descent) {
    const FontObj& f = dc_.font;
    QFont font(dc_.hasFont ? f.family : QStringLiteral("Liberation Sans"));
    double h = std::abs(double(f.height)) * scaleY();
    if (f.height == 0) h = 16;  // the device default: 12 points
    h = std::clamp(h, 0.5, 4096.0);
    font.setStyleStrategy(QFont::PreferAntialias);
    // Fitted to the pixel grid both ways, as Windows draws metafile text: at
    // equation sizes unhinted stems smear into grey.
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setWeight(QFont::Weight(std::clamp(int(f.weight == 0 ? 400 : f.weight), 1, 1000)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    font.setPixelSize(std::max(1, int(std::lround(h))));
    if (f.height > 0) {
        // A positive height is the cell height (ascent + descent), not the em.
        QFontMetricsF m(font);
        const double cell = m.ascent() + m.descent();
        if (cell > 0) {
            const double em = h * font.pixelSize() / cell;
            font.setPixelSize(std::max(1, int(std::lround(em))));
        }
    }
    if (f.width != 0) {
        QFontMetricsF m(font);
        const double avg = m.averageCharWidth();
        const double wanted = std::abs(double(f.width)) * scaleX();
        if (avg > 0) font.setStretch(std::clamp(int(std::lround(wanted / avg * 100)), 1, 4000));
    }
    QFontMetricsF m(font);
    *ascent = m.ascent();
    *descent = m.descent();
    return font;
}

// Splits 8-bit text into characters, so that a double-byte character takes
// the advances of both its bytes.
std::vector<QByteArray> splitChars(const QByteArray& bytes, quint8 charset) {
    std::vector<QByteArray> out;
    const bool dbcs = charset == 128 || charset == 129 || charset == 130 || charset == 134 || charset == 136;
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar c = uchar(bytes[i]);
        bool lead = false;
        if (dbcs) {
            if (charset == 128)
                lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
            else
                lead = c >= 0x81 && c <= 0xFE;
        }
        const qsizetype len = (lead && i + 1 < bytes.size()) ? 2 : 1;
        out.push_back(bytes.mid(i, len));
        i += len;
    }
    return out;
}

void Player::drawText(QPointF pos, const QByteArray& bytes, const std::vector<qint16>& dx, quint16 options,
                      const QRectF* rect) {
    const bool updateCp = dc_.textAlign & 1;
    if (updateCp) pos = dc_.cp;
    const QTransform m = mapping();
    const double sx = scaleX();
    double ascent = 0, descent = 0;
    const QFont font = qtFont(&ascent, &descent);
    const quint8 charset = dc_.hasFont ? dc_.font.charset : 0;
    const QString face = dc_.hasFont ? dc_.font.face : QString();

    // Opaque and clipping rectangle.
    if (rect && (options & 0x0002)) {
        BrushObj bk;
        bk.color = dc_.bkColor;
        QPainterPath rp;
        rp.addRect(rect->normalized());
        fillWithBrush(rp, bk);
    }
    if (bytes.isEmpty()) return;

    // Character positions along the baseline, in device pixels. With
    // ETO_PDY the advances come in pairs: along the baseline, then upwards.
    const bool pairs = (options & 0x2000) && dx.size() >= size_t(bytes.size()) * 2;
    const auto chars = splitChars(bytes, charset);
    std::vector<QString> texts;
    std::vector<QPointF> offsets;
    texts.reserve(chars.size());
    offsets.reserve(chars.size());
    QFontMetricsF fm(font);
    double x = 0, y = 0;
    qsizetype byteIndex = 0;
    const bool haveDx = !dx.empty();
    const double sy = scaleY();
    for (const QByteArray& c : chars) {
        const QString t = decodeText(c, charset, face);
        texts.push_back(t);
        offsets.emplace_back(x, y);
        if (haveDx) {
            for (qsizetype k = 0; k < c.size(); ++k) {
                const size_t i = size_t(byteIndex + k);
                if (pairs) {
                    x += dx[2 * i] * sx;
                    y -= dx[2 * i + 1] * sy;
                } else if (i < dx.size()) {
                    x += dx[i] * sx;
                }
            }
        } else {
            x += fm.horizontalAdvance(t) + dc_.charExtra * sx;
        }
        byteIndex += c.size();
    }
    const double width = x;

    // Alignment.
    const int horiz = dc_.textAlign & 0x0006;
    const int vert = dc_.textAlign & 0x0018;
    double x0 = 0;
    if (horiz == 0x0002) x0 = -width;          // TA_RIGHT
    else if (horiz == 0x0006) x0 = -width / 2;  // TA_CENTER
    double y0 = 0;
    if (vert == 0x0000) y0 = ascent;            // TA_TOP
    else if (vert == 0x0008) y0 = -descent;     // TA_BOTTOM

    const QPointF exact = m.map(pos);
    // Antialiased text keeps its exact position rather than GDI's whole pixels:
    // at equation sizes half a pixel is a visible share of a letter.
    const QPointF dev = exact;
    const double angle = dc_.hasFont ? dc_.font.escapement / 10.0 : 0.0;
    QTransform textT;
    textT.translate(dev.x(), dev.y());
    textT.rotate(-angle);

    if (updateCp && horiz != 0x0006) {
        // The current position moves on by the text's advance (right-aligned
        // text moves it back).
        QTransform exactT;
        exactT.translate(exact.x(), exact.y());
        exactT.rotate(-angle);
        bool invertible = false;
        const QTransform back = m.inverted(&invertible);
        if (invertible) dc_.cp = back.map(exactT.map(QPointF(horiz == 0x0002 ? -width : width, y)));
    }

    const QRectF cell(x0, y0 - ascent, width, ascent + descent);
    if (measuring_) {
        addBounds(textT.mapRect(cell));
        return;
    }
    const double glyph = std::min((ascent + descent) * (ascent + descent), double(size_.width()) * size_.height());
    if (!spend(double(texts.size()) * (glyph + 1))) return;
    preparePainter();
    painter_->save();
    if (rect && (options & 0x0004)) painter_->setClipRect(m.mapRect(rect->normalized()), Qt::IntersectClip);
    painter_->setTransform(textT);
    if (dc_.bkMode == 2 && !(rect && (options & 0x0002))) painter_->fillRect(cell, dc_.bkColor);
    painter_->setFont(font);
    painter_->setPen(dc_.textColor);
    if (haveDx || dc_.charExtra != 0) {
        for (size_t i = 0; i < texts.size(); ++i) painter_->drawText(QPointF(x0, y0) + offsets[i], texts[i]);
    } else {
        QString all;
        for (const QString& t : texts) all += t;
        painter_->drawText(QPointF(x0, y0), all);
    }
    painter_->restore();
}

// The device pixels a bitmap or brush lands on: GDI blits whole pixels.
QRectF wholePixels(const QRectF& dev) {
    return QRectF(QPointF(std::round(dev.left()), std::round(dev.top())),
                  QPointF(std::round(dev.right()), std::round(dev.bottom())));
}

void Player::drawBitmap(const QImage& image, QRectF src, const QRectF& dest, quint32 rop) {
    if (image.isNull()) return;
    const quint8 code = ropCode(rop);
    if (code == 0xAA) return;  // the destination, unchanged
    if (!ropUsesSource(code)) {
        patBlt(dest, rop);
        return;
    }
    const QRectF target = wholePixels(mapping().mapRect(dest.normalized()));
    if (measuring_) {
        addBounds(target);
        return;
    }
    if (!spend(double(image.width()) * image.height() + onImage(target))) return;
    src = src.normalized().intersected(QRectF(image.rect()));
    if (src.isEmpty()) return;
    QImage img = image.copy(src.toAlignedRect());
    // Negative destination extents mirror the bitmap.
    const bool flipX = dest.width() < 0, flipY = dest.height() < 0;
    if (flipX || flipY) img = img.mirrored(flipX, flipY);
    preparePainter();
    if (code == 0xCC) {  // SRCCOPY
        painter_->drawImage(target, img);
        return;
    }
    // Enlarged bitmaps keep their square pixels, as GDI stretches them;
    // reduced ones are filtered.
    const bool smooth = target.width() < img.width() || target.height() < img.height();
    rasterOp(target, &img, smooth, code);
}

void Player::patBlt(const QRectF& rect, quint32 rop) {
    const quint8 code = ropCode(rop);
    if (code == 0xAA) return;
    // An operation that reads a source has none here: GDI refuses it.
    if (ropUsesSource(code)) return;
    if (!ropUsesDestination(code) && (code == 0x00 || code == 0xFF || code == 0xF0)) {
        // Black, white or the brush: an ordinary fill.
        QPainterPath path;
        path.addRect(rect.normalized());
        BrushObj b;
        if (code == 0xF0) b = dc_.brush;
        else b.color = code ? Qt::white : Qt::black;
        fillWithBrush(path, b);
        return;
    }
    const QRectF target = wholePixels(mapping().mapRect(rect.normalized()));
    if (measuring_) {
        addBounds(target);
        return;
    }
    preparePainter();
    rasterOp(target, nullptr, false, code);
}

// Raster operations other than a copy combine the bitmap, the brush and what
// is already drawn, bit by bit, on the pixels of `target` (RasterOp.h).
void Player::rasterOp(const QRectF& target, const QImage* source, bool smooth, quint8 code) {
    auto* canvas = static_cast<QImage*>(painter_->device());
    QPainterPath shape;
    shape.addRect(target);
    const QRect area = blitArea(shape, canvas->rect(), dc_.clip);
    if (area.isEmpty() || !spend(WorkBudget::RasterOpPixel * area.width() * area.height())) return;
    RopBlit op;
    op.area = area;
    op.code = op.backCode = code;
    op.cover = coverLayer(area, shape, dc_.clip);
    if (op.cover.isNull()) return;
    if (source) {
        op.source = imageLayer(area, *source, QRectF(source->rect()), target, QTransform(), smooth);
        if (op.source.isNull()) return;
    }
    if (ropUsesPattern(code)) {
        const BrushObj& b = dc_.brush;
        if (b.kind == BrushObj::Null) op.pattern = brushLayer(area, {QBrush(Qt::black)});
        else if (b.kind == BrushObj::Hatched) op.pattern = brushLayer(area, {QBrush(dc_.bkColor), qtBrush(b)});
        else op.pattern = brushLayer(area, {qtBrush(b)});
        if (op.pattern.isNull()) return;
    }
    rasterOpsUsed_ = true;
    applyRop(*canvas, op);
}

QImage Player::readBitmap16(const Params& p, qsizetype at) const {
    // Bitmap16: type, width, height, widthBytes, planes, bitsPixel, then the rows.
    if (!p.has(at + 10)) return {};
    const int w = p.s16(at + 2), h = p.s16(at + 4), widthBytes = p.s16(at + 6);
    const int planes = p.u8(at + 8), bpp = p.u8(at + 9);
    if (w <= 0 || h <= 0 || widthBytes <= 0 || planes != 1 || w > 8192 || h > 8192) return {};
    if ((bpp != 1 && bpp != 8 && bpp != 24 && bpp != 32) || qint64(widthBytes) * 8 < qint64(w) * bpp) return {};
    const qsizetype bits = at + 10;
    if (!p.has(bits + qsizetype(widthBytes) * h)) return {};
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        const uchar* s = p.at(bits + qsizetype(widthBytes) * y);
        auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            switch (bpp) {
            case 1: d[x] = ((s[x >> 3] >> (7 - (x & 7))) & 1) ? dc_.bkColor.rgba() : dc_.textColor.rgba(); break;
            case 8: d[x] = qRgb(s[x], s[x], s[x]); break;
            case 24: d[x] = qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]); break;
            case 32: d[x] = qRgb(s[4 * x + 2], s[4 * x + 1], s[4 * x]); break;
            }
        }
    }
    return img;
}

QRectF rectFromLTRB(double l, double t, double r, double b) { return QRectF(QPointF(l, t), QPointF(r, b)); }

// The radial-line angle of `pt` on the ellipse inscribed in `box`, as the
// parametric angle QPainterPath::arcTo expects.
double arcAngle(const QRectF& box, const QPointF& pt) {
    const QPointF c = box.center();
    const double rx = std::max(std::abs(box.width()) / 2, 1e-9), ry = std::max(std::abs(box.height()) / 2, 1e-9);
    return std::atan2(-(pt.y() - c.y()) / ry, (pt.x() - c.x()) / rx) * 180.0 / M_PI;
}

void Player::play(quint16 fn, const Params& p) {
    switch (fn) {
    case SaveDC:
        if (int(saved_.size()) < kMaxSaveDepth)
            saved_.push_back(dc_);
        else
            ++unsavedDepth_;
        break;
    case RestoreDC: {
        int n = p.s16(0);
        if (n >= 0) n = n - int(saved_.size()) - 1;  // absolute level to relative
        if (n >= 0) break;
        for (; n < 0; ++n) {
            if (unsavedDepth_ > 0) {
                --unsavedDepth_;
                continue;
            }
            if (saved_.empty()) break;
            dc_ = saved_.back();
            saved_.pop_back();
        }
        mappingChanged();
        clipDirty_ = true;
        break;
    }
    case SetMapMode: dc_.mapMode = p.u16(0); mappingChanged(); break;
    case SetWindowOrg: dc_.windowOrg = QPointF(p.s16(2), p.s16(0)); mappingChanged(); break;
    case SetWindowExt:
        if (p.s16(0) != 0 && p.s16(2) != 0) dc_.windowExt = QSizeF(p.s16(2), p.s16(0));
        mappingChanged();
        break;
    case SetViewportOrg: dc_.viewportOrg = QPointF(p.s16(2), p.s16(0)) * 1.0; mappingChanged(); break;
    case SetViewportExt:
        // The player owns the viewport (it is the picture's rectangle); a file
        // that sets its own is honoured relative to that.
        if (p.s16(0) != 0 && p.s16(2) != 0) dc_.viewportExt = QSizeF(p.s16(2), p.s16(0));
        mappingChanged();
        break;
    case OffsetWindowOrg: dc_.windowOrg += QPointF(p.s16(2), p.s16(0)); mappingChanged(); break;
    case OffsetViewportOrg: dc_.viewportOrg += QPointF(p.s16(2), p.s16(0)); mappingChanged(); break;
    case ScaleWindowExt:
    case ScaleViewportExt: {
        // yDenom, yNum, xDenom, xNum
        const int yd = p.s16(0), yn = p.s16(2), xd = p.s16(4), xn = p.s16(6);
        if (yd == 0 || xd == 0 || yn == 0 || xn == 0) break;
        QSizeF& e = fn == ScaleWindowExt ? dc_.windowExt : dc_.viewportExt;
        const QSizeF scaled(e.width() * xn / xd, e.height() * yn / yd);
        if (std::abs(scaled.width()) < 1.0e9 && std::abs(scaled.height()) < 1.0e9 && scaled.width() != 0 && scaled.height() != 0)
            e = scaled;
        mappingChanged();
        break;
    }
    case SetBkMode: dc_.bkMode = p.u16(0); break;
    case SetBkColor: dc_.bkColor = color(p, 0); break;
    case SetTextColor: dc_.textColor = color(p, 0); break;
    case SetTextAlign: dc_.textAlign = p.u16(0); break;
    case SetTextCharExtra: dc_.charExtra = p.s16(0); break;
    case SetPolyFillMode: dc_.polyFillMode = p.u16(0); break;
    case SetROP2: dc_.rop2 = p.u16(0); break;
    case MoveTo: dc_.cp = QPointF(p.s16(2), p.s16(0)); break;
    case LineTo: {
        const QPointF to(p.s16(2), p.s16(0));
        QPainterPath path(dc_.cp);
        path.lineTo(to);
        dc_.cp = to;
        fillAndStroke(path, false);
        break;
    }
    case Polygon:
    case Polyline: {
        const int count = p.s16(0);
        if (count <= 0 || !p.has(2 + qsizetype(count) * 4)) break;
        QPolygonF poly;
        poly.reserve(count);
        for (int i = 0; i < count; ++i) poly << QPointF(p.s16(2 + 4 * i), p.s16(4 + 4 * i));
        QPainterPath path;
        path.setFillRule(dc_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
        path.addPolygon(poly);
        if (fn == Polygon) path.closeSubpath();
        fillAndStroke(path, fn == Polygon);
        break;
    }
    case PolyPolygon: {
        const int polys = p.u16(0);
        if (!p.has(2 + qsizetype(polys) * 2)) break;
        qsizetype at = 2 + qsizetype(polys) * 2;
        QPainterPath path;
        path.setFillRule(dc_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
        for (int k = 0; k < polys; ++k) {
            const int count = p.u16(2 + 2 * k);
            if (!p.has(at + qsizetype(count) * 4)) break;
            QPolygonF poly;
            for (int i = 0; i < count; ++i) poly << QPointF(p.s16(at + 4 * i), p.s16(at + 4 * i + 2));
            at += qsizetype(count) * 4;
            path.addPolygon(poly);
            path.closeSubpath();
        }
        fillAndStroke(path, true);
        break;
    }
    case Rectangle:
    case Ellipse: {
        if (!p.has(8)) break;
        const QRectF r = rectFromLTRB(p.s16(6), p.s16(4), p.s16(2), p.s16(0)).normalized();
        QPainterPath path;
        if (fn == Rectangle) path.addRect(r); else path.addEllipse(r);
        fillAndStroke(path, true);
        break;
    }
    case RoundRect: {
        if (!p.has(12)) break;
        const QRectF r = rectFromLTRB(p.s16(10), p.s16(8), p.s16(6), p.s16(4)).normalized();
        const double ew = std::abs(double(p.s16(2))), eh = std::abs(double(p.s16(0)));
        QPainterPath path;
        path.addRoundedRect(r, std::min(ew, r.width()) / 2, std::min(eh, r.height()) / 2);
        fillAndStroke(path, true);
        break;
    }
    case Arc:
    case Pie:
    case Chord: {
        if (!p.has(16)) break;
        const QPointF end(p.s16(2), p.s16(0)), start(p.s16(6), p.s16(4));
        const QRectF box = rectFromLTRB(p.s16(14), p.s16(12), p.s16(10), p.s16(8)).normalized();
        if (box.isEmpty()) break;
        const double a1 = arcAngle(box, start), a2 = arcAngle(box, end);
        double sweep = a2 - a1;
        if (sweep <= 0) sweep += 360;
        QPainterPath path;
        if (fn == Pie) {
            path.moveTo(box.center());
            path.arcTo(box, a1, sweep);
            path.closeSubpath();
        } else {
            path.arcMoveTo(box, a1);
            path.arcTo(box, a1, sweep);
            if (fn == Chord) path.closeSubpath();
        }
        fillAndStroke(path, fn != Arc);
        break;
    }
    case SetPixel: {
        if (!p.has(8)) break;
        const QPointF pt = toDevice(QPointF(p.s16(6), p.s16(4)));
        if (measuring_) {
            addBounds(QRectF(pt, QSizeF(1, 1)));
            break;
        }
        preparePainter();
        painter_->fillRect(QRectF(std::floor(pt.x()), std::floor(pt.y()), 1, 1), color(p, 0));
        break;
    }
    case TextOut: {
        const int len = p.s16(0);
        if (len < 0 || !p.has(2 + ((qsizetype(len) + 1) & ~1) + 4)) break;
        const qsizetype after = 2 + ((qsizetype(len) + 1) & ~1);
        const QByteArray text(reinterpret_cast<const char*>(p.at(2)), len);
        drawText(QPointF(p.s16(after + 2), p.s16(after)), text, {}, 0, nullptr);
        break;
    }
    case ExtTextOut: {
        if (!p.has(8)) break;
        const QPointF pos(p.s16(2), p.s16(0));
        const int len = p.s16(4);
        const quint16 options = p.u16(6);
        qsizetype at = 8;
        QRectF rect;
        bool haveRect = false;
        if (options & 0x0006) {
            if (!p.has(16)) break;
            rect = rectFromLTRB(p.s16(8), p.s16(10), p.s16(12), p.s16(14));
            haveRect = true;
            at = 16;
        }
        if (len < 0 || !p.has(at + len)) break;
        const QByteArray text(reinterpret_cast<const char*>(p.at(at)), len);
        at += (qsizetype(len) + 1) & ~1;
        std::vector<qint16> dx;
        const qsizetype count = (options & 0x2000) && p.has(at + qsizetype(len) * 4) ? qsizetype(len) * 2 : len;
        if (len > 0 && p.has(at + count * 2)) {
            dx.resize(size_t(count));
            for (qsizetype i = 0; i < count; ++i) dx[size_t(i)] = p.s16(at + 2 * i);
        }
        drawText(pos, text, dx, options, haveRect ? &rect : nullptr);
        break;
    }
    case CreatePenIndirect: {
        PenObj pen;
        pen.style = p.u16(0);
        pen.width = p.s16(2);
        pen.color = color(p, 6);
        createObject(pen);
        break;
    }
    case CreateBrushIndirect: {
        BrushObj b;
        const quint16 style = p.u16(0);
        b.color = color(p, 2);
        b.hatch = p.u16(6);
        if (style == 1) b.kind = BrushObj::Null;
        else if (style == 2) b.kind = BrushObj::Hatched;
        else b.kind = BrushObj::Solid;  // BS_SOLID, and pattern styles that carry no bitmap here
        createObject(b);
        break;
    }
    case DibCreatePatternBrush: {
        BrushObj b;
        b.kind = BrushObj::Pattern;
        if (p.size() > 4) b.pattern = decodePackedDib(p.at(4), p.size() - 4);
        if (b.pattern.isNull()) {
            b.kind = BrushObj::Solid;
            b.color = Qt::black;
        }
        createObject(b);
        break;
    }
    case CreatePatternBrush: {
        BrushObj b;
        b.kind = BrushObj::Pattern;
        // Bitmap16 header, 18 reserved bytes, then the bits.
        if (p.has(10) && p.u8(9) == 1 && p.u8(8) == 1) {
            const int w = p.s16(2), h = p.s16(4), wb = p.s16(6);
            const qsizetype bits = 10 + 18;
            if (w > 0 && h > 0 && w <= 256 && h <= 256 && wb * 8 >= w && p.has(bits + qsizetype(wb) * h)) {
                QImage img(w, h, QImage::Format_ARGB32);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        img.setPixel(x, y, ((p.u8(bits + qsizetype(wb) * y + x / 8) >> (7 - x % 8)) & 1) ? 0xFFFFFFFFu : 0xFF000000u);
                b.pattern = img;
                b.monoPattern = true;
            }
        }
        if (b.pattern.isNull()) b.kind = BrushObj::Solid, b.color = Qt::black;
        createObject(b);
        break;
    }
    case CreateFontIndirect: {
        FontObj f;
        f.height = p.s16(0);
        f.width = p.s16(2);
        f.escapement = p.s16(4);
        f.weight = p.s16(8);
        f.italic = p.u8(10);
        f.underline = p.u8(11);
        f.strikeOut = p.u8(12);
        f.charset = p.u8(13);
        if (p.size() > 18) {
            QByteArray name(reinterpret_cast<const char*>(p.at(18)), std::min<qsizetype>(p.size() - 18, 32));
            const qsizetype nul = name.indexOf('\0');
            if (nul >= 0) name.truncate(nul);
            bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x80; });
            f.face = ascii ? QString::fromLatin1(name) : decodeText(name, f.charset == 0 ? 128 : f.charset, QString());
        }
        f.family = substituteFace(f.face);
        createObject(f);
        break;
    }
    case CreatePalette: {
        // Start (the version), the entry count, then R, G, B, flags per entry.
        PaletteObj pal;
        const int count = p.u16(2);
        for (int i = 0; i < count && p.has(4 + 4 * qsizetype(i) + 4); ++i)
            pal.entries.push_back(qRgb(p.u8(4 + 4 * i), p.u8(5 + 4 * i), p.u8(6 + 4 * i)));
        createObject(std::move(pal));
        break;
    }
    case SelectPalette: {
        const quint16 i = p.u16(0);
        if (i < objects_.size())
            if (const auto* pal = std::get_if<PaletteObj>(&objects_[i])) palette_ = pal->entries;
        break;
    }
    case CreateRegion: {
        // Region16: nextInChain, objectType, objectCount, regionSize, scanCount,
        // maxScan, bounding box, then the scans.
        RegionObj r;
        if (p.has(22)) {
            const int scans = p.s16(12);
            qsizetype at = 22;
            for (int s = 0; s < scans && p.has(at + 6); ++s) {
                const int count = p.u16(at);
                const int top = p.s16(at + 2), bottom = p.s16(at + 4);
                at += 6;
                if (!p.has(at + qsizetype(count) * 2 + 2)) break;
                for (int k = 0; k + 1 < count; k += 2) {
                    const int l = p.s16(at + 2 * k), rr = p.s16(at + 2 * k + 2);
                    if (rr > l && bottom > top) r.region += QRect(l, top, rr - l, bottom - top);
                }
                at += qsizetype(count) * 2 + 2;
            }
            if (r.region.isEmpty()) {
                const QRectF b = rectFromLTRB(p.s16(14), p.s16(16), p.s16(18), p.s16(20)).normalized();
                r.region = QRegion(b.toRect());
            }
        }
        createObject(r);
        break;
    }
    case SelectObject: {
        const quint16 i = p.u16(0);
        if (i >= objects_.size()) break;
        const Object& o = objects_[i];
        if (auto* pen = std::get_if<PenObj>(&o)) dc_.pen = *pen;
        else if (auto* brush = std::get_if<BrushObj>(&o)) dc_.brush = *brush;
        else if (auto* font = std::get_if<FontObj>(&o)) dc_.font = *font, dc_.hasFont = true;
        else if (auto* region = std::get_if<RegionObj>(&o)) combineClip(deviceRegion(region->region), ClipCopy);
        break;
    }
    case SelectClipRegion: {
        // A region object becomes the clip; anything else (the null handle)
        // removes it.
        const quint16 i = p.u16(0);
        const auto* region = i < objects_.size() ? std::get_if<RegionObj>(&objects_[i]) : nullptr;
        if (region) {
            combineClip(deviceRegion(region->region), ClipCopy);
        } else {
            dc_.clip.reset();
            clipDirty_ = true;
        }
        break;
    }
    case DeleteObject: {
        const quint16 i = p.u16(0);
        if (i < objects_.size()) {
            objects_[i] = std::monostate{};
            freeSlot_ = std::min<size_t>(freeSlot_, i);
        }
        break;
    }
    case IntersectClipRect:
    case ExcludeClipRect: {
        if (!p.has(8)) break;
        const QRegion r = deviceRegion(rectFromLTRB(p.s16(6), p.s16(4), p.s16(2), p.s16(0)));
        combineClip(r, fn == IntersectClipRect ? ClipAnd : ClipDiff);
        break;
    }
    case OffsetClipRgn:
        if (!p.has(4)) break;
        dc_.clip.offset(mapping().map(QPointF(p.s16(2), p.s16(0))) - mapping().map(QPointF(0, 0)));
        clipDirty_ = true;
        break;
    case FillRegion:
    case PaintRegion:
    case FrameRegion: {
        const quint16 ri = p.u16(0);
        if (ri >= objects_.size()) break;
        const auto* region = std::get_if<RegionObj>(&objects_[ri]);
        if (!region) break;
        QPainterPath path;
        path.addRegion(region->region);
        if (fn == PaintRegion) {
            fillWithBrush(path, dc_.brush);
        } else {
            const quint16 bi = p.u16(2);
            if (bi < objects_.size())
                if (const auto* brush = std::get_if<BrushObj>(&objects_[bi])) {
                    if (fn == FillRegion) fillWithBrush(path.simplified(), *brush);
                }
        }
        break;
    }
    case PatBlt: {
        if (!p.has(12)) break;
        const QRectF r(p.s16(10), p.s16(8), p.s16(6), p.s16(4));
        patBlt(r, p.u32(0));
        break;
    }
    case DibBitBlt:
    case DibStretchBlt:
    case BitBlt:
    case StretchBlt: {
        const bool stretch = fn == DibStretchBlt || fn == StretchBlt;
        const quint32 rop = p.u32(0);
        const qsizetype noBitmapSize = 2 * ((fn >> 8) + 3) - 6;
        if (p.size() <= noBitmapSize) {
            // No bitmap: the raster operation works on the brush alone.
            const qsizetype at = 6 + (stretch ? 4 : 0);
            const QRectF dest(p.s16(at + 10), p.s16(at + 8), p.s16(at + 6), p.s16(at + 4));
            patBlt(dest, rop);
            break;
        }
        qsizetype at = 4;
        double sh = 0, sw = 0;
        if (stretch) {
            sh = p.s16(at);
            sw = p.s16(at + 2);
            at += 4;
        }
        const double ys = p.s16(at), xs = p.s16(at + 2);
        const double dh = p.s16(at + 4), dw = p.s16(at + 6), yd = p.s16(at + 8), xd = p.s16(at + 10);
        at += 12;
        if (!stretch) {
            sh = dh;
            sw = dw;
        }
        const QImage img = (fn == DibBitBlt || fn == DibStretchBlt) ? decodePackedDib(p.at(at), p.size() - at)
                                                                     : readBitmap16(p, at);
        drawBitmap(img, QRectF(xs, ys, sw, sh), QRectF(xd, yd, dw, dh), rop);
        break;
    }
    case StretchDIB: {
        if (!p.has(22)) break;
        const quint32 rop = p.u32(0);
        const double sh = p.s16(6), sw = p.s16(8), ys = p.s16(10), xs = p.s16(12);
        const double dh = p.s16(14), dw = p.s16(16), yd = p.s16(18), xd = p.s16(20);
        const QImage img = decodePackedDib(p.at(22), p.size() - 22);
        // The source origin of a bottom-up DIB is its lower-left corner.
        const double top = img.height() - ys - std::abs(sh);
        drawBitmap(img, QRectF(xs, top, sw, sh), QRectF(xd, yd, dw, dh), rop);
        break;
    }
    case SetDIBitsToDevice: {
        if (!p.has(18)) break;
        const double yDib = p.s16(6), xDib = p.s16(8), h = p.s16(10), w = p.s16(12);
        const double yd = p.s16(14), xd = p.s16(16);
        const QImage img = decodePackedDib(p.at(18), p.size() - 18);
        const double top = img.height() - yDib - std::abs(h);
        drawBitmap(img, QRectF(xDib, top, w, h), QRectF(xd, yd, w, h), 0x00CC0020u);
        break;
    }
    default:
        // Escapes, palette changes, flood fills and mapper flags change
        // nothing we draw.
        break;
    }
}

void Player::playAll() {
    objects_.clear();
    freeSlot_ = 0;
    qsizetype pos = firstRecord_;
    while (pos + 6 <= n_) {
        const quint32 words = qFromLittleEndian<quint32>(d_ + pos);
        const quint16 fn = qFromLittleEndian<quint16>(d_ + pos + 4);
        if (fn == EofRecord) break;
        // A record whose size runs past the end of the file, or is too small
        // to hold its own header, ends the picture there.
        if (words < 3 || qint64(words) * 2 > n_ - pos) break;
        const Params params(d_ + pos + 6, qsizetype(words) * 2 - 6);
        play(fn, params);
        if (budget_.exhausted()) break;
        pos += qsizetype(words) * 2;
    }
}

QImage Player::render(QString* error, double zoom) {
    // Find the picture's size in pixels and the logical window it shows.
    QPointF winOrg(0, 0);
    QSizeF winExt;
    bool haveExt = false;
    {
        qsizetype pos = firstRecord_;
        bool haveOrg = false;
        while (pos + 6 <= n_) {
            const quint32 words = qFromLittleEndian<quint32>(d_ + pos);
            const quint16 fn = qFromLittleEndian<quint16>(d_ + pos + 4);
            if (fn == EofRecord || words < 3 || qint64(words) * 2 > n_ - pos) break;
            const Params p(d_ + pos + 6, qsizetype(words) * 2 - 6);
            if (fn == SetWindowOrg && !haveExt) {
                winOrg = QPointF(p.s16(2), p.s16(0));
                haveOrg = true;
            } else if (fn == SetWindowExt && !haveExt && p.s16(0) != 0 && p.s16(2) != 0) {
                winExt = QSizeF(p.s16(2), p.s16(0));
                haveExt = true;
                if (haveOrg) break;
            }
            pos += qsizetype(words) * 2;
        }
    }

    double width = 0, height = 0;
    if (placeable_) {
        const int inch = inch_ > 0 ? inch_ : 1440;
        width = std::abs(bbox_.width()) * 96.0 / inch;
        height = std::abs(bbox_.height()) * 96.0 / inch;
        dc_.windowOrg = bbox_.topLeft();
        dc_.windowExt = QSizeF(bbox_.width() == 0 ? 1 : bbox_.width(), bbox_.height() == 0 ? 1 : bbox_.height());
    } else if (haveExt) {
        width = std::abs(winExt.width()) * 96.0 / 1440.0;
        height = std::abs(winExt.height()) * 96.0 / 1440.0;
        dc_.windowOrg = winOrg;
        dc_.windowExt = winExt;
    }
    if (placeable_ || haveExt) {
        dc_.viewportExt = QSizeF(std::max(width, 1e-3), std::max(height, 1e-3));
    } else {
        // No size anywhere: the drawing's own bounds, one logical unit a pixel.
        const DcState initial = dc_;
        measuring_ = true;
        size_ = QSize(MaxPictureSide, MaxPictureSide);
        playAll();
        measuring_ = false;
        dc_ = initial;
        saved_.clear();
        unsavedDepth_ = 0;
        if (bounds_.isEmpty()) {
            if (error) *error = QStringLiteral("WMF draws nothing and has no size");
            return {};
        }
        const QRectF b = bounds_.intersected(QRectF(-32768, -32768, 65536, 65536));
        width = b.width();
        height = b.height();
        dc_.viewportOrg = -b.topLeft();
    }

    // Zoom, then cap the size, scaling the whole picture down.
    double scale = zoom;
    if (width * zoom > MaxPictureSide || height * zoom > MaxPictureSide) scale = MaxPictureSide / std::max(width, height);
    if (width * height * scale * scale > MaxPictureArea) scale = std::sqrt(MaxPictureArea / (width * height));
    const int w = std::clamp(int(std::ceil(width * scale - 1e-6)), 1, MaxPictureSide);
    const int h = std::clamp(int(std::ceil(height * scale - 1e-6)), 1, MaxPictureSide);
    extra_ = QTransform::fromScale(scale, scale);
    size_ = QSize(w, h);
    budget_ = WorkBudget(size_);

    QImage image(size_, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        if (error) *error = QStringLiteral("out of memory for the picture");
        return {};
    }
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter_ = &painter;
    mappingChanged();
    dc_.clip.setSurface(QRect(QPoint(0, 0), size_));
    clipDirty_ = true;
    playAll();
    painter.end();
    painter_ = nullptr;
    if (rasterOpsUsed_) settlePage(image);
    return image;
}

}  // namespace

QImage renderWmf(const QByteArray& data, QString* error, double zoom) {
    Player player(reinterpret_cast<const uchar*>(data.constData()), data.size());
    if (!player.parseHeader(error)) return {};
    return player.render(error, zoom);
}

}  // namespace metafile
