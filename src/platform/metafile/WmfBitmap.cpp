// WMF bitmap records (BitBlt, StretchBlt, their DIB forms, StretchDIB,
// SetDIBitsToDevice) and PatBlt, with their raster operations.
#include "platform/metafile/WmfPlayer.h"

#include "platform/metafile/Dib.h"
#include "platform/metafile/RasterOp.h"

#include <cmath>

namespace metafile::wmf {

namespace {
// The device pixels a bitmap or brush lands on: GDI blits whole pixels.
QRectF wholePixels(const QRectF& dev) {
    return QRectF(QPointF(std::round(dev.left()), std::round(dev.top())),
                  QPointF(std::round(dev.right()), std::round(dev.bottom())));
}
}  // namespace

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

// PatBlt and the bitmap records.
void Player::bitmapRecord(quint16 fn, const Params& p) {
    switch (fn) {
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
    default: break;
    }
}

}  // namespace metafile::wmf
