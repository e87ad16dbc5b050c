#include "platform/metafile/RasterOp.h"

#include <algorithm>

namespace metafile {

namespace {
// Alpha of a pixel that only raster operations over the blank page touched:
// it is still "page" for the next operation.
constexpr int PageAlpha = 254;

quint32 rgbAt(const QImage& img, int x, int y) {
    return qUnpremultiply(reinterpret_cast<const QRgb*>(img.constScanLine(y))[x]) & 0xFFFFFF;
}
}  // namespace

quint32 rop3(quint8 code, quint32 p, quint32 s, quint32 d) {
    quint32 r = 0;
    for (int i = 0; i < 8; ++i) {
        if (!((code >> i) & 1)) continue;
        r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    }
    return r & 0xFFFFFF;
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
        for (int x = 0; x < area.width(); ++x) {
            const int lx = o.x() + x;
            if (b.cover.constScanLine(ly)[lx] < 128) continue;
            const quint8 code = !haveMask || (qGray(rgbAt(b.mask, lx, ly)) >= 128) ? b.code : b.backCode;
            const int a = qAlpha(out[x]);
            const bool blank = a < 128;
            const bool overPage = blank || a == PageAlpha;
            const quint32 d = blank ? 0xFFFFFF : (qUnpremultiply(out[x]) & 0xFFFFFF);
            const quint32 s = haveSource ? rgbAt(b.source, lx, ly) : 0;
            const quint32 p = havePattern ? rgbAt(b.pattern, lx, ly) : 0;
            const quint32 r = rop3(code, p, s, d);
            if (r == d && !blank) continue;
            if (!overPage) out[x] = 0xFF000000u | r;
            else out[x] = r == 0xFFFFFF ? 0 : qPremultiply((quint32(PageAlpha) << 24) | r);
        }
    }
}

void settlePage(QImage& canvas) {
    for (int y = 0; y < canvas.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        for (int x = 0; x < canvas.width(); ++x)
            if (qAlpha(line[x]) == PageAlpha) line[x] = 0xFF000000u | qUnpremultiply(line[x]);
    }
}

}  // namespace metafile
