// Bitmap records (BitBlt, StretchBlt, StretchDIBits, SetDIBitsToDevice,
// AlphaBlend, TransparentBlt, MaskBlt) and the raster operations they use.
#include "platform/metafile/EmfPlayer.h"

#include "platform/metafile/Dib.h"
#include "platform/metafile/Gdi.h"

#include <algorithm>
#include <cmath>

namespace metafile::emf {

namespace {
// Alpha of a pixel that only raster operations over the blank page touched.
constexpr int PageAlpha = 254;
}  // namespace

QImage Player::dibAt(const Record& r, quint32 offBmi, quint32 cbBmi, quint32 offBits, quint32 cbBits) const {
    if (cbBmi == 0 || !r.has(offBmi, cbBmi) || !r.has(offBits, cbBits)) return {};
    return decodeDib(r.data() + offBmi, cbBmi, r.data() + offBits, cbBits);
}

void Player::drawBitmap(const QImage& image, const QRectF& dest, const QRectF& source, quint32 rop, int alpha) {
    if (image.isNull() || source.width() == 0 || source.height() == 0) return;
    if (dest.width() == 0 || dest.height() == 0) return;
    // Source rectangle (which may be mirrored) onto the logical destination.
    const QRectF src = source.normalized();
    double sx = dest.width() / source.width();
    double sy = dest.height() / source.height();
    const QTransform place(sx, 0, 0, sy, dest.x() - source.x() * sx, dest.y() - source.y() * sy);
    const QTransform t = place * logicalToImage();
    if (!finiteTransform(t)) return;
    painter_.setTransform(t);
    // Enlarged bitmaps keep their square pixels, as GDI stretches them;
    // reduced ones are filtered so that fine detail does not turn to noise.
    const double scaleX = std::hypot(t.m11(), t.m12()), scaleY = std::hypot(t.m21(), t.m22());
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, scaleX < 1 || scaleY < 1);
    if (rop == 0x00CC0020 || !rasterOpKnown(rop)) {  // SRCCOPY, and what we cannot combine
        painter_.setOpacity(alpha / 255.0);
        painter_.drawImage(src, image, src);
        painter_.setOpacity(1.0);
        return;
    }
    rasterOp(image, src, t, rop);
}

void Player::finish() {
    if (!rasterOpsUsed_) return;
    auto* canvas = static_cast<QImage*>(painter_.device());
    for (int y = 0; y < canvas->height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas->scanLine(y));
        for (int x = 0; x < canvas->width(); ++x)
            if (qAlpha(line[x]) == PageAlpha) line[x] = 0xFF000000u | qUnpremultiply(line[x]);
    }
}

bool Player::rasterOpKnown(quint32 rop) {
    switch (rop) {
    case 0x00EE0086: case 0x008800C6: case 0x00660046: case 0x00440328:
    case 0x00330008: case 0x001100A6: case 0x00BB0226: return true;
    default: return false;
    }
}

// Raster operations combine the bitmap with what is already drawn, bit by
// bit. Programs use them for transparency (an inverted copy, a mask, the copy
// again); where nothing was drawn yet we take the page to be white, and a
// result that is white over such a pixel leaves it transparent, so that the
// window behind shows through as the program meant.
void Player::rasterOp(const QImage& image, const QRectF& src, const QTransform& t, quint32 rop) {
    auto* canvas = static_cast<QImage*>(painter_.device());
    QRect area = t.mapRect(src).toAlignedRect().intersected(canvas->rect());
    const bool clipped = dc_.clip.active();
    const QRegion clip = dc_.clip.region();
    if (clipped) area = area.intersected(clip.boundingRect());
    if (area.isEmpty()) return;
    rasterOpsUsed_ = true;
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return;
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        if (clipped) lp.setClipRegion(clip.translated(-area.topLeft()));
        lp.setTransform(t * QTransform::fromTranslate(-area.left(), -area.top()));
        lp.setRenderHint(QPainter::SmoothPixmapTransform, painter_.testRenderHint(QPainter::SmoothPixmapTransform));
        lp.drawImage(src, image, src);
    }
    for (int y = 0; y < area.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(canvas->scanLine(area.top() + y)) + area.left();
        for (int x = 0; x < area.width(); ++x) {
            if (qAlpha(in[x]) < 128) continue;
            const quint32 sv = in[x] & 0xFFFFFF;
            // Alpha 254 marks a pixel that only raster operations over the
            // blank page have touched: it is still "page" for the next one.
            const int a = qAlpha(out[x]);
            const bool blank = a < 128;
            const bool overPage = blank || a == PageAlpha;
            const quint32 d = blank ? 0xFFFFFF : (qUnpremultiply(out[x]) & 0xFFFFFF);
            quint32 r;
            switch (rop) {
            case 0x00EE0086: r = sv | d; break;           // SRCPAINT
            case 0x008800C6: r = sv & d; break;           // SRCAND
            case 0x00660046: r = sv ^ d; break;           // SRCINVERT
            case 0x00440328: r = sv & ~d; break;          // SRCERASE
            case 0x00330008: r = ~sv; break;              // NOTSRCCOPY
            case 0x001100A6: r = ~(sv | d); break;        // NOTSRCERASE
            default: r = ~sv | d; break;                  // MERGEPAINT
            }
            r &= 0xFFFFFF;
            if (!overPage) out[x] = 0xFF000000u | r;
            else out[x] = r == 0xFFFFFF ? 0 : qPremultiply((quint32(PageAlpha) << 24) | r);
        }
    }
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
        const QImage img = dibAt(r, r.u32(48), r.u32(52), r.u32(56), r.u32(60));
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
                                     r.data() + offBits, cbBits);
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
        if (cbBmi == 0) {
            // No source bitmap: a pattern or constant fill of the destination.
            if (r.type() != EMR_BITBLT && r.type() != EMR_STRETCHBLT) return;
            const QPainterPath image = [&] {
                QPainterPath p;
                p.addRect(dest);
                return logicalToImage().map(p);
            }();
            Brush b;
            switch (rop) {
            case 0x00000042: b.color = Qt::black; break;   // BLACKNESS
            case 0x00FF0062: b.color = Qt::white; break;   // WHITENESS
            case 0x00F00021:                               // PATCOPY
            case 0x005A0049:                               // PATINVERT
                if (!dc_.brush || dc_.brush->brush.style == Brush::Null) return;
                b = dc_.brush->brush;
                break;
            default: return;  // DSTINVERT and the like change nothing we can see
            }
            fillImagePath(image, b);
            return;
        }
        QImage img = dibAt(r, r.u32(84), cbBmi, r.u32(92), r.u32(96));
        if (img.isNull()) return;
        double cxSrc = dest.width(), cySrc = dest.height();
        if (r.type() != EMR_BITBLT && r.type() != EMR_MASKBLT) {
            if (!r.has(100, 8)) return;
            cxSrc = r.i32(100);
            cySrc = r.i32(104);
        }
        const QRectF source(r.i32(44), r.i32(48), cxSrc, cySrc);
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
        } else if (r.type() == EMR_MASKBLT) {
            drawRop = 0xCC0020;
        }
        drawBitmap(img, dest, source, drawRop, alpha);
        return;
    }
    default: return;
    }
}

}  // namespace metafile::emf
