#include "platform/metafile/EmfPlayer.h"

#include "platform/metafile/Dib.h"
#include "platform/metafile/Gdi.h"

#include <QLinearGradient>
#include <QPainterPathStroker>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace metafile::emf {

namespace {


enum PolyKind { Polyline, Polygon, PolyBezier, PolylineTo, PolyBezierTo };
enum ArcKind { ArcOnly, ChordShape, PieShape, ArcToKind };

constexpr quint32 EmfPlusSignature = 0x2B464D45;  // "EMF+"
constexpr int MaxObjects = 65536;
constexpr int MaxPatternSide = 256;
// World transforms past this magnitude only serve to push coordinates out of
// any range a rasteriser handles; such a record is ignored.
bool usableTransform(const QTransform& t) {
    constexpr double Limit = 1e9;
    if (!finiteTransform(t)) return false;
    for (double v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (std::abs(v) > Limit) return false;
    return true;
}

QTransform xform(const Record& r, quint32 off) {
    return QTransform(r.f32(off), r.f32(off + 4), r.f32(off + 8), r.f32(off + 12), r.f32(off + 16),
                      r.f32(off + 20));
}

ObjectRef makeBrush(Brush::Style style, QColor color) {
    Object o;
    o.kind = Object::BrushObject;
    o.brush.style = style;
    o.brush.color = color;
    return std::make_shared<const Object>(o);
}

ObjectRef makePen(bool null, QColor color) {
    Object o;
    o.kind = Object::PenObject;
    o.pen.null = null;
    o.pen.color = color;
    return std::make_shared<const Object>(o);
}

ObjectRef makeFont(const QString& face, qint32 height) {
    Object o;
    o.kind = Object::FontObject;
    o.font.face = face;
    o.font.height = height;
    o.font.weight = 400;
    return std::make_shared<const Object>(o);
}

}  // namespace

Player::Player(QPainter& painter, const QTransform& deviceToImage, QSize imageSize, QSizeF devicePixelsPerMm,
               quint32 handleCount)
    : painter_(painter), deviceToImage_(deviceToImage), imageSize_(imageSize), devPerMm_(devicePixelsPerMm),
      budget_(imageSize) {
    objects_.resize(std::clamp<quint32>(handleCount, 1, MaxObjects));
    dc_.clip.setSurface(QRect(QPoint(0, 0), imageSize));
    stock_[0] = makeBrush(Brush::Solid, Qt::white);
    stock_[1] = makeBrush(Brush::Solid, QColor(192, 192, 192));
    stock_[2] = makeBrush(Brush::Solid, QColor(128, 128, 128));
    stock_[3] = makeBrush(Brush::Solid, QColor(64, 64, 64));
    stock_[4] = makeBrush(Brush::Solid, Qt::black);
    stock_[5] = makeBrush(Brush::Null, Qt::black);
    stock_[6] = makePen(false, Qt::white);
    stock_[7] = makePen(false, Qt::black);
    stock_[8] = makePen(true, Qt::black);
    const ObjectRef fixedFont = makeFont(QStringLiteral("Courier New"), -13);
    const ObjectRef varFont = makeFont(QStringLiteral("Arial"), -13);
    stock_[10] = fixedFont;
    stock_[11] = fixedFont;
    stock_[12] = varFont;
    stock_[13] = varFont;
    stock_[14] = varFont;
    // The default palette: the twenty colours every palette device reserves.
    Object palette;
    palette.kind = Object::PaletteObject;
    palette.palette = {qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),     qRgb(128, 128, 0),
                       qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128),   qRgb(192, 192, 192),
                       qRgb(192, 220, 192), qRgb(166, 202, 240), qRgb(255, 251, 240), qRgb(160, 160, 164),
                       qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),     qRgb(255, 255, 0),
                       qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255),   qRgb(255, 255, 255)};
    stock_[15] = std::make_shared<const Object>(palette);
    stock_[16] = fixedFont;
    stock_[17] = varFont;
    stock_[18] = stock_[0];
    stock_[19] = stock_[7];
    dc_.pen = stock_[7];
    dc_.brush = stock_[0];
    dc_.font = varFont;
    dc_.palette = stock_[15];
}

