#include "Pixels.h"

QString pixels(const QImage& img, const QList<QPoint>& at) {
    QString out;
    for (const QPoint& p : at) {
        if (!img.valid(p)) {
            out += u'!';
            continue;
        }
        const QRgb c = img.pixel(p);
        switch (c) {
        case 0xFFFF0000: out += u'r'; break;
        case 0xFF00FF00: out += u'g'; break;
        case 0xFF0000FF: out += u'b'; break;
        case 0xFF000000: out += u'k'; break;
        case 0xFFFFFFFF: out += u'w'; break;
        case 0xFF00FFFF: out += u'c'; break;
        case 0xFFFF00FF: out += u'm'; break;
        case 0xFFFFFF00: out += u'y'; break;
        default: out += qAlpha(c) == 0 ? u'.' : u'?';
        }
    }
    return out;
}

QString sizedPixels(const QImage& img, const QList<QPoint>& at) {
    return QStringLiteral("%1x%2 ").arg(img.width()).arg(img.height()) + pixels(img, at);
}

int inkIn(const QImage& img, const QRect& area, std::optional<QRgb> colour) {
    const QRect inside = area & img.rect();
    int n = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QRgb c = img.pixel(x, y);
            n += qAlpha(c) > 128 && (!colour || (c & 0xFFFFFF) == (*colour & 0xFFFFFF));
        }
    return n;
}
