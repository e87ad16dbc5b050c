#include "platform/metafile/RasterOp.h"

#include <QPainter>

#include <algorithm>

namespace metafile {

namespace {
// Alpha of a pixel that only raster operations over the blank page touched:
// it is still "page" for the next operation.
constexpr int PageAlpha = 254;

// Row `y` of an area-sized layer from column `x` on, or null when there is no layer.
const QRgb* row(const QImage& img, bool have, int y, int x) {
    return have ? reinterpret_cast<const QRgb*>(img.constScanLine(y)) + x : nullptr;
}
quint32 rgb(QRgb premultiplied) { return qUnpremultiply(premultiplied) & 0xFFFFFF; }
}  // namespace

QRect blitArea(const QPainterPath& shape, QRect canvas, const Clip& clip) {
    QRect area = shape.boundingRect().toAlignedRect().intersected(canvas);
    if (clip.active()) area = area.intersected(clip.region().boundingRect());
    return area;
}

QImage coverLayer(QRect area, const QPainterPath& shape, const Clip& clip) {
    QImage cover(area.size(), QImage::Format_Alpha8);
    if (cover.isNull()) return cover;
    cover.fill(0);
    QPainter p(&cover);
    if (clip.active()) p.setClipRegion(clip.region().translated(-area.topLeft()));
    p.translate(-area.left(), -area.top());
    p.fillPath(shape, Qt::white);
    return cover;
}

QImage brushLayer(QRect area, std::initializer_list<QBrush> fills) {
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return layer;
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.translate(-area.left(), -area.top());
    for (const QBrush& fill : fills) p.fillRect(area, fill);
    return layer;
}

QImage imageLayer(QRect area, const QImage& image, const QRectF& from, const QRectF& target, const QTransform& toImage,
                  bool smooth) {
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return layer;
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setTransform(toImage * QTransform::fromTranslate(-area.left(), -area.top()));
    p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    p.drawImage(target, image, from);
    return layer;
}

void applyRop(QImage& canvas, const RopBlit& b) {
    const QRect area = b.area.intersected(canvas.rect());
    if (area.isEmpty() || b.cover.size() != b.area.size() || b.cover.format() != QImage::Format_Alpha8) return;
    const QPoint o = area.topLeft() - b.area.topLeft();
    const bool haveSource = b.source.size() == b.area.size();
    const bool havePattern = b.pattern.size() == b.area.size();
    const bool haveMask = b.mask.size() == b.area.size();
    for (int y = 0; y < area.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(canvas.scanLine(area.top() + y)) + area.left();
        const int ly = o.y() + y;
        const uchar* cover = b.cover.constScanLine(ly) + o.x();
        const QRgb* source = row(b.source, haveSource, ly, o.x());
        const QRgb* pattern = row(b.pattern, havePattern, ly, o.x());
        const QRgb* mask = row(b.mask, haveMask, ly, o.x());
        for (int x = 0; x < area.width(); ++x) {
            if (cover[x] < 128) continue;
            const quint8 code = !mask || qGray(rgb(mask[x])) >= 128 ? b.code : b.backCode;
            const int a = qAlpha(out[x]);
            const bool blank = a < 128;
            const bool overPage = blank || a == PageAlpha;
            const quint32 d = blank ? 0xFFFFFF : rgb(out[x]);
            const quint32 r = rop3(code, pattern ? rgb(pattern[x]) : 0, source ? rgb(source[x]) : 0, d);
            if (r == d && !blank) continue;
            if (!overPage) out[x] = 0xFF000000u | r;
            else out[x] = r == 0xFFFFFF ? 0 : qPremultiply((quint32(PageAlpha) << 24) | r);
        }
    }
}

void settlePage(QImage& canvas) {
    const int w = canvas.width(), h = canvas.height();
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        for (int x = 0; x < w; ++x)
            if (qAlpha(line[x]) == PageAlpha) line[x] = 0xFF000000u | qUnpremultiply(line[x]);
    }
}

}  // namespace metafile
