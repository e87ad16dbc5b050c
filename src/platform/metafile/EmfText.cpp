// Text records: ExtTextOutW/A and SmallTextOut, drawn with the nearest
// installed face at the size and angle the font asks for.
#include "platform/metafile/EmfPlayer.h"

#include "platform/metafile/Fonts.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QRawFont>

#include <algorithm>
#include <cmath>

namespace metafile::emf {

namespace {

constexpr quint32 TA_UPDATECP = 1;
constexpr quint32 ETO_OPAQUE = 0x2;
constexpr quint32 ETO_CLIPPED = 0x4;
constexpr quint32 ETO_GLYPH_INDEX = 0x10;
constexpr quint32 ETO_NO_RECT = 0x100;
constexpr quint32 ETO_SMALL_CHARS = 0x200;
constexpr quint32 ETO_PDY = 0x2000;

// Text is laid out at a whole pixel size no larger than this and scaled up,
// so that a huge font does not make Qt rasterise huge glyph caches.
constexpr int MaxLayoutPixels = 512;
constexpr quint32 MaxChars = 8192;

double length(QPointF v) { return std::hypot(v.x(), v.y()); }

bool isDoubleByteCharset(quint8 cs) { return cs == 128 || cs == 129 || cs == 130 || cs == 134 || cs == 136; }

}  // namespace

QFont Player::qtFont(const Font& f, double pixelSize) const {
    QFont font(substituteFace(f.face.isEmpty() ? QStringLiteral("Arial") : f.face));
    font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    if (f.weight > 0) font.setWeight(QFont::Weight(std::clamp(f.weight, 100, 900)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    return font;
}

void Player::drawText(QPointF reference, const QString& text, const std::vector<double>& dx, quint32 options,
                      const QRectF& rect, const std::vector<quint32>& glyphs) {
    const QTransform t = logicalToImage();
    const bool haveRect = !(options & ETO_NO_RECT) && rect.width() != 0 && rect.height() != 0;
    if ((options & ETO_OPAQUE) && haveRect && !inPath_) {
        QPainterPath p;
        p.addRect(rect.normalized());
        painter_.setTransform(QTransform());
        painter_.fillPath(t.map(p), dc_.bkColor);
    }
    if ((text.isEmpty() && glyphs.empty()) || !dc_.font) return;
    const Font& f = dc_.font->font;

    const QPointF ref = (dc_.textAlign & TA_UPDATECP) ? dc_.current : reference;
    const QPointF o = t.map(ref);
    const QPointF ux = t.map(ref + QPointF(1, 0)) - o;
    QPointF uy = t.map(ref + QPointF(0, 1)) - o;
    const double lx = length(ux), ly = length(uy);
    if (!(lx > 0) || !(ly > 0) || !finite(lx) || !finite(ly) || !finite(o.x()) || !finite(o.y())) return;

    // Em height in image pixels.
    double em;
    if (f.height == 0) {
        em = 12.0 / 72.0 * 25.4 * devPerMm_.height() * std::abs(deviceToImage_.m22());
    } else {
        em = std::abs(double(f.height)) * ly;
        if (f.height > 0) {
            // A positive height is the cell (ascent + descent), not the em.
            const QString key = f.face;
            auto it = cellToEm_.constFind(key);
            if (it == cellToEm_.constEnd()) {
                const QFontMetricsF fm(qtFont(f, 100));
                const double cell = fm.ascent() + fm.descent();
                it = cellToEm_.insert(key, cell > 0 ? 100.0 / cell : 1.0);
            }
            em *= it.value();
        }
    }
    const double maxEm = 4.0 * std::max(imageSize_.width(), imageSize_.height());
    if (!(em >= 0.5)) return;
    em = std::min(em, maxEm);
    const int layoutPx = std::clamp(int(std::lround(em)), 1, MaxLayoutPixels);
    const double k = em / layoutPx;  // image pixels per layout pixel
    const QFont font = qtFont(f, layoutPx);
    const QFontMetricsF fm(font);
    // Glyph numbers are drawn from the face we draw with: the file's own
    // face is not here, so they are at best its look-alike's glyphs.
    QRawFont raw;
    QList<quint32> glyphIndexes;
    QList<QPointF> glyphAdvances;
    if (!glyphs.empty()) {
        raw = QRawFont::fromFont(font);
        if (!raw.isValid()) return;
        glyphIndexes = QList<quint32>(glyphs.begin(), glyphs.end());
        glyphAdvances = raw.advancesForGlyphIndexes(glyphIndexes);
    }

    // Horizontal stretch: an anisotropic mapping, or a width the font asks for.
    double hs = lx / ly;
    if (f.width > 0) {
        const double natural = fm.averageCharWidth() * k;
        if (natural > 0) hs = std::clamp(f.width * lx / natural, 0.05, 20.0);
    }

    // Text stands upright on the device even when the mapping flips the y axis.
    const QPointF xdir = ux / lx;
    QPointF ydir = uy / ly;
    if (xdir.x() * ydir.y() - xdir.y() * ydir.x() < 0) ydir = -ydir;
    QTransform local;
    local.rotate(-double(f.escapement) / 10.0);
    local = local * QTransform::fromScale(k * hs, k) *
            QTransform(xdir.x(), xdir.y(), ydir.x(), ydir.y(), o.x(), o.y());
    if (!finiteTransform(local)) return;

    // Advances in layout pixels.
    const double perLogical = lx / (k * hs);
    std::vector<double> advance;
    double width = 0;
    if (!dx.empty()) {
        advance.reserve(dx.size());
        for (double d : dx) {
            advance.push_back(clampd(d * perLogical, -1e6, 1e6));
            width += advance.back();
        }
    } else if (!glyphs.empty()) {
        for (const QPointF& a : glyphAdvances) advance.push_back(a.x());
        for (double a : advance) width += a;
    } else {
        width = fm.horizontalAdvance(text);
    }

    double x0 = 0;
    switch (dc_.textAlign & 6) {
    case 6: x0 = -width / 2; break;  // TA_CENTER
    case 2: x0 = -width; break;      // TA_RIGHT
    default: break;
    }
    double y0 = fm.ascent();  // TA_TOP
    if ((dc_.textAlign & 24) == 24) y0 = 0;                 // TA_BASELINE
    else if ((dc_.textAlign & 24) == 8) y0 = -fm.descent();  // TA_BOTTOM

    if (dc_.textAlign & TA_UPDATECP) {
        dc_.current = ref + QPointF((dc_.textAlign & 6) == 2 ? -width / perLogical : width / perLogical, 0);
    }

    // Each character costs its cell, never more than the whole picture.
    const double cell = (fm.ascent() + fm.descent()) * std::sqrt(std::abs(local.determinant()));
    const double chars = double(glyphs.empty() ? text.size() : glyphIndexes.size());
    const double picture = double(imageSize_.width()) * imageSize_.height();
    if (!inPath_ && !budget_.spend(chars * (std::min(cell * cell, picture) + 1))) return;

    // Saves the painter, then sets the clip the record asks for, the text's
    // own transform, the opaque background and the text colour.
    const auto beginText = [&] {
        painter_.save();
        if ((options & ETO_CLIPPED) && haveRect) {
            QPainterPath clip;
            clip.addRect(rect.normalized());
            painter_.setTransform(QTransform());
            painter_.setClipPath(t.map(clip), Qt::IntersectClip);
        }
        painter_.setTransform(local);
        if (dc_.bkMode == 2)
            painter_.fillRect(QRectF(x0, y0 - fm.ascent(), width, fm.ascent() + fm.descent()), dc_.bkColor);
        painter_.setPen(dc_.textColor);
    };
    if (!glyphs.empty()) {
        QList<QPointF> positions;
        double pos = x0;
        for (qsizetype i = 0; i < glyphIndexes.size(); ++i) {
            positions << QPointF(pos, y0);
            pos += i < qsizetype(advance.size()) ? advance[size_t(i)] : 0;
        }
        QGlyphRun run;
        run.setRawFont(raw);
        run.setGlyphIndexes(glyphIndexes);
        run.setPositions(positions);
        if (inPath_) {
            path_.addPath(local.map(glyphOutlines(run)));
            return;
        }
        beginText();
        drawGlyphs(painter_, run);
        painter_.restore();
        return;
    }

    if (inPath_) {
        QPainterPath outlines;
        if (advance.empty()) {
            outlines.addText(QPointF(x0, y0), font, text);
        } else {
            double pos = x0;
            for (qsizetype i = 0; i < text.size(); ++i) {
                outlines.addText(QPointF(pos, y0), font, QString(text[i]));
                pos += i < qsizetype(advance.size()) ? advance[size_t(i)] : 0;
            }
        }
        path_.addPath(local.map(outlines));
        return;
    }

    beginText();
    painter_.setFont(font);
    if (advance.empty()) {
        ShapedText::drawWhole(painter_, QPointF(x0, y0), text);
    } else {
        double pos = x0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype start = i;
            if (text[i].isHighSurrogate() && i + 1 < text.size()) ++i;
            shapedText_.draw(painter_, QPointF(pos, y0), text.mid(start, i - start + 1));
            for (qsizetype j = start; j <= i; ++j) pos += j < qsizetype(advance.size()) ? advance[size_t(j)] : 0;
        }
    }
    painter_.restore();
}

void Player::textRecord(const Record& r, bool wide) {
    // EMR_EXTTEXTOUT: bounds, graphics mode, scales, then one EMRTEXT at 36.
    if (!r.has(8, 68)) return;
    emrText(r, 36, wide);
}

void Player::polyTextRecord(const Record& r, bool wide) {
    // EMR_POLYTEXTOUT: bounds, graphics mode, scales, a count, then the EMRTEXTs.
    if (!r.has(8, 32)) return;
    const quint32 count = r.u32(36);
    if (!r.hasArray(40, count, 40)) return;
    for (quint32 i = 0; i < count; ++i) emrText(r, 40 + 40 * i, wide);
}

// EMRTEXT: reference point, character count, string offset, options, the
// opaque/clip rectangle and the advances' offset (offsets from the record start).
void Player::emrText(const Record& r, quint32 at, bool wide) {
    if (!r.has(at, 40)) return;
    const QPointF reference = r.pointL(at);
    // Longer strings are cut: no picture needs more on one line, and each
    // character costs a glyph lookup.
    const quint32 chars = std::min(r.u32(at + 8), MaxChars);
    const quint32 offString = r.u32(at + 12);
    const quint32 options = r.u32(at + 16);
    const QRectF rect = r.rectL(at + 20);
    const quint32 offDx = r.u32(at + 36);

    QString text;
    if (chars > 0) {
        if (!r.hasArray(offString, chars, wide ? 2 : 1)) return;
        if (wide) {
            text.resize(chars);
            for (quint32 i = 0; i < chars; ++i) text[i] = QChar(char16_t(r.u16(offString + 2 * i)));
            if (dc_.font) text = mapSymbolText(text, dc_.font->font.face);
        } else {
            const QByteArray bytes(reinterpret_cast<const char*>(r.data() + offString), chars);
            const Font* f = dc_.font ? &dc_.font->font : nullptr;
            text = f ? decodeText(bytes, f->charset, f->face) : QString::fromLatin1(bytes);
        }
    }
    std::vector<quint32> glyphs;
    if (options & ETO_GLYPH_INDEX) {
        for (quint32 i = 0; i < chars; ++i) glyphs.push_back(wide ? r.u16(offString + 2 * i) : r.u8(offString + i));
        text.clear();
    }

    std::vector<double> dx;
    const bool pdy = options & ETO_PDY;
    const quint64 dxCount = quint64(chars) * (pdy ? 2 : 1);
    if (offDx != 0 && chars > 0 && r.hasArray(offDx, dxCount, 4)) {
        dx.reserve(chars);
        for (quint32 i = 0; i < chars; ++i) dx.push_back(r.i32(offDx + 4 * i * (pdy ? 2 : 1)));
        if (!wide && glyphs.empty() && text.size() != qsizetype(chars)) {
            // Multi-byte characters: one advance per byte, so merge them.
            const Font* f = dc_.font ? &dc_.font->font : nullptr;
            if (f && isDoubleByteCharset(f->charset)) {
                std::vector<double> merged;
                const QByteArray bytes(reinterpret_cast<const char*>(r.data() + offString), chars);
                for (quint32 i = 0; i < chars; ++i) {
                    const uchar b = uchar(bytes[i]);
                    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
                    double d = dx[i];
                    if (lead && i + 1 < chars) d += dx[++i];
                    merged.push_back(d);
                }
                dx.swap(merged);
            }
            if (qsizetype(dx.size()) != text.size()) dx.clear();
        }
    }
    drawText(reference, text, dx, options, rect, glyphs);
}

void Player::smallTextRecord(const Record& r) {
    if (!r.has(8, 28)) return;
    const QPointF reference = r.pointL(8);
    const quint32 chars = std::min(r.u32(16), MaxChars);
    const quint32 options = r.u32(20);
    QRectF rect;
    quint32 at = 36;
    if (!(options & ETO_NO_RECT)) {
        if (!r.has(36, 16)) return;
        rect = r.rectL(36);
        at = 52;
    }
    QString text;
    if (options & ETO_SMALL_CHARS) {
        if (!r.hasArray(at, chars, 1)) return;
        const QByteArray bytes(reinterpret_cast<const char*>(r.data() + at), chars);
        const Font* f = dc_.font ? &dc_.font->font : nullptr;
        text = f ? decodeText(bytes, f->charset, f->face) : QString::fromLatin1(bytes);
    } else {
        if (!r.hasArray(at, chars, 2)) return;
        text.resize(chars);
        for (quint32 i = 0; i < chars; ++i) text[i] = QChar(char16_t(r.u16(at + 2 * i)));
        if (dc_.font) text = mapSymbolText(text, dc_.font->font.face);
    }
    std::vector<quint32> glyphs;
    if ((options & ETO_GLYPH_INDEX) && !(options & ETO_SMALL_CHARS)) {
        for (quint32 i = 0; i < chars; ++i) glyphs.push_back(r.u16(at + 2 * i));
        text.clear();
    }
    drawText(reference, text, {}, options, rect, glyphs);
}

}  // namespace metafile::emf
