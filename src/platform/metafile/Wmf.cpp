// The WMF player: header, picture size and mapping, drawing primitives and the
// record loop. The record families are in WmfText.cpp, WmfObjects.cpp,
// WmfClip.cpp and WmfBitmap.cpp.
#include "platform/metafile/Wmf.h"

#include "platform/Picture.h"
#include "platform/metafile/Metafile.h"
#include "platform/metafile/RasterOp.h"
#include "platform/metafile/WmfPlayer.h"

#include <algorithm>
#include <cmath>

namespace metafile::wmf {

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

namespace {
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
}  // namespace

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

namespace {
// The radial-line angle of `pt` on the ellipse inscribed in `box`, as the
// parametric angle QPainterPath::arcTo expects.
double arcAngle(const QRectF& box, const QPointF& pt) {
    const QPointF c = box.center();
    const double rx = std::max(std::abs(box.width()) / 2, 1e-9), ry = std::max(std::abs(box.height()) / 2, 1e-9);
    return std::atan2(-(pt.y() - c.y()) / ry, (pt.x() - c.x()) / rx) * 180.0 / M_PI;
}
}  // namespace

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
    case TextOut:
    case ExtTextOut: textRecord(fn, p); break;
    case CreatePenIndirect:
    case CreateBrushIndirect:
    case DibCreatePatternBrush:
    case CreatePatternBrush:
    case CreateFontIndirect:
    case CreatePalette:
    case SelectPalette:
    case CreateRegion:
    case SelectObject:
    case DeleteObject: objectRecord(fn, p); break;
    case SelectClipRegion:
    case IntersectClipRect:
    case ExcludeClipRect:
    case OffsetClipRgn:
    case FillRegion:
    case PaintRegion:
    case FrameRegion: clipRecord(fn, p); break;
    case PatBlt:
    case DibBitBlt:
    case DibStretchBlt:
    case BitBlt:
    case StretchBlt:
    case StretchDIB:
    case SetDIBitsToDevice: bitmapRecord(fn, p); break;
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
    const double areaCap = NestedPicture::areaCap();
    if (width * height * scale * scale > areaCap) scale = std::sqrt(areaCap / (width * height));
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

}  // namespace metafile::wmf

namespace metafile {

QImage renderWmf(const QByteArray& data, QString* error, double zoom) {
    wmf::Player player(reinterpret_cast<const uchar*>(data.constData()), data.size());
    if (!player.parseHeader(error)) return {};
    return player.render(error, zoom);
}

}  // namespace metafile