bool Player::play(const uchar* data, qsizetype size, qsizetype offset) {
    while (offset >= 0 && size - offset >= 8) {
        const quint32 type = qFromLittleEndian<quint32>(data + offset);
        const quint32 recordSize = qFromLittleEndian<quint32>(data + offset + 4);
        if (recordSize < 8 || recordSize % 4 != 0 || recordSize > quint64(size - offset)) return false;
        if (type == EMR_EOF) return true;
        const Record r(data + offset, recordSize, type);
        if (!plus_) {
            record(r);
        } else if (type == EMR_GDICOMMENT && r.has(8, 8) && r.u32(12) == EmfPlusSignature) {
            const quint32 cb = std::min(r.u32(8), recordSize - 12);
            plus_->play(r.data() + 16, cb >= 4 ? cb - 4 : 0);
            if (plus_->handedOver()) applyClip();  // the plain records' own clip
        } else if (plus_->handedOver()) {
            record(r);
        }
        // Past the budget the rest of the picture is left undrawn.
        if (budget_.exhausted()) return true;
        offset += recordSize;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Transforms

QTransform Player::pageToDevice() const {
    double sx = 1, sy = 1;
    const double mmx = devPerMm_.width(), mmy = devPerMm_.height();
    switch (dc_.mapMode) {
    case 2: sx = 0.1 * mmx; sy = -0.1 * mmy; break;               // MM_LOMETRIC
    case 3: sx = 0.01 * mmx; sy = -0.01 * mmy; break;             // MM_HIMETRIC
    case 4: sx = 0.254 * mmx; sy = -0.254 * mmy; break;           // MM_LOENGLISH
    case 5: sx = 0.0254 * mmx; sy = -0.0254 * mmy; break;         // MM_HIENGLISH
    case 6: sx = 25.4 / 1440 * mmx; sy = -25.4 / 1440 * mmy; break;  // MM_TWIPS
    case 7:
    case 8:
        sx = dc_.viewportExt.width() / dc_.windowExt.width();
        sy = dc_.viewportExt.height() / dc_.windowExt.height();
        if (dc_.mapMode == 7) {
            // Isotropic: both axes take the smaller scale, each keeping its sign.
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default: break;  // MM_TEXT
    }
    return QTransform(sx, 0, 0, sy, dc_.viewportOrg.x() - dc_.windowOrg.x() * sx,
                      dc_.viewportOrg.y() - dc_.windowOrg.y() * sy);
}

QTransform Player::logicalToImage() const {
    if (!toImage_) toImage_ = dc_.world * pageToDevice() * deviceToImage_;
    return *toImage_;
}

double Player::imageScale() const {
    const QTransform t = logicalToImage();
    return std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
}

bool Player::flipped() const {
    const QTransform t = logicalToImage();
    return t.m11() * t.m22() - t.m12() * t.m21() < 0;
}

// ---------------------------------------------------------------------------
// Objects

void Player::storeObject(quint32 index, Object obj) {
    if (index == 0 || index >= quint32(MaxObjects)) return;
    if (index >= objects_.size()) objects_.resize(index + 1);
    objects_[index] = std::make_shared<const Object>(std::move(obj));
}

void Player::createPen(const Record& r) {
    if (!r.has(8, 20)) return;
    Object o;
    o.kind = Object::PenObject;
    const quint32 style = r.u32(12);
    const qint32 width = r.i32(16);
    o.pen.color = colorRef(r.u32(24));
    o.pen.null = (style & 0xF) == 5;
    o.pen.width = std::abs(double(width));
    o.pen.cosmetic = width <= 1;
    // A plain pen wider than a pixel is always drawn solid.
    o.pen.style = o.pen.width > 1 ? Qt::SolidLine : penStyle(style & 0xF);
    storeObject(r.u32(8), std::move(o));
}

void Player::extCreatePen(const Record& r) {
    if (!r.has(8, 44)) return;
    Object o;
    o.kind = Object::PenObject;
    const quint32 style = r.u32(28);
    const quint32 brushStyle = r.u32(36);
    o.pen.color = colorRef(r.u32(40));
    o.pen.null = (style & 0xF) == 5 || brushStyle == 1;
    const bool geometric = (style & 0x10000) != 0;
    o.pen.cosmetic = !geometric;
    o.pen.width = geometric ? std::abs(double(r.i32(32))) : 0;
    switch (style & 0xF00) {
    case 0x100: o.pen.cap = Qt::SquareCap; break;
    case 0x200: o.pen.cap = Qt::FlatCap; break;
    default: o.pen.cap = Qt::RoundCap; break;
    }
    switch (style & 0xF000) {
    case 0x1000: o.pen.join = Qt::BevelJoin; break;
    case 0x2000: o.pen.join = Qt::MiterJoin; break;
    default: o.pen.join = Qt::RoundJoin; break;
    }
    const quint32 base = style & 0xF;
    if (base == 7) {  // PS_USERSTYLE
        const quint32 n = r.u32(48);
        if (n > 0 && n <= 16 && r.hasArray(52, n, 4)) {
            for (quint32 i = 0; i < n; ++i) o.pen.dashes.append(std::max<qreal>(r.u32(52 + 4 * i), 0.0));
            if (n % 2) o.pen.dashes.append(o.pen.dashes);  // odd counts repeat
            o.pen.style = Qt::CustomDashLine;
        }
    } else if (base == 8) {  // PS_ALTERNATE
        o.pen.style = Qt::DotLine;
    } else {
        o.pen.style = penStyle(base);
    }
    storeObject(r.u32(8), std::move(o));
}

void Player::createBrush(const Record& r) {
    if (!r.has(8, 16)) return;
    Object o;
    o.kind = Object::BrushObject;
    const quint32 style = r.u32(12);
    o.brush.color = colorRef(r.u32(16));
    o.brush.hatch = r.u32(20);
    o.brush.style = style == 1 ? Brush::Null : style == 2 ? Brush::Hatched : Brush::Solid;
    storeObject(r.u32(8), std::move(o));
}

void Player::createDibPatternBrush(const Record& r) {
    if (!r.has(8, 24)) return;
    Object o;
    o.kind = Object::BrushObject;
    const quint32 usage = r.u32(12);
    QImage pattern = dibAt(r, r.u32(16), r.u32(20), r.u32(24), r.u32(28), usage);
    if (usage == 1 && !pattern.isNull() && pattern.width() <= MaxPatternSide && pattern.height() <= MaxPatternSide) {
        // Checked by the decoding above; coloured again whenever it fills.
        const quint32 offBmi = r.u32(16), cbBmi = r.u32(20), offBits = r.u32(24), cbBits = r.u32(28);
        o.brush.paletteDib = QByteArray(reinterpret_cast<const char*>(r.data() + offBmi), cbBmi) +
                             QByteArray(reinterpret_cast<const char*>(r.data() + offBits), cbBits);
        o.brush.paletteDibInfo = cbBmi;
    }
    // Patterns are small tiles; the object table may hold thousands of them,
    // so a large one is kept at a bounded size.
    if (pattern.width() > MaxPatternSide || pattern.height() > MaxPatternSide)
        pattern = pattern.scaled(std::min(pattern.width(), MaxPatternSide), std::min(pattern.height(), MaxPatternSide));
    if (pattern.isNull()) {
        // Keep the slot filled so that selecting it does not keep the previous
        // brush; a mid grey is what such a pattern mostly averages to.
        o.brush.style = Brush::Solid;
        o.brush.color = QColor(128, 128, 128);
    } else {
        o.brush.style = Brush::Pattern;
        o.brush.pattern = pattern;
    }
    storeObject(r.u32(8), std::move(o));
}

void Player::createFont(const Record& r) {
    if (!r.has(8, 32)) return;
    Object o;
    o.kind = Object::FontObject;
    Font& f = o.font;
    f.height = r.i32(12);
    f.width = r.i32(16);
    f.escapement = r.i32(20);
    f.weight = r.i32(28);
    f.italic = r.u8(32) != 0;
    f.underline = r.u8(33) != 0;
    f.strikeOut = r.u8(34) != 0;
    f.charset = r.u8(35);
    for (quint32 i = 0; i < 32 && r.has(40 + 2 * i, 2); ++i) {
        const char16_t c = r.u16(40 + 2 * i);
        if (c == 0) break;
        f.face.append(QChar(c));
    }
    storeObject(r.u32(8), std::move(o));
}

void Player::selectObject(quint32 index) {
    ObjectRef obj;
    if (index & 0x80000000u) {
        const quint32 stock = index & 0x7FFFFFFFu;
        if (stock < 20) obj = stock_[stock];
    } else if (index < objects_.size()) {
        obj = objects_[index];
    }
    if (!obj) return;
    switch (obj->kind) {
    case Object::PenObject: dc_.pen = obj; break;
    case Object::BrushObject: dc_.brush = obj; break;
    case Object::FontObject: dc_.font = obj; break;
    default: break;
    }
}

// Logical palettes: created, selected, changed in place and resized. The
// device context sees a change to the palette it has selected.
void Player::paletteRecord(const Record& r) {
    constexpr quint32 MaxEntries = 1024;
    const quint32 index = r.u32(8);
    if (r.type() == EMR_SELECTPALETTE) {
        ObjectRef obj;
        if (index == 0x8000000Fu) obj = stock_[15];  // DEFAULT_PALETTE
        else if (index < objects_.size()) obj = objects_[index];
        if (obj && obj->kind == Object::PaletteObject) dc_.palette = obj;
        return;
    }
    Object o;
    o.kind = Object::PaletteObject;
    if (r.type() == EMR_CREATEPALETTE) {
        // LOGPALETTE: version, entry count, then red, green, blue, flags.
        const quint32 n = std::min<quint32>(r.u16(14), MaxEntries);
        for (quint32 i = 0; i < n && r.has(16 + 4 * i, 4); ++i)
            o.palette.append(qRgb(r.u8(16 + 4 * i), r.u8(17 + 4 * i), r.u8(18 + 4 * i)));
        storeObject(index, std::move(o));
        return;
    }
    if (index >= objects_.size() || !objects_[index] || objects_[index]->kind != Object::PaletteObject) return;
    const ObjectRef old = objects_[index];
    o.palette = old->palette;
    if (r.type() == EMR_SETPALETTEENTRIES) {
        const quint32 start = r.u32(12), n = r.u32(16);
        for (quint32 i = 0; i < n && start + i < quint32(o.palette.size()) && r.has(20 + 4 * i, 4); ++i)
            o.palette[start + i] = qRgb(r.u8(20 + 4 * i), r.u8(21 + 4 * i), r.u8(22 + 4 * i));
    } else {  // EMR_RESIZEPALETTE: new entries are black
        o.palette.resize(std::min(r.u32(12), MaxEntries), qRgb(0, 0, 0));
    }
    storeObject(index, std::move(o));
    if (dc_.palette == old) dc_.palette = objects_[index];
}

QImage Player::patternOf(const Brush& b) const {
    if (b.paletteDib.isEmpty()) return b.pattern;
    const auto* bytes = reinterpret_cast<const uchar*>(b.paletteDib.constData());
    const QImage image = decodeDib(bytes, b.paletteDibInfo, bytes + b.paletteDibInfo,
                                   b.paletteDib.size() - b.paletteDibInfo, &dc_.palette->palette);
    return image.isNull() ? b.pattern : image;
}

void Player::deleteObject(quint32 index) {
    // The device context keeps its own reference, as GDI keeps a selected
    // object alive until something else is selected.
    if (index < objects_.size()) objects_[index].reset();
}

bool Player::hasPen() const { return dc_.pen && !dc_.pen->pen.null && dc_.rop2 != 11; }
bool Player::hasBrush() const { return dc_.brush && dc_.brush->brush.style != Brush::Null && dc_.rop2 != 11; }

QPen Player::currentPen() const {
    const Pen& p = dc_.pen->pen;
    QColor color = p.color;
    if (dc_.rop2 == 1) color = Qt::black;        // R2_BLACK
    else if (dc_.rop2 == 16) color = Qt::white;  // R2_WHITE
    const double maxWidth = 4.0 * std::max(imageSize_.width(), imageSize_.height());
    double width = p.cosmetic ? 1.0 : p.width * imageScale();
    width = clampd(width, 1.0, maxWidth);
    QPen pen(color, width, p.style, p.cosmetic ? Qt::FlatCap : p.cap, p.join);
    if (p.join == Qt::MiterJoin) pen.setMiterLimit(clampd(dc_.miterLimit, 1, 100));
    if (p.style == Qt::CustomDashLine && !p.dashes.isEmpty()) {
        // GDI gives user dash lengths in logical units; Qt wants pen widths.
        const double unit = p.cosmetic ? 1.0 : imageScale();
        QList<qreal> pattern;
        bool any = false;
        for (qreal d : p.dashes) {
            const qreal v = clampd(d * unit / width, 0, 1e4);
            any = any || v > 0;
            pattern.append(std::max<qreal>(v, 0.01));
        }
        if (any) pen.setDashPattern(pattern);
        else pen.setStyle(Qt::SolidLine);
    }
    return pen;
}

// ---------------------------------------------------------------------------
// Drawing

void Player::fillImagePath(const QPainterPath& imagePath, const Brush& b) {
    painter_.setTransform(QTransform());
    painter_.setPen(Qt::NoPen);
    QColor color = b.color;
    if (dc_.rop2 == 1) color = Qt::black;
    else if (dc_.rop2 == 16) color = Qt::white;
    if (b.style == Brush::Null) return;
    const double area = budget_.onImage(imagePath.controlPointRect());
    if (!budget_.spend((b.style == Brush::Hatched ? 2 : 1) * area + imagePath.elementCount())) return;
    const bool aa = !heavyShape(imagePath, imageSize_);
    if (!aa) painter_.setRenderHint(QPainter::Antialiasing, false);
    switch (b.style) {
    case Brush::Null: break;
    case Brush::Solid: painter_.fillPath(imagePath, color); break;
    case Brush::Hatched:
        if (dc_.bkMode == 2) painter_.fillPath(imagePath, dc_.bkColor);
        painter_.fillPath(imagePath, hatchBrush(b.hatch, color));
        break;
    case Brush::Pattern: painter_.fillPath(imagePath, QBrush(patternOf(b))); break;
    }
    if (!aa) painter_.setRenderHint(QPainter::Antialiasing, true);
}

void Player::strokeImagePath(const QPainterPath& imagePath) {
    painter_.setTransform(QTransform());
    painter_.setBrush(Qt::NoBrush);
    const QPen pen = currentPen();
    // A line one pixel wide lies on the pixels right and below its
    // coordinates, as GDI draws it; centred on the pixel edge it would smear
    // into two half-covered rows.
    if (pen.widthF() <= 1.5) painter_.setTransform(QTransform::fromTranslate(0.5, 0.5));
    // A line costs its length times its width, never more than its box.
    double length = 0;
    const double longest = 2.0 * (imageSize_.width() + imageSize_.height());
    for (int i = 1; i < imagePath.elementCount(); ++i)
        length += std::min(QLineF(imagePath.elementAt(i - 1), imagePath.elementAt(i)).length(), longest);
    const double w = pen.widthF() + 2;
    const double cost = std::min(length * w, budget_.onImage(imagePath.controlPointRect().adjusted(-w, -w, w, w)));
    if (!budget_.spend(cost + imagePath.elementCount())) return;
    const bool aa = !heavyStroke(imagePath, pen, imageSize_);
    if (!aa) painter_.setRenderHint(QPainter::Antialiasing, false);
    if (dc_.bkMode == 2 && pen.style() != Qt::SolidLine && pen.style() != Qt::NoPen) {
        // Opaque background: the gaps of a styled line take the background colour.
        QPen gap = pen;
        gap.setStyle(Qt::SolidLine);
        gap.setColor(dc_.bkColor);
        painter_.setPen(gap);
        painter_.drawPath(imagePath);
    }
    painter_.setPen(pen);
    painter_.drawPath(imagePath);
    if (!aa) painter_.setRenderHint(QPainter::Antialiasing, true);
}

void Player::drawShape(const QPainterPath& logical, bool fill, bool stroke) {
    const QTransform t = logicalToImage();
    QPainterPath image = t.map(logical);
    image.setFillRule(dc_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    if (inPath_) {
        path_.addPath(image);
        // These records leave the current position alone, so a following
        // "To" record starts a figure of its own there.
        figureOpen_ = false;
        return;
    }
    if (fill && hasBrush()) fillImagePath(image, dc_.brush->brush);
    if (stroke && hasPen()) strokeImagePath(image);
}

void Player::lineToPath(QPointF logical) {
    const QTransform t = logicalToImage();
    if (!figureOpen_) {
        path_.moveTo(t.map(dc_.current));
        figureOpen_ = true;
    }
    path_.lineTo(t.map(logical));
}

void Player::appendToPath(const QPainterPath& logical, bool connect) {
    const QPainterPath image = logicalToImage().map(logical);
    // A figure that MoveToEx has just begun is continued by adding: Qt's
    // connectPath drops that move and joins the new part to the previous
    // figure with a line, which StrokePath would then draw.
    const int n = path_.elementCount();
    const bool justMoved = n > 0 && path_.elementAt(n - 1).isMoveTo();
    if (connect && figureOpen_ && !justMoved) path_.connectPath(image);
    else path_.addPath(image);
    figureOpen_ = true;
}

void Player::polyRecord(const Record& r, bool shortPoints, int kind) {
    if (!r.has(24, 4)) return;
    const quint32 count = r.u32(24);
    const quint32 item = shortPoints ? 4 : 8;
    if (!r.hasArray(28, count, item)) return;
    QPolygonF pts;
    pts.reserve(count);
    for (quint32 i = 0; i < count; ++i)
        pts.append(shortPoints ? r.pointS(28 + i * item) : r.pointL(28 + i * item));
    if (pts.isEmpty()) return;

    QPainterPath path;
    switch (kind) {
    case Polyline:
        if (pts.size() < 2) return;
        path.addPolygon(pts);
        drawShape(path, false, true);
        return;
    case Polygon:
        if (pts.size() < 2) return;
        path.addPolygon(pts);
        path.closeSubpath();
        drawShape(path, true, true);
        return;
    case PolyBezier:
        if (pts.size() < 4) return;
        path.moveTo(pts[0]);
        for (qsizetype i = 1; i + 2 < pts.size(); i += 3) path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        drawShape(path, false, true);
        return;
    case PolylineTo:
    case PolyBezierTo: {
        path.moveTo(dc_.current);
        QPointF last = dc_.current;
        if (kind == PolylineTo) {
            for (const QPointF& p : pts) path.lineTo(p);
            last = pts.back();
        } else {
            qsizetype i = 0;
            for (; i + 2 < pts.size(); i += 3) path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            if (i > 0) last = pts[i - 1];
        }
        if (inPath_) appendToPath(path, true);
        else if (hasPen()) strokeImagePath(logicalToImage().map(path));
        dc_.current = last;
        return;
    }
    }
}

// PolyDraw: points, each with a type byte (move, line, curve, and a flag that
// closes the figure), continuing from the current position.
void Player::polyDraw(const Record& r, bool shortPoints) {
    if (!r.has(24, 4)) return;
    const quint32 count = r.u32(24);
    const quint32 item = shortPoints ? 4 : 8;
    if (!r.hasArray(28, count, item)) return;
    const quint64 typesAt = 28 + quint64(count) * item;
    if (!r.hasArray(typesAt, count, 1)) return;
    auto point = [&](quint32 i) { return shortPoints ? r.pointS(28 + i * item) : r.pointL(28 + i * item); };
    QPainterPath path;
    path.moveTo(dc_.current);
    QPointF last = dc_.current;
    for (quint32 i = 0; i < count; ++i) {
        const quint8 type = r.u8(quint32(typesAt + i));
        const QPointF p = point(i);
        switch (type & 0x6) {
        case 0x6: path.moveTo(p); last = p; break;  // PT_MOVETO
        case 0x2: path.lineTo(p); last = p; break;  // PT_LINETO
        case 0x4:                                   // PT_BEZIERTO, in threes
            if (i + 2 < count) {
                path.cubicTo(p, point(i + 1), point(i + 2));
                i += 2;
                last = point(i);
            }
            break;
        default: break;
        }
        if (type & 0x1) path.closeSubpath();  // PT_CLOSEFIGURE
    }
    if (inPath_) appendToPath(path, true);
    else if (hasPen()) strokeImagePath(logicalToImage().map(path));
    dc_.current = last;
}

void Player::polyPolyRecord(const Record& r, bool shortPoints, bool polygon) {
    if (!r.has(24, 8)) return;
    const quint32 polys = r.u32(24);
    const quint32 total = r.u32(28);
    const quint32 item = shortPoints ? 4 : 8;
    if (!r.hasArray(32, polys, 4)) return;
    const quint64 pointsAt = 32 + quint64(polys) * 4;
    if (!r.hasArray(pointsAt, total, item)) return;
    QPainterPath path;
    quint64 used = 0;
    for (quint32 k = 0; k < polys; ++k) {
        const quint32 n = r.u32(32 + 4 * k);
        if (n > total - used) break;  // counts that add up past the points given
        QPolygonF pts;
        pts.reserve(n);
        for (quint32 i = 0; i < n; ++i) {
            const quint32 off = quint32(pointsAt + (used + i) * item);
            pts.append(shortPoints ? r.pointS(off) : r.pointL(off));
        }
        used += n;
        if (pts.size() < 2) continue;
        path.addPolygon(pts);
        if (polygon) path.closeSubpath();
    }
    if (path.isEmpty()) return;
    drawShape(path, polygon, true);
}

QPainterPath Player::arcPath(const QRectF& boxIn, QPointF start, QPointF end, bool moveToStart,
                             QPointF* startPoint, QPointF* endPoint) const {
    QPainterPath path;
    const QRectF box = boxIn.normalized();
    const double rx = box.width() / 2, ry = box.height() / 2;
    if (rx <= 0 || ry <= 0) return path;
    const QPointF c = box.center();
    auto angleOf = [&](QPointF p) {
        return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180.0 / M_PI;
    };
    const double a1 = angleOf(start);
    const double a2 = angleOf(end);
    // Arcs run counter-clockwise as seen on the device unless the direction
    // was changed; a flipped mapping reverses what that means in logical space.
    bool ccw = dc_.arcDirection != 2;
    if (flipped()) ccw = !ccw;
    double sweep;
    if (ccw) {
        sweep = std::fmod(a2 - a1 + 720.0, 360.0);
        if (sweep <= 1e-9) sweep = 360;
    } else {
        sweep = -std::fmod(a1 - a2 + 720.0, 360.0);
        if (sweep >= -1e-9) sweep = -360;
    }
    const auto pointAt = [&](double deg) {
        const double rad = deg * M_PI / 180.0;
        return QPointF(c.x() + rx * std::cos(rad), c.y() - ry * std::sin(rad));
    };
    if (startPoint) *startPoint = pointAt(a1);
    if (endPoint) *endPoint = pointAt(a1 + sweep);
    if (moveToStart) path.arcMoveTo(box, a1);
    path.arcTo(box, a1, sweep);
    return path;
}

void Player::arcRecord(const Record& r, int kind) {
    if (!r.has(8, 32)) return;
    const QRectF box = r.rectL(8);
    QPointF s, e;
    QPainterPath path = arcPath(box, r.pointL(24), r.pointL(32), kind != PieShape, &s, &e);
    if (path.isEmpty()) return;
    switch (kind) {
    case ArcOnly: drawShape(path, false, true); break;
    case ChordShape:
        path.closeSubpath();
        drawShape(path, true, true);
        break;
    case PieShape: {
        QPainterPath pie;
        pie.moveTo(box.normalized().center());
        pie.connectPath(path);
        pie.closeSubpath();
        drawShape(pie, true, true);
        break;
    }
    case ArcToKind: {
        QPainterPath full;
        full.moveTo(dc_.current);
        full.lineTo(s);
        full.connectPath(path);
        if (inPath_) appendToPath(full, true);
        else if (hasPen()) strokeImagePath(logicalToImage().map(full));
        dc_.current = e;
        break;
    }
    }
}

// ---------------------------------------------------------------------------
// Other drawing records

void Player::gradientFill(const Record& r) {
    if (!r.has(24, 12)) return;
    const quint32 nVer = r.u32(24), nTri = r.u32(28), mode = r.u32(32);
    if (!r.hasArray(36, nVer, 16)) return;
    const quint64 meshAt = 36 + quint64(nVer) * 16;
    const quint32 meshItem = mode == 2 ? 12 : 8;
    if (!r.hasArray(meshAt, nTri, meshItem)) return;
    auto vertex = [&](quint32 i, QPointF* p, QColor* c) {
        const quint32 off = 36 + 16 * i;
        *p = r.pointL(off);
        *c = QColor(r.u16(off + 8) >> 8, r.u16(off + 10) >> 8, r.u16(off + 12) >> 8);
    };
    const QTransform t = logicalToImage();
    painter_.setTransform(QTransform());
    painter_.setPen(Qt::NoPen);
    for (quint32 k = 0; k < nTri; ++k) {
        const quint32 off = quint32(meshAt + quint64(k) * meshItem);
        if (mode == 2) {
            QPointF p[3];
            QColor c[3];
            bool ok = true;
            for (int j = 0; j < 3; ++j) {
                const quint32 idx = r.u32(off + 4 * j);
                if (idx >= nVer) ok = false;
                else vertex(idx, &p[j], &c[j]);
            }
            if (!ok) continue;
            if (inPath_) continue;
            shadeTriangle({t.map(p[0]), t.map(p[1]), t.map(p[2])}, c);
        } else {
            const quint32 a = r.u32(off), b = r.u32(off + 4);
            if (a >= nVer || b >= nVer) continue;
            QPointF pa, pb;
            QColor ca, cb;
            vertex(a, &pa, &ca);
            vertex(b, &pb, &cb);
            const QRectF rect = QRectF(pa, pb).normalized();
            QPainterPath path;
            path.addRect(rect);
            const QPointF g1 = t.map(pa);
            const QPointF g2 = mode == 0 ? t.map(QPointF(pb.x(), pa.y())) : t.map(QPointF(pa.x(), pb.y()));
            QLinearGradient grad(g1, g2);
            grad.setColorAt(0, ca);
            grad.setColorAt(1, cb);
            if (inPath_) continue;
            const QPainterPath imagePath = t.map(path);
            if (!budget_.spend(budget_.onImage(imagePath.controlPointRect()))) return;
            painter_.fillPath(imagePath, grad);
        }
    }
}

// Gouraud shading: each pixel whose centre lies in the triangle takes the
// corners' colours weighted by its barycentric coordinates.
void Player::shadeTriangle(const std::array<QPointF, 3>& p, const QColor* c) {
    const double det = (p[1].y() - p[2].y()) * (p[0].x() - p[2].x()) + (p[2].x() - p[1].x()) * (p[0].y() - p[2].y());
    if (!finite(det) || std::abs(det) < 1e-9) return;
    const QRectF bounds = QPolygonF({p[0], p[1], p[2]}).boundingRect();
    const QRect area = bounds.toAlignedRect().intersected(QRect(QPoint(0, 0), imageSize_));
    if (area.isEmpty()) return;
    // Shaded pixel by pixel, like a raster operation.
    if (!budget_.spend(WorkBudget::RasterOpPixel * area.width() * area.height())) return;
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return;
    layer.fill(Qt::transparent);
    constexpr double Edge = -1e-6;
    for (int y = 0; y < area.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(layer.scanLine(y));
        const double py = area.top() + y + 0.5;
        for (int x = 0; x < area.width(); ++x) {
            const double px = area.left() + x + 0.5;
            const double w0 = ((p[1].y() - p[2].y()) * (px - p[2].x()) + (p[2].x() - p[1].x()) * (py - p[2].y())) / det;
            const double w1 = ((p[2].y() - p[0].y()) * (px - p[2].x()) + (p[0].x() - p[2].x()) * (py - p[2].y())) / det;
            const double w2 = 1 - w0 - w1;
            if (w0 < Edge || w1 < Edge || w2 < Edge) continue;
            auto mix = [&](int a, int b, int d) { return std::clamp(int(std::lround(w0 * a + w1 * b + w2 * d)), 0, 255); };
            line[x] = qRgb(mix(c[0].red(), c[1].red(), c[2].red()), mix(c[0].green(), c[1].green(), c[2].green()),
                           mix(c[0].blue(), c[1].blue(), c[2].blue()));
        }
    }
    painter_.setTransform(QTransform());
    painter_.drawImage(area.topLeft(), layer);
}

void Player::regionRecord(const Record& r) {
    if (!r.has(24, 4)) return;
    const quint32 cb = r.u32(24);
    quint32 dataAt = 28;
    if (r.type() == EMR_FILLRGN) dataAt = 32;
    else if (r.type() == EMR_FRAMERGN) dataAt = 40;
    if (!r.has(dataAt, cb) || cb < 32) return;
    const quint32 count = r.u32(dataAt + 8);
    if (quint64(count) > (cb - 32) / 16) return;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (quint32 i = 0; i < count; ++i) path.addRect(deviceToImage_.mapRect(r.rectL(dataAt + 32 + 16 * i)));
    Brush brush;
    if (r.type() == EMR_PAINTRGN) {
        if (!hasBrush()) return;
        brush = dc_.brush->brush;
    } else {
        const quint32 ih = r.u32(28);
        ObjectRef obj;
        if (ih & 0x80000000u) {
            if ((ih & 0x7FFFFFFFu) < 20) obj = stock_[ih & 0x7FFFFFFFu];
        } else if (ih < objects_.size()) {
            obj = objects_[ih];
        }
        if (!obj || obj->kind != Object::BrushObject) return;
        brush = obj->brush;
    }
    if (r.type() == EMR_FRAMERGN) {
        const double w = clampd(std::abs(double(r.i32(32))) * deviceToImage_.m11(), 1, 1000);
        painter_.setTransform(QTransform());
        painter_.setBrush(Qt::NoBrush);
        painter_.setPen(QPen(brush.color, w));
        if (!budget_.spend(budget_.onImage(path.controlPointRect()) + path.elementCount())) return;
        painter_.drawPath(path.simplified());
        return;
    }
    fillImagePath(path, brush);
}

// ---------------------------------------------------------------------------
// The record switch

void Player::record(const Record& r) {
    // Every record that can change the mapping; the case that handles it below
    // may still refuse the change, which only costs working it out again.
    switch (r.type()) {
    case EMR_SETWINDOWEXTEX: case EMR_SETWINDOWORGEX: case EMR_SETVIEWPORTEXTEX: case EMR_SETVIEWPORTORGEX:
    case EMR_SCALEVIEWPORTEXTEX: case EMR_SCALEWINDOWEXTEX: case EMR_SETMAPMODE: case EMR_RESTOREDC:
    case EMR_SETWORLDTRANSFORM: case EMR_MODIFYWORLDTRANSFORM:
        toImage_.reset();
        break;
    default: break;
    }
    switch (r.type()) {
    case EMR_POLYBEZIER: polyRecord(r, false, PolyBezier); break;
    case EMR_POLYGON: polyRecord(r, false, Polygon); break;
    case EMR_POLYLINE: polyRecord(r, false, Polyline); break;
    case EMR_POLYBEZIERTO: polyRecord(r, false, PolyBezierTo); break;
    case EMR_POLYLINETO: polyRecord(r, false, PolylineTo); break;
    case EMR_POLYBEZIER16: polyRecord(r, true, PolyBezier); break;
    case EMR_POLYGON16: polyRecord(r, true, Polygon); break;
    case EMR_POLYLINE16: polyRecord(r, true, Polyline); break;
    case EMR_POLYBEZIERTO16: polyRecord(r, true, PolyBezierTo); break;
    case EMR_POLYLINETO16: polyRecord(r, true, PolylineTo); break;
    case EMR_POLYDRAW: polyDraw(r, false); break;
    case EMR_POLYDRAW16: polyDraw(r, true); break;
    case EMR_POLYPOLYLINE: polyPolyRecord(r, false, false); break;
    case EMR_POLYPOLYGON: polyPolyRecord(r, false, true); break;
    case EMR_POLYPOLYLINE16: polyPolyRecord(r, true, false); break;
    case EMR_POLYPOLYGON16: polyPolyRecord(r, true, true); break;

    case EMR_SETWINDOWEXTEX:
    case EMR_SETVIEWPORTEXTEX: {
        if (!r.has(8, 8)) break;
        const double cx = r.i32(8), cy = r.i32(12);
        if (cx == 0 || cy == 0) break;  // GDI refuses a zero extent
        (r.type() == EMR_SETWINDOWEXTEX ? dc_.windowExt : dc_.viewportExt) = QSizeF(cx, cy);
        break;
    }
    case EMR_SETWINDOWORGEX:
        if (r.has(8, 8)) dc_.windowOrg = r.pointL(8);
        break;
    case EMR_SETVIEWPORTORGEX:
        if (r.has(8, 8)) dc_.viewportOrg = r.pointL(8);
        break;
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
        if (!r.has(8, 16)) break;
        const double xn = r.i32(8), xd = r.i32(12), yn = r.i32(16), yd = r.i32(20);
        if (xd == 0 || yd == 0 || xn == 0 || yn == 0) break;
        QSizeF& ext = r.type() == EMR_SCALEWINDOWEXTEX ? dc_.windowExt : dc_.viewportExt;
        ext = QSizeF(ext.width() * xn / xd, ext.height() * yn / yd);
        break;
    }
    case EMR_SETMAPMODE: {
        const quint32 m = r.u32(8);
        if (m >= 1 && m <= 8) dc_.mapMode = int(m);
        break;
    }
    case EMR_SETBKMODE: {
        const quint32 m = r.u32(8);
        if (m == 1 || m == 2) dc_.bkMode = int(m);
        break;
    }
    case EMR_SETPOLYFILLMODE: {
        const quint32 m = r.u32(8);
        if (m == 1 || m == 2) dc_.polyFillMode = int(m);
        break;
    }
    case EMR_SETROP2: {
        const quint32 m = r.u32(8);
        if (m >= 1 && m <= 16) dc_.rop2 = int(m);
        break;
    }
    case EMR_SETTEXTALIGN: dc_.textAlign = r.u32(8); break;
    case EMR_SETTEXTCOLOR: dc_.textColor = colorRef(r.u32(8)); break;
    case EMR_SETBKCOLOR: dc_.bkColor = colorRef(r.u32(8)); break;
    case EMR_SETARCDIRECTION: {
        const quint32 d = r.u32(8);
        if (d == 1 || d == 2) dc_.arcDirection = int(d);
        break;
    }
    case EMR_SETMITERLIMIT: {
        // Written as an integer by most programs, as a float by a few.
        const quint32 bits = r.u32(8);
        double v = bits;
        if (bits > 0x10000) v = r.f32(8);
        if (finite(v) && v >= 1) dc_.miterLimit = v;
        break;
    }
    case EMR_MOVETOEX:
        if (!r.has(8, 8)) break;
        dc_.current = r.pointL(8);
        if (inPath_) {
            path_.moveTo(logicalToImage().map(dc_.current));
            figureOpen_ = true;
        }
        break;
    case EMR_LINETO: {
        if (!r.has(8, 8)) break;
        const QPointF p = r.pointL(8);
        if (inPath_) {
            lineToPath(p);
        } else if (hasPen()) {
            QPainterPath line;
            line.moveTo(dc_.current);
            line.lineTo(p);
            strokeImagePath(logicalToImage().map(line));
        }
        dc_.current = p;
        break;
    }
    case EMR_SETPIXELV: {
        if (!r.has(8, 12) || inPath_) break;
        const QPointF o = logicalToImage().map(r.pointL(8));
        const double px = std::max(1.0, deviceToImage_.m11());
        painter_.setTransform(QTransform());
        painter_.fillRect(QRectF(o, QSizeF(px, px)), colorRef(r.u32(16)));
        break;
    }

    case EMR_RECTANGLE:
    case EMR_ELLIPSE: {
        if (!r.has(8, 16)) break;
        QPainterPath path;
        const QRectF box = r.rectL(8).normalized();
        if (r.type() == EMR_RECTANGLE) path.addRect(box);
        else path.addEllipse(box);
        drawShape(path, true, true);
        break;
    }
    case EMR_ROUNDRECT: {
        if (!r.has(8, 24)) break;
        QPainterPath path;
        const QRectF box = r.rectL(8).normalized();
        const double rx = std::min(std::abs(double(r.i32(24))) / 2.0, box.width() / 2);
        const double ry = std::min(std::abs(double(r.i32(28))) / 2.0, box.height() / 2);
        path.addRoundedRect(box, rx, ry);
        drawShape(path, true, true);
        break;
    }
    case EMR_ARC: arcRecord(r, ArcOnly); break;
    case EMR_CHORD: arcRecord(r, ChordShape); break;
    case EMR_PIE: arcRecord(r, PieShape); break;
    case EMR_ARCTO: arcRecord(r, ArcToKind); break;
    case EMR_ANGLEARC: {
        if (!r.has(8, 20)) break;
        const QPointF c = r.pointL(8);
        const double radius = r.u32(16);
        const double start = r.f32(20), sweep = r.f32(24);
        if (!finite(start) || !finite(sweep) || radius > 1e9) break;
        const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
        QPainterPath path;
        path.moveTo(dc_.current);
        path.arcTo(box, start, clampd(sweep, -3600, 3600));
        const QPointF end = path.currentPosition();
        if (inPath_) appendToPath(path, true);
        else if (hasPen()) strokeImagePath(logicalToImage().map(path));
        dc_.current = end;
        break;
    }

    case EMR_SAVEDC:
        if (saved_.size() < size_t(MaxSaveDepth)) saved_.push_back(dc_);
        break;
    case EMR_RESTOREDC: {
        const qint32 n = r.i32(8);
        qint64 target;  // index into saved_ of the state to restore
        if (n < 0) target = qint64(saved_.size()) + n;
        else target = qint64(n) - 1;
        if (target < 0 || target >= qint64(saved_.size())) break;
        dc_ = saved_[size_t(target)];
        saved_.resize(size_t(target));
        applyClip();
        break;
    }
    case EMR_SETWORLDTRANSFORM: {
        if (!r.has(8, 24)) break;
        const QTransform t = xform(r, 8);
        if (usableTransform(t)) dc_.world = t;
        break;
    }
    case EMR_MODIFYWORLDTRANSFORM: {
        if (!r.has(8, 28)) break;
        const QTransform t = xform(r, 8);
        if (!usableTransform(t)) break;
        switch (r.u32(32)) {
        case 1: dc_.world = QTransform(); break;         // MWT_IDENTITY
        case 2: dc_.world = t * dc_.world; break;        // MWT_LEFTMULTIPLY
        case 3: dc_.world = dc_.world * t; break;        // MWT_RIGHTMULTIPLY
        case 4: dc_.world = t; break;                    // MWT_SET
        default: break;
        }
        if (!usableTransform(dc_.world)) dc_.world = QTransform();
        break;
    }

    case EMR_SELECTOBJECT: selectObject(r.u32(8)); break;
    case EMR_DELETEOBJECT: deleteObject(r.u32(8)); break;
    case EMR_CREATEPEN: createPen(r); break;
    case EMR_EXTCREATEPEN: extCreatePen(r); break;
    case EMR_CREATEBRUSHINDIRECT: createBrush(r); break;
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT: createDibPatternBrush(r); break;
    case EMR_EXTCREATEFONTINDIRECTW: createFont(r); break;
    case EMR_CREATEPALETTE:
    case EMR_SELECTPALETTE:
    case EMR_SETPALETTEENTRIES:
    case EMR_RESIZEPALETTE: paletteRecord(r); break;

    case EMR_BEGINPATH:
        inPath_ = true;
        figureOpen_ = false;
        path_ = QPainterPath();
        break;
    case EMR_ENDPATH: inPath_ = false; break;
    case EMR_ABORTPATH:
        inPath_ = false;
        path_ = QPainterPath();
        break;
    case EMR_CLOSEFIGURE:
        if (inPath_) {
            path_.closeSubpath();
            figureOpen_ = false;
        }
        break;
    case EMR_FLATTENPATH: break;  // curves are kept as curves
    case EMR_WIDENPATH: {
        if (!dc_.pen) break;
        QPainterPathStroker stroker(currentPen());
        path_ = stroker.createStroke(path_);
        break;
    }
    case EMR_FILLPATH:
    case EMR_STROKEPATH:
    case EMR_STROKEANDFILLPATH: {
        if (inPath_) break;  // GDI refuses these inside an open bracket
        QPainterPath p = path_;
        p.setFillRule(dc_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
        if (r.type() != EMR_STROKEPATH && hasBrush()) {
            QPainterPath closed = p;
            fillImagePath(closed, dc_.brush->brush);
        }
        if (r.type() != EMR_FILLPATH && hasPen()) strokeImagePath(p);
        path_ = QPainterPath();
        break;
    }
    case EMR_SELECTCLIPPATH:
    case EMR_INTERSECTCLIPRECT:
    case EMR_EXCLUDECLIPRECT:
    case EMR_EXTSELECTCLIPRGN:
    case EMR_SETMETARGN:
    case EMR_OFFSETCLIPRGN: clipRecord(r); break;

    case EMR_GDICOMMENT:
        // EMF+ records ride in comments; files that carry them also carry the
        // plain drawing, which is what we play.
        if (r.has(8, 8) && r.u32(12) == EmfPlusSignature) ++emfPlusComments_;
        break;

    case EMR_FILLRGN:
    case EMR_FRAMERGN:
    case EMR_PAINTRGN: regionRecord(r); break;

    case EMR_BITBLT:
    case EMR_STRETCHBLT:
    case EMR_MASKBLT:
    case EMR_PLGBLT:
    case EMR_SETDIBITSTODEVICE:
    case EMR_STRETCHDIBITS:
    case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT: bitmapRecord(r); break;

    case EMR_EXTTEXTOUTW: textRecord(r, true); break;
    case EMR_EXTTEXTOUTA: textRecord(r, false); break;
    case EMR_POLYTEXTOUTW: polyTextRecord(r, true); break;
    case EMR_POLYTEXTOUTA: polyTextRecord(r, false); break;
    case EMR_SMALLTEXTOUT: smallTextRecord(r); break;
    case EMR_GRADIENTFILL: gradientFill(r); break;

    default: break;  // palettes, colour management, layout and the like change nothing we draw
    }
}

}  // namespace metafile::emf
