// Bitmap records (BitBlt, StretchBlt, StretchDIBits, SetDIBitsToDevice,
// AlphaBlend, TransparentBlt, MaskBlt) and the raster operations they use.
#include "platform/metafile/EmfPlayer.h"

#include "platform/metafile/Dib.h"
#include "platform/metafile/Gdi.h"
#include "platform/metafile/RasterOp.h"

#include <algorithm>
#include <cmath>

namespace metafile::emf {

QImage Player::dibAt(const Record& r, quint32 offBmi, quint32 cbBmi, quint32 offBits, quint32 cbBits,
                     quint32 usage) const {
    if (cbBmi == 0 || !r.has(offBmi, cbBmi) || !r.has(offBits, cbBits)) return {};
    return decodeDib(r.data() + offBmi, cbBmi, r.data() + offBits, cbBits, usage == 1 ? &dc_.palette->palette : nullptr);
}

void Player::drawBitmap(const QImage& image, const QRectF& dest, const QRectF& source, quint32 rop, int alpha,
                        const QImage* mask, QPointF maskAt) {
    if (image.isNull() || source.width() == 0 || source.height() == 0) return;
    if (dest.width() == 0 || dest.height() == 0) return;
    // Source rectangle (which may be mirrored) onto the logical destination.
    const QRectF src = source.normalized();
    double sx = dest.width() / source.width();
    double sy = dest.height() / source.height();
    const QTransform place(sx, 0, 0, sy, dest.x() - source.x() * sx, dest.y() - source.y() * sy);
    const QTransform t = place * logicalToImage();
    if (!finiteTransform(t)) return;
    // Enlarged bitmaps keep their square pixels, as GDI stretches them;
    // reduced ones are filtered so that fine detail does not turn to noise.
    const double scaleX = std::hypot(t.m11(), t.m12()), scaleY = std::hypot(t.m21(), t.m22());
    const bool smooth = scaleX < 1 || scaleY < 1;
    if (!budget_.spend(double(image.width()) * image.height())) return;
    if (ropCode(rop) == 0xCC && !mask) {  // SRCCOPY
        if (!budget_.spend(budget_.onImage(t.mapRect(src)))) return;
        painter_.setTransform(t);
        painter_.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        painter_.setOpacity(alpha / 255.0);
        painter_.drawImage(src, image, src);
        painter_.setOpacity(1.0);
        return;
    }
    QPainterPath shape;
    shape.addRect(src);
    Blit b;
    b.shape = t.map(shape);
    b.image = &image;
    b.source = src;
    b.toImage = t;
    b.smooth = smooth;
    b.mask = mask;
    b.maskAt = maskAt;
    blit(b, ropCode(rop), mask ? ropCode(rop >> 8) : ropCode(rop));
}

void Player::finish() {
    if (rasterOpsUsed_) settlePage(*static_cast<QImage*>(painter_.device()));
}

// Raster operations combine the bitmap, the brush and what is already drawn,
// bit by bit, on the pixels of the affected rectangle (RasterOp.h).
void Player::blit(const Blit& b, quint8 code, quint8 backCode) {
    if (!ropUsesDestination(code) && !ropUsesDestination(backCode) && code == backCode &&
        (code == 0x00 || code == 0xFF || code == 0xF0)) {
        // Black, white or the brush: an ordinary fill, with smooth edges.
        Brush fill;
        if (code == 0xF0) {
            if (!dc_.brush || dc_.brush->brush.style == Brush::Null) return;
            fill = dc_.brush->brush;
        } else {
            fill.color = code ? Qt::white : Qt::black;
        }
        fillImagePath(b.shape, fill);
        return;
    }
    if (code == 0xAA && backCode == 0xAA) return;  // the destination, unchanged
    auto* canvas = static_cast<QImage*>(painter_.device());
    const QRect area = blitArea(b.shape, canvas->rect(), dc_.clip);
    if (area.isEmpty()) return;
    if (!budget_.spend(WorkBudget::RasterOpPixel * area.width() * area.height())) return;
    RopBlit op;
    op.area = area;
    op.code = code;
    op.backCode = b.mask ? backCode : code;
    op.cover = coverLayer(area, b.shape, dc_.clip);
    if (op.cover.isNull()) return;
    if (b.image && (ropUsesSource(code) || ropUsesSource(op.backCode)))
        op.source = imageLayer(area, *b.image, b.source, b.source, b.toImage, b.smooth);
    if (b.mask)
        op.mask = imageLayer(area, *b.mask, b.source.translated(b.maskAt - b.source.topLeft()), b.source, b.toImage, b.smooth);
    if (ropUsesPattern(code) || ropUsesPattern(op.backCode)) {
        const Brush brush = dc_.brush ? dc_.brush->brush : Brush{};
        switch (brush.style) {
        case Brush::Null: op.pattern = brushLayer(area, {QBrush(Qt::black)}); break;
        case Brush::Solid: op.pattern = brushLayer(area, {QBrush(brush.color)}); break;
        case Brush::Hatched: op.pattern = brushLayer(area, {QBrush(dc_.bkColor), hatchBrush(brush.hatch, brush.color)}); break;
        case Brush::Pattern: op.pattern = brushLayer(area, {QBrush(patternOf(brush))}); break;
        }
        if (op.pattern.isNull()) return;
    }
    rasterOpsUsed_ = true;
    applyRop(*canvas, op);
}

// AlphaBlend with per-pixel alpha: a 32-bit bitmap whose fourth byte is the
// (premultiplied) alpha. `decoded` has already been checked against the bytes
// the record holds, so the rows read here are inside it.
QImage Player::withSourceAlpha(const Record& r, quint32 offBmi, quint32 offBits, const QImage& decoded) {
    if (decoded.isNull() || !r.has(offBmi, 40)) return decoded;
    const quint32 compression = r.u32(offBmi + 16);
    if (r.u16(offBmi + 14) != 32 || (compression != 0 && compression != 3)) return decoded;
    const qint32 height = r.i32(offBmi + 8);
    const int w = decoded.width(), h = decoded.height();
    const quint64 stride = quint64(w) * 4;
    if (!r.hasArray(offBits, quint64(h), stride)) return decoded;
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return decoded;
    bool anyAlpha = false;
    for (int row = 0; row < h; ++row) {
        const uchar* src = r.data() + offBits + stride * quint64(row);
        const int outRow = height > 0 ? h - 1 - row : row;
        const auto* in = reinterpret_cast<const QRgb*>(decoded.constScanLine(outRow));
        auto* d = reinterpret_cast<QRgb*>(out.scanLine(outRow));
        for (int x = 0; x < w; ++x) {
            const int a = src[4 * x + 3];
            anyAlpha = anyAlpha || a != 0;
            d[x] = qRgba(std::min(qRed(in[x]), a), std::min(qGreen(in[x]), a), std::min(qBlue(in[x]), a), a);
        }
    }
    // A bitmap whose alpha bytes are all zero was written without alpha.
    return anyAlpha ? out : decoded;
}

void Player::bitmapRecord(const Record& r) {
    switch (r.type()) {
    case EMR_STRETCHDIBITS: {
        if (!r.has(8, 72)) return;
        const QImage img = dibAt(r, r.u32(48), r.u32(52), r.u32(56), r.u32(60), r.u32(64));
        if (img.isNull()) return;
        const double xSrc = r.i32(32), ySrc = r.i32(36), cxSrc = r.i32(40), cySrc = r.i32(44);
        // ySrc counts from the bottom row of a bottom-up bitmap.
        const bool topDown = r.u32(48) + 12 <= r.size() && r.u32(r.u32(48)) >= 40 && r.i32(r.u32(48) + 8) < 0;
        const double top = topDown ? ySrc : img.height() - ySrc - cySrc;
        const QRectF dest(r.i32(24), r.i32(28), r.i32(72), r.i32(76));
        drawBitmap(img, dest, QRectF(xSrc, top, cxSrc, cySrc), r.u32(68), 255);
        return;
    }
    case EMR_SETDIBITSTODEVICE: {
        if (!r.has(8, 68)) return;
        const quint32 offBmi = r.u32(48), cbBmi = r.u32(52), offBits = r.u32(56), cbBits = r.u32(60);
        const quint32 startScan = r.u32(68), scans = r.u32(72);
        if (cbBmi < 40 || !r.has(offBmi, cbBmi) || !r.has(offBits, cbBits)) return;
        // The bits may hold only a band of the bitmap's rows (scans of them,
        // from startScan on): decode the band as a bitmap of its own.
        QByteArray info(reinterpret_cast<const char*>(r.data() + offBmi), qsizetype(cbBmi));
        const qint32 fullHeight = r.i32(offBmi + 8);
        const bool topDown = fullHeight < 0;
        const bool banded = r.u32(offBmi) >= 40 && scans > 0 && scans < quint32(std::abs(qint64(fullHeight)));
        if (banded) {
            qToLittleEndian<qint32>(topDown ? -qint32(scans) : qint32(scans), info.data() + 8);
            qToLittleEndian<quint32>(0, info.data() + 20);  // biSizeImage no longer applies
        }
        const QImage img = decodeDib(reinterpret_cast<const uchar*>(info.constData()), info.size(),
                                     r.data() + offBits, cbBits, r.u32(64) == 1 ? &dc_.palette->palette : nullptr);
        if (img.isNull()) return;
        const double cx = r.i32(40), cy = r.i32(44);
        const double ySrc = double(r.i32(36)) - (banded ? startScan : 0);
        const double top = topDown ? ySrc : img.height() - ySrc - cy;
        drawBitmap(img, QRectF(r.i32(24), r.i32(28), cx, cy), QRectF(r.i32(32), top, cx, cy), 0xCC0020, 255);
        return;
    }
    case EMR_BITBLT:
    case EMR_STRETCHBLT:
    case EMR_MASKBLT:
    case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT: {
        if (!r.has(8, 92)) return;
        const QRectF dest(r.i32(24), r.i32(28), r.i32(32), r.i32(36));
        const quint32 rop = r.u32(40);
        const quint32 cbBmi = r.u32(88);
        QImage mask;
        if (r.type() == EMR_MASKBLT && r.has(100, 28)) mask = dibAt(r, r.u32(112), r.u32(116), r.u32(120), r.u32(124));
        if (cbBmi == 0) {
            // No source bitmap: the brush and the destination alone.
            if (r.type() != EMR_BITBLT && r.type() != EMR_STRETCHBLT && r.type() != EMR_MASKBLT) return;
            QPainterPath shape;
            shape.addRect(dest);
            Blit b;
            b.shape = logicalToImage().map(shape);
            b.source = dest.normalized();
            b.toImage = logicalToImage();
            if (!mask.isNull()) {
                b.mask = &mask;
                b.maskAt = QPointF(r.i32(100), r.i32(104));
            }
            const quint8 code = ropCode(rop);
            if (ropUsesSource(code)) return;  // a source that is not there
            blit(b, code, b.mask ? ropCode(rop >> 8) : code);
            return;
        }
        QImage img = dibAt(r, r.u32(84), cbBmi, r.u32(92), r.u32(96), r.u32(80));
        if (img.isNull()) return;
        double cxSrc = dest.width(), cySrc = dest.height();
        if (r.type() != EMR_BITBLT && r.type() != EMR_MASKBLT) {
            if (!r.has(100, 8)) return;
            cxSrc = r.i32(100);
            cySrc = r.i32(104);
        }
        QRectF source(r.i32(44), r.i32(48), cxSrc, cySrc);
        if (r.type() == EMR_BITBLT || r.type() == EMR_MASKBLT) {
            // The source has the destination's extent in the source's logical
            // units; its transform takes them to the bitmap's pixels.
            const QTransform toBitmap(r.f32(52), r.f32(56), r.f32(60), r.f32(64), r.f32(68), r.f32(72));
            if (finiteTransform(toBitmap) && toBitmap.isInvertible() && !toBitmap.isRotating())
                source = toBitmap.mapRect(source);
        }
        int alpha = 255;
        quint32 drawRop = rop;
        if (r.type() == EMR_ALPHABLEND) {
            alpha = r.u8(42);
            drawRop = 0xCC0020;
            if (r.u8(43) & 1) img = withSourceAlpha(r, r.u32(84), r.u32(92), img);  // AC_SRC_ALPHA
        } else if (r.type() == EMR_TRANSPARENTBLT) {
            const QColor key = colorRef(rop);
            img = img.convertToFormat(QImage::Format_ARGB32);
            const QRgb keyRgb = key.rgb() & 0xFFFFFF;
            for (int y = 0; y < img.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int x = 0; x < img.width(); ++x)
                    if ((line[x] & 0xFFFFFF) == keyRgb) line[x] = 0;
            }
            drawRop = 0xCC0020;
        } else if (r.type() == EMR_MASKBLT && !mask.isNull()) {
            drawBitmap(img, dest, source, rop, 255, &mask, QPointF(r.i32(100), r.i32(104)));
            return;
        }
        drawBitmap(img, dest, source, drawRop, alpha);
        return;
    }
    case EMR_PLGBLT: plgBlt(r); return;
    default: return;
    }
}

