#include "platform/metafile/Clip.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <vector>

namespace metafile {

namespace {
// Coordinates are held to this so that rounding them into ints cannot overflow.
constexpr double Limit = 1 << 24;

int pixel(double v) { return std::isnan(v) ? 0 : int(std::lround(std::clamp(v, -Limit, Limit))); }
}  // namespace

bool Clip::combine(const QRegion& region, int mode) {
    const QRegion current = clip_ ? *clip_ : QRegion(surface_);
    switch (mode) {
    case ClipAnd: clip_ = current.intersected(region); break;
    case ClipOr: clip_ = current.united(region); break;
    case ClipXor: clip_ = current.xored(region); break;
    case ClipDiff: clip_ = current.subtracted(region); break;
    case ClipCopy: clip_ = region; break;
    case ClipComplement: clip_ = region.subtracted(current); break;
    default: return false;
    }
    return true;
}

void Clip::offset(QPointF by) {
    if (clip_) clip_->translate(pixel(by.x()), pixel(by.y()));
}

void Clip::fold() {
    if (active()) meta_ = region();
    clip_.reset();
}

QRegion Clip::region() const {
    if (clip_ && meta_) return meta_->intersected(*clip_);
    if (meta_) return *meta_;
    if (clip_) return *clip_;
    return QRegion(surface_);
}

void Clip::apply(QPainter& painter) const {
    painter.setTransform(QTransform());
    // Qt's raster engine keeps a switched-off clip and reuses its storage for
    // the next region of more than one rectangle without switching it back
    // on, so that region would be ignored (every path clip after the first
    // RestoreDC drew unclipped). Switching the old clip on first avoids that
    // and keeps the storage: removing the clip instead would cost a fresh
    // one, a line table the height of the picture, at every clip change.
    if (active()) {
        painter.setClipping(true);
        painter.setClipRegion(region());
    } else {
        painter.setClipping(false);
    }
}

QRegion Clip::fromRect(const QRectF& image) {
    const QRectF n = image.normalized();
    const int l = pixel(n.left()), t = pixel(n.top()), r = pixel(n.right()), b = pixel(n.bottom());
    if (r <= l || b <= t) return {};
    return QRegion(QRect(QPoint(l, t), QPoint(r - 1, b - 1)));
}

QRegion Clip::fromPath(const QPainterPath& image, QRect area) {
    const QRectF bounds = image.boundingRect();
    if (image.elementCount() <= 5) {
        // A rectangle that stayed axis-aligned (no rotation, no shear).
        const QPolygonF poly = image.toFillPolygon();
        bool axis = poly.size() >= 4;
        auto near = [](double a, double b) { return std::abs(a - b) < 1e-6; };
        for (const QPointF& p : poly)
            axis = axis && (near(p.x(), bounds.left()) || near(p.x(), bounds.right())) &&
                   (near(p.y(), bounds.top()) || near(p.y(), bounds.bottom()));
        if (axis) return fromRect(bounds);
    }
    // Anything else is filled into a mask (without antialiasing: a pixel is
    // in when its centre is), and each row's runs of covered pixels become
    // the region's rectangles, already in the band order QRegion wants.
    area = area.intersected(bounds.toAlignedRect());
    if (area.isEmpty()) return {};
    QImage mask(area.size(), QImage::Format_Alpha8);
    if (mask.isNull()) return {};
    mask.fill(0);
    {
        QPainter mp(&mask);
        mp.translate(-area.left(), -area.top());
        mp.fillPath(image, Qt::black);
    }
    std::vector<QRect> rects;
    for (int y = 0; y < area.height(); ++y) {
        const uchar* line = mask.constScanLine(y);
        int x = 0;
        while (x < area.width()) {
            while (x < area.width() && line[x] < 128) ++x;
            const int start = x;
            while (x < area.width() && line[x] >= 128) ++x;
            if (x > start) rects.emplace_back(area.left() + start, area.top() + y, x - start, 1);
        }
    }
    QRegion region;
    if (!rects.empty()) region.setRects(rects.data(), int(rects.size()));
    return region;
}

QRegion Clip::unite(std::vector<QRegion> parts) {
    if (parts.empty()) return {};
    while (parts.size() > 1) {
        std::vector<QRegion> next;
        next.reserve(parts.size() / 2 + 1);
        for (size_t i = 0; i + 1 < parts.size(); i += 2) next.push_back(parts[i].united(parts[i + 1]));
        if (parts.size() % 2) next.push_back(parts.back());
        parts.swap(next);
    }
    return parts.front();
}

}  // namespace metafile
