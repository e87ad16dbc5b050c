// WMF clipping records, and the records that paint a region.
#include "platform/metafile/WmfPlayer.h"

namespace metafile::wmf {

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

// Clip records, and the records that paint a region.
void Player::clipRecord(quint16 fn, const Params& p) {
    switch (fn) {
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
    default: break;
    }
}

}  // namespace metafile::wmf