// PlgBlt: the source rectangle onto a parallelogram given by three corners
// (upper left, upper right, lower left), through an optional mask.
void Player::plgBlt(const Record& r) {
    if (!r.has(8, 132)) return;
    const QImage img = dibAt(r, r.u32(96), r.u32(100), r.u32(104), r.u32(108));
    if (img.isNull()) return;
    const QRectF src(r.i32(48), r.i32(52), r.i32(56), r.i32(60));
    if (src.width() == 0 || src.height() == 0) return;
    const QPointF p0 = r.pointL(24), p1 = r.pointL(32), p2 = r.pointL(40);
    // Source (x, y) -> p0 + (x - left) / width * (p1 - p0) + (y - top) / height * (p2 - p0).
    const QPointF u = (p1 - p0) / src.width(), v = (p2 - p0) / src.height();
    const QTransform place(u.x(), u.y(), v.x(), v.y(), p0.x() - src.left() * u.x() - src.top() * v.x(),
                           p0.y() - src.left() * u.y() - src.top() * v.y());
    const QTransform t = place * logicalToImage();
    if (!finiteTransform(t)) return;
    QImage mask = dibAt(r, r.u32(124), r.u32(128), r.u32(132), r.has(136, 4) ? r.u32(136) : 0);
    const QRectF from = src.normalized();
    if (mask.isNull()) {
        if (!budget_.spend(double(img.width()) * img.height() + budget_.onImage(t.mapRect(from)))) return;
        painter_.setTransform(t);
        painter_.drawImage(from, img, from);
        return;
    }
    QPainterPath shape;
    shape.addRect(from);
    Blit b;
    b.shape = t.map(shape);
    b.image = &img;
    b.source = from;
    b.toImage = t;
    b.mask = &mask;
    b.maskAt = QPointF(r.i32(112), r.i32(116));
    blit(b, 0xCC, 0xAA);  // the source where the mask is set, the destination elsewhere
}

}  // namespace metafile::emf
