#pragma once
// Text drawn a character at a time (records that give each character its own
// advance) would shape every character afresh through QPainter::drawText.
// This keeps each (font, string) shaped once per picture and draws the kept
// glyphs at exactly the pixel positions drawText gives them. One serves the
// painter of one picture. Text too big on the device for glyph images is
// filled as outlines instead, here and in the helpers below.
#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QTransform>

class QPaintDevice;
class QPainter;
class QRectF;

namespace metafile {
// Qt keeps glyphs it judges small as images in a cache. It judges by the
// font's pixel size and the transform's area scale, and a face that cannot
// scale smoothly (the box drawn for a missing character) always goes there.
// A glyph stretched thin by a degenerate mapping, or a box hundreds of pixels
// tall and stretched wide, then becomes an image tens of thousands of pixels
// long, and the cache grows to gigabytes. True when glyphs of `pixelSize`
// (with `stretch` percent, 0 for none) would reach past about 1024 device
// pixels either way under `t`: such text is filled as outlines instead.
bool glyphsHugeOnDevice(const QTransform& t, double pixelSize, int stretch = 0);

// The outlines of a run's glyphs at their positions, moved by `offset`.
QPainterPath glyphOutlines(const QGlyphRun& run, QPointF offset = QPointF(0, 0));

// Draws a glyph run with the painter's pen and transform, as
// painter.drawGlyphRun(QPointF(0, 0), run) does, or fills its outlines when
// its glyphs are huge on the device.
void drawGlyphs(QPainter& painter, const QGlyphRun& run);

// Fills the outlines of what painter.drawText(box, flags, text) draws, with
// the painter's font and pen, for text too big for glyph images: word wrap,
// newlines, alignment and the clip to the box as drawText has them.
void fillOutlinesInBox(QPainter& painter, const QRectF& box, int flags, const QString& text);

class ShapedText {
public:
    // Draws `text` with the painter's current font, pen and transform, its
    // baseline starting at `origin`, as painter.drawText(origin, text) would.
    // Each call is one item: the players call it a character at a time.
    void draw(QPainter& painter, QPointF origin, const QString& text);
    // Draws `text` as one item with its own shaping, as drawText does. Both
    // fill glyphs huge on the device as outlines.
    static void drawWhole(QPainter& painter, QPointF origin, const QString& text);

private:
    // Glyph runs of one string, positioned from its origin on the baseline.
    using Runs = QList<QGlyphRun>;
    const Runs& shape(QPaintDevice* device, const QFont& font, const QString& text);

    QHash<QString, QHash<QString, Runs>> byFont_;  // QFont::key() -> text -> runs
    QFont lastFont_;
    QHash<QString, Runs>* lastRuns_ = nullptr;  // byFont_'s entry for lastFont_
    qsizetype strings_ = 0;
};
}  // namespace metafile
