#pragma once
// Text drawn a character at a time (records that give each character its own
// advance) would shape every character afresh through QPainter::drawText.
// This keeps each (font, string) shaped once per picture and draws the kept
// glyphs at exactly the pixel positions drawText gives them. One serves the
// painter of one picture.
#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QString>

class QPaintDevice;
class QPainter;

namespace metafile {
class ShapedText {
public:
    // Draws `text` with the painter's current font, pen and transform, its
    // baseline starting at `origin`, as painter.drawText(origin, text) would.
    void draw(QPainter& painter, QPointF origin, const QString& text);

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
