#include "platform/metafile/ShapedText.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QTextLayout>

#include <algorithm>
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

// A glyph reaches about twice its em box; past this its image is too big to
// keep.
constexpr double MaxGlyphImagePixels = 1024;

bool hugeOnDevice(const QPainter& painter) {
    const QFont& font = painter.font();
    const int px = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    return glyphsHugeOnDevice(painter.transform(), px, font.stretch());
}

// Fills the text's outlines with the pen's brush, where drawText would draw
// glyphs; decorations come with the outlines.
void fillOutlines(QPainter& painter, QPointF origin, const QString& text) {
    QPainterPath outlines;
    outlines.addText(origin, painter.font(), text);
    painter.fillPath(outlines, painter.pen().brush());
}

}  // namespace

bool glyphsHugeOnDevice(const QTransform& t, double pixelSize, int stretch) {
    const QTransform linear(t.m11(), t.m12(), t.m21(), t.m22(), 0, 0);
    const QRectF em = linear.mapRect(QRectF(0, 0, pixelSize * std::max(1.0, stretch / 100.0), pixelSize));
    // A NaN extent fails both tests; nothing draws such text anyway.
    return 2 * em.width() > MaxGlyphImagePixels || 2 * em.height() > MaxGlyphImagePixels;
}

QPainterPath glyphOutlines(const QGlyphRun& run, QPointF offset) {
    const QRawFont raw = run.rawFont();
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    QPainterPath outlines;
    for (qsizetype i = 0; i < glyphs.size() && i < positions.size(); ++i)
        outlines.addPath(raw.pathForGlyph(glyphs[i]).translated(positions[i] + offset));
    return outlines;
}

void drawGlyphs(QPainter& painter, const QGlyphRun& run) {
    if (!glyphsHugeOnDevice(painter.transform(), run.rawFont().pixelSize())) {
        painter.drawGlyphRun(QPointF(0, 0), run);
        return;
    }
    painter.fillPath(glyphOutlines(run), painter.pen().brush());
}

void fillOutlinesInBox(QPainter& painter, const QRectF& box, int flags, const QString& text) {
    // Laid out as drawText lays out a box: lines broken at newlines and, with
    // word wrap, at the box's width; past the box's height no more lines
    // unless unclipped; the block placed vertically as a whole, each line
    // horizontally on its own.
    const bool wrap = flags & Qt::TextWordWrap;
    const bool clip = !(flags & Qt::TextDontClip);
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(lines, painter.font(), painter.device());
    QTextOption option;
    option.setWrapMode(wrap ? QTextOption::WordWrap : QTextOption::ManualWrap);
    if (!wrap) option.setFlags(QTextOption::IncludeTrailingSpaces);
    layout.setTextOption(option);
    const double leading = QFontMetricsF(painter.font(), painter.device()).leading();
    layout.beginLayout();
    double height = -leading;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(wrap ? std::max(0.0, box.width()) : double(0x01000000));
        height += leading;
        line.setPosition(QPointF(0, height));
        height += line.height();
        if (clip && height >= box.height()) break;
    }
    layout.endLayout();

    double top = box.top();
    if (flags & Qt::AlignBottom) top += box.height() - height;
    else if (flags & Qt::AlignVCenter) top += (box.height() - height) / 2;
    QPainterPath outlines;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        double left = box.left();
        if (flags & Qt::AlignRight) left += box.width() - line.horizontalAdvance();
        else if (flags & Qt::AlignHCenter) left += (box.width() - line.horizontalAdvance()) / 2;
        for (const QGlyphRun& run : line.glyphRuns()) outlines.addPath(glyphOutlines(run, QPointF(left, top)));
    }
    painter.save();
    if (clip) painter.setClipRect(box, Qt::IntersectClip);
    painter.fillPath(outlines, painter.pen().brush());
    painter.restore();
}

void ShapedText::drawWhole(QPainter& painter, QPointF origin, const QString& text) {
    if (hugeOnDevice(painter))
        fillOutlines(painter, origin, text);
    else
        painter.drawText(origin, text);
}

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
    if (hugeOnDevice(painter)) {
        fillOutlines(painter, origin, text);
        return;
    }
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
