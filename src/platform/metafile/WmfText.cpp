// WMF text: TextOut and ExtTextOut, with the font, alignment and advances.
#include "platform/metafile/WmfPlayer.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace metafile::wmf {

QFont Player::qtFont(double* ascent, double* descent) {
    const FontObj& f = dc_.font;
    QFont font(dc_.hasFont ? f.family : QStringLiteral("Liberation Sans"));
    double h = std::abs(double(f.height)) * scaleY();
    if (f.height == 0) h = 16;  // the device default: 12 points
    h = std::clamp(h, 0.5, 4096.0);
    font.setStyleStrategy(QFont::PreferAntialias);
    // Fitted to the pixel grid both ways, as Windows draws metafile text: at
    // equation sizes unhinted stems smear into grey.
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setWeight(QFont::Weight(std::clamp(int(f.weight == 0 ? 400 : f.weight), 1, 1000)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    font.setPixelSize(std::max(1, int(std::lround(h))));
    if (f.height > 0) {
        // A positive height is the cell height (ascent + descent), not the em.
        QFontMetricsF m(font);
        const double cell = m.ascent() + m.descent();
        if (cell > 0) {
            const double em = h * font.pixelSize() / cell;
            font.setPixelSize(std::max(1, int(std::lround(em))));
        }
    }
    if (f.width != 0) {
        QFontMetricsF m(font);
        const double avg = m.averageCharWidth();
        const double wanted = std::abs(double(f.width)) * scaleX();
        if (avg > 0) font.setStretch(std::clamp(int(std::lround(wanted / avg * 100)), 1, 4000));
    }
    QFontMetricsF m(font);
    *ascent = m.ascent();
    *descent = m.descent();
    return font;
}

namespace {
// Splits 8-bit text into characters, so that a double-byte character takes
// the advances of both its bytes.
std::vector<QByteArray> splitChars(const QByteArray& bytes, quint8 charset) {
    std::vector<QByteArray> out;
    const bool dbcs = charset == 128 || charset == 129 || charset == 130 || charset == 134 || charset == 136;
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar c = uchar(bytes[i]);
        bool lead = false;
        if (dbcs) {
            if (charset == 128)
                lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
            else
                lead = c >= 0x81 && c <= 0xFE;
        }
        const qsizetype len = (lead && i + 1 < bytes.size()) ? 2 : 1;
        out.push_back(bytes.mid(i, len));
        i += len;
    }
    return out;
}
}  // namespace

void Player::drawText(QPointF pos, const QByteArray& bytes, const std::vector<qint16>& dx, quint16 options,
                      const QRectF* rect) {
    const bool updateCp = dc_.textAlign & 1;
    if (updateCp) pos = dc_.cp;
    const QTransform m = mapping();
    const double sx = scaleX();
    double ascent = 0, descent = 0;
    const QFont font = qtFont(&ascent, &descent);
    const quint8 charset = dc_.hasFont ? dc_.font.charset : 0;
    const QString face = dc_.hasFont ? dc_.font.face : QString();

    // Opaque and clipping rectangle.
    if (rect && (options & 0x0002)) {
        BrushObj bk;
        bk.color = dc_.bkColor;
        QPainterPath rp;
        rp.addRect(rect->normalized());
        fillWithBrush(rp, bk);
    }
    if (bytes.isEmpty()) return;

    // Character positions along the baseline, in device pixels. With
    // ETO_PDY the advances come in pairs: along the baseline, then upwards.
    const bool pairs = (options & 0x2000) && dx.size() >= size_t(bytes.size()) * 2;
    const auto chars = splitChars(bytes, charset);
    std::vector<QString> texts;
    std::vector<QPointF> offsets;
    texts.reserve(chars.size());
    offsets.reserve(chars.size());
    QFontMetricsF fm(font);
    double x = 0, y = 0;
    qsizetype byteIndex = 0;
    const bool haveDx = !dx.empty();
    const double sy = scaleY();
    for (const QByteArray& c : chars) {
        const QString t = decodeText(c, charset, face);
        texts.push_back(t);
        offsets.emplace_back(x, y);
        if (haveDx) {
            for (qsizetype k = 0; k < c.size(); ++k) {
                const size_t i = size_t(byteIndex + k);
                if (pairs) {
                    x += dx[2 * i] * sx;
                    y -= dx[2 * i + 1] * sy;
                } else if (i < dx.size()) {
                    x += dx[i] * sx;
                }
            }
        } else {
            x += fm.horizontalAdvance(t) + dc_.charExtra * sx;
        }
        byteIndex += c.size();
    }
    const double width = x;

    // Alignment.
    const int horiz = dc_.textAlign & 0x0006;
    const int vert = dc_.textAlign & 0x0018;
    double x0 = 0;
    if (horiz == 0x0002) x0 = -width;          // TA_RIGHT
    else if (horiz == 0x0006) x0 = -width / 2;  // TA_CENTER
    double y0 = 0;
    if (vert == 0x0000) y0 = ascent;            // TA_TOP
    else if (vert == 0x0008) y0 = -descent;     // TA_BOTTOM

    const QPointF exact = m.map(pos);
    // Antialiased text keeps its exact position rather than GDI's whole pixels:
    // at equation sizes half a pixel is a visible share of a letter.
    const QPointF dev = exact;
    const double angle = dc_.hasFont ? dc_.font.escapement / 10.0 : 0.0;
    QTransform textT;
    textT.translate(dev.x(), dev.y());
    textT.rotate(-angle);

    if (updateCp && horiz != 0x0006) {
        // The current position moves on by the text's advance (right-aligned
        // text moves it back).
        QTransform exactT;
        exactT.translate(exact.x(), exact.y());
        exactT.rotate(-angle);
        bool invertible = false;
        const QTransform back = m.inverted(&invertible);
        if (invertible) dc_.cp = back.map(exactT.map(QPointF(horiz == 0x0002 ? -width : width, y)));
    }

    const QRectF cell(x0, y0 - ascent, width, ascent + descent);
    if (measuring_) {
        addBounds(textT.mapRect(cell));
        return;
    }
    const double glyph = std::min((ascent + descent) * (ascent + descent), double(size_.width()) * size_.height());
    if (!spend(double(texts.size()) * (glyph + 1))) return;
    preparePainter();
    painter_->save();
    if (rect && (options & 0x0004)) painter_->setClipRect(m.mapRect(rect->normalized()), Qt::IntersectClip);
    painter_->setTransform(textT);
    if (dc_.bkMode == 2 && !(rect && (options & 0x0002))) painter_->fillRect(cell, dc_.bkColor);
    painter_->setFont(font);
    painter_->setPen(dc_.textColor);
    if (haveDx || dc_.charExtra != 0) {
        for (size_t i = 0; i < texts.size(); ++i) shapedText_.draw(*painter_, QPointF(x0, y0) + offsets[i], texts[i]);
    } else {
        QString all;
        for (const QString& t : texts) all += t;
        ShapedText::drawWhole(*painter_, QPointF(x0, y0), all);
    }
    painter_->restore();
}

// TextOut and ExtTextOut.
void Player::textRecord(quint16 fn, const Params& p) {
    switch (fn) {
    case TextOut: {
        const int len = p.s16(0);
        if (len < 0 || !p.has(2 + ((qsizetype(len) + 1) & ~1) + 4)) break;
        const qsizetype after = 2 + ((qsizetype(len) + 1) & ~1);
        const QByteArray text(reinterpret_cast<const char*>(p.at(2)), len);
        drawText(QPointF(p.s16(after + 2), p.s16(after)), text, {}, 0, nullptr);
        break;
    }
    case ExtTextOut: {
        if (!p.has(8)) break;
        const QPointF pos(p.s16(2), p.s16(0));
        const int len = p.s16(4);
        const quint16 options = p.u16(6);
        qsizetype at = 8;
        QRectF rect;
        bool haveRect = false;
        if (options & 0x0006) {
            if (!p.has(16)) break;
            rect = rectFromLTRB(p.s16(8), p.s16(10), p.s16(12), p.s16(14));
            haveRect = true;
            at = 16;
        }
        if (len < 0 || !p.has(at + len)) break;
        const QByteArray text(reinterpret_cast<const char*>(p.at(at)), len);
        at += (qsizetype(len) + 1) & ~1;
        std::vector<qint16> dx;
        const qsizetype count = (options & 0x2000) && p.has(at + qsizetype(len) * 4) ? qsizetype(len) * 2 : len;
        if (len > 0 && p.has(at + count * 2)) {
            dx.resize(size_t(count));
            for (qsizetype i = 0; i < count; ++i) dx[size_t(i)] = p.s16(at + 2 * i);
        }
        drawText(pos, text, dx, options, haveRect ? &rect : nullptr);
        break;
    }
    default: break;
    }
}

}  // namespace metafile::wmf
