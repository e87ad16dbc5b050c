#pragma once
// The clipping state of a device context, shared by the WMF and EMF players.
// Everything is kept in image pixels: GDI keeps clip regions in device space,
// so a region made under one transform stays where it was made when the
// transform changes later. The state is a plain value, saved and restored
// with the rest of the device context.
#include <QPainter>
#include <QPainterPath>
#include <QRect>
#include <QRegion>

#include <optional>
#include <vector>

namespace metafile {

// How a new region combines with the clip so far (RGN_AND .. RGN_COPY, and
// the new region less the old one, which EMF+ also has).
enum ClipMode { ClipAnd = 1, ClipOr = 2, ClipXor = 3, ClipDiff = 4, ClipCopy = 5, ClipComplement = 6 };

class Clip {
public:
    // `surface` is what "no clip" means: the whole image.
    explicit Clip(QRect surface = {}) : surface_(surface) {}
    void setSurface(QRect surface) { surface_ = surface; }

    // Combines `region` into the clip. An unknown mode leaves it alone and
    // returns false.
    bool combine(const QRegion& region, int mode);
    // Back to no clip (RGN_COPY without a region); a meta region stays.
    void reset() { clip_.reset(); }
    void offset(QPointF by);
    // SetMetaRgn: the clip so far becomes the meta region, which later clips
    // can only narrow, and the clip itself starts over.
    void fold();

    bool active() const { return clip_ || meta_; }
    // What drawing is limited to; only meaningful when active().
    QRegion region() const;
    // Sets the painter's clip (in image pixels, under an identity transform).
    void apply(QPainter& painter) const;

    // A rectangle in image pixels; GDI clip rectangles leave out their right
    // and bottom edges.
    static QRegion fromRect(const QRectF& image);
    // The pixels whose centres `image` covers, limited to `area`. An outline
    // that stayed an axis-aligned rectangle gives exact edges.
    static QRegion fromPath(const QPainterPath& image, QRect area);
    // The union of many regions, pairwise so that thousands of rectangles do
    // not cost a quadratic number of merges.
    static QRegion unite(std::vector<QRegion> parts);

private:
    QRect surface_;
    std::optional<QRegion> clip_;
    std::optional<QRegion> meta_;
};

}  // namespace metafile
