// The EMF clipping records. Regions arrive in the reference device's pixels,
// paths and clip rectangles in logical units under the current transforms;
// all of them become regions in image pixels (Clip.h).
#include "platform/metafile/EmfPlayer.h"

namespace metafile::emf {

QRegion Player::imageRegion(const QPainterPath& imagePath) const {
    return Clip::fromPath(imagePath, QRect(QPoint(0, 0), imageSize_));
}

QRegion Player::regionFromData(const Record& r, quint32 offset, quint32 bytes) const {
    // RGNDATA: a 32-byte header (size, type, count, ...) and then the rectangles.
    if (bytes < 32 || !r.has(offset, bytes)) return {};
    const quint32 count = r.u32(offset + 8);
    const quint32 rectsAt = offset + 32;
    if (quint64(count) > (bytes - 32) / 16) return {};
    std::vector<QRegion> parts;
    parts.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        // Under a rotated or sheared device mapping a rectangle is no longer
        // one: its outline is filled instead.
        QPainterPath rect;
        rect.addRect(r.rectL(rectsAt + 16 * i).normalized());
        const QRegion px = imageRegion(deviceToImage_.map(rect));
        if (!px.isEmpty()) parts.push_back(px);
    }
    return Clip::unite(std::move(parts));
}

void Player::clipRecord(const Record& r) {
    switch (r.type()) {
    case EMR_SELECTCLIPPATH: {
        if (inPath_) return;  // the bracket is still open
        QPainterPath p = path_;
        p.setFillRule(dc_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
        if (dc_.clip.combine(imageRegion(p), int(r.u32(8)))) path_ = QPainterPath();
        break;
    }
    case EMR_INTERSECTCLIPRECT:
    case EMR_EXCLUDECLIPRECT: {
        if (!r.has(8, 16)) return;
        QPainterPath rect;
        rect.addRect(r.rectL(8).normalized());
        dc_.clip.combine(imageRegion(logicalToImage().map(rect)),
                         r.type() == EMR_INTERSECTCLIPRECT ? ClipAnd : ClipDiff);
        break;
    }
    case EMR_EXTSELECTCLIPRGN: {
        if (!r.has(8, 8)) return;
        const quint32 cb = r.u32(8);
        const int mode = int(r.u32(12));
        if (cb == 0) {
            // No region: only a copy means anything, and it removes the clip.
            if (mode == ClipCopy) dc_.clip.reset();
            break;
        }
        if (!r.has(16, cb)) return;
        dc_.clip.combine(regionFromData(r, 16, cb), mode);
        break;
    }
    case EMR_SETMETARGN: dc_.clip.fold(); break;
    case EMR_OFFSETCLIPRGN: {
        if (!r.has(8, 8)) return;
        const QTransform t = logicalToImage();
        dc_.clip.offset(t.map(r.pointL(8)) - t.map(QPointF(0, 0)));
        break;
    }
    default: return;
    }
    applyClip();
}

}  // namespace metafile::emf
