#include "platform/metafile/ShapedText.h"

#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace metafile {
namespace {
// A hostile picture with endless distinct strings must not grow memory
// without bound: past this many the kept shapes are dropped and begun again.
constexpr qsizetype MaxStrings = 4096;

// QPainter::drawText starts its glyphs at the origin's x cut to 1/64 pixel
// (toward zero) and keeps y as given; the same cut here puts every glyph on
// the same pixel, sub-pixel phase included.
double drawTextX(double x) {
    // Far off the picture the cut would overflow; nothing there is seen anyway.
    return std::abs(x) < double(1 << 24) ? double(int(x * 64.0)) / 64.0 : x;
}
}  // namespace

const ShapedText::Runs& ShapedText::shape(QPaintDevice* device, const QFont& font, const QString& text) {
    if (!lastRuns_ || !(font == lastFont_)) {
        lastFont_ = font;
        lastRuns_ = &byFont_[font.key()];
    }
    auto it = lastRuns_->constFind(text);
    if (it != lastRuns_->constEnd()) return it.value();
    if (strings_ >= MaxStrings) {
        byFont_.clear();
        strings_ = 0;
        lastRuns_ = &byFont_[font.key()];
    }

    QTextLayout layout(text, font, device);
    layout.setCacheEnabled(false);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) line.setLineWidth(1e9);
    layout.endLayout();
    Runs runs;
    if (line.isValid()) {
        const double baseline = line.ascent();
        for (QGlyphRun run : layout.glyphRuns()) {
            QList<QPointF> positions = run.positions();
            for (QPointF& p : positions) p.ry() -= baseline;
            run.setPositions(positions);
            runs << run;
        }
    }
    ++strings_;
    return *lastRuns_->insert(text, runs);
}

void ShapedText::draw(QPainter& painter, QPointF origin, const QString& text) {
    if (text.isEmpty() || painter.pen().style() == Qt::NoPen) return;
    const QFont& font = painter.font();
    // Decorations and an opaque background are drawn by drawText from the
    // whole item's width; leave those to it.
    if (font.underline() || font.strikeOut() || font.overline() || painter.backgroundMode() == Qt::OpaqueMode) {
        painter.drawText(origin, text);
        return;
    }
    const double x = drawTextX(origin.x());
    const double y = origin.y();
    for (QGlyphRun run : shape(painter.device(), font, text)) {
        QList<QPointF> positions = run.positions();
        for (QPointF& p : positions) p = QPointF(x + p.x(), y + p.y());
        run.setPositions(positions);
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
}
}  // namespace metafile
