#include "Pixels.h"

QString pixels(const QImage& img, std::initializer_list<QPoint> at) {
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
