// The EMF player on files written record by record here: where things land,
// what clipping, transforms, paths, text and bitmaps do, and what broken input
// gets (refused, or drawn up to the fault; never a crash or a hang).
#include "platform/metafile/Fonts.h"
#include "platform/metafile/Gdi.h"
#include "platform/metafile/Metafile.h"
#include "platform/metafile/ShapedText.h"

#include "Pixels.h"

#include <QFile>
#include <QImage>
#include <QPainterPathStroker>
#include <QRawFont>
#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

#include <bit>
#include <cmath>
#include <functional>
#include <initializer_list>

namespace {

// Record types used below.
enum : quint32 {
    HEADER = 1, POLYGON = 3, POLYGON16 = 86, POLYBEZIERTO16 = 88, POLYPOLYGON16 = 91, SETWINDOWEXTEX = 9, SETVIEWPORTEXTEX = 11,
    SETMAPMODE = 17, SETBKMODE = 18, SETPOLYFILLMODE = 19, SETROP2 = 20, SETTEXTALIGN = 22, SETTEXTCOLOR = 24,
    MOVETOEX = 27, SETMETARGN = 28, EXCLUDECLIPRECT = 29, INTERSECTCLIPRECT = 30, SAVEDC = 33, RESTOREDC = 34,
    SETWORLDTRANSFORM = 35, MODIFYWORLDTRANSFORM = 36, SELECTOBJECT = 37, CREATEPEN = 38, CREATEBRUSHINDIRECT = 39,
    EXTCREATEPEN = 95,
    ELLIPSE = 42, RECTANGLE = 43, ROUNDRECT = 44, LINETO = 54, BEGINPATH = 59, ENDPATH = 60, CLOSEFIGURE = 61, FILLPATH = 62,
    SELECTCLIPPATH = 67, GDICOMMENT = 70, EXTSELECTCLIPRGN = 75, SETDIBITSTODEVICE = 80, STRETCHDIBITS = 81, EXTCREATEFONTINDIRECTW = 82,
    EXTTEXTOUTW = 84, STROKEPATH = 64, CREATEPALETTE = 49, SELECTPALETTE = 48, SETPALETTEENTRIES = 50,
    CREATEDIBPATTERNBRUSHPT = 94, STRETCHBLT = 77, ALPHABLEND = 114, EOF_ = 14, OFFSETCLIPRGN = 26, GRADIENTFILL = 118, BITBLT = 76, MASKBLT = 78,
    PLGBLT = 79, POLYTEXTOUTW = 97,
};
constexpr quint32 NullPen = 0x80000008;
constexpr quint32 Red = 0x0000FF, Blue = 0xFF0000;

quint32 f2u(float f) { return std::bit_cast<quint32>(f); }

QByteArray le(std::initializer_list<quint32> w) {
    QByteArray b(int(w.size() * 4), '\0');
    int i = 0;
    for (quint32 v : w) qToLittleEndian(v, b.data() + 4 * i++);
    return b;
}
QByteArray floats(std::initializer_list<float> v) {
    QByteArray b;
    for (float f : v) b += le({f2u(f)});
    return b;
}
// The text in UTF-16, zero-padded to `bytes` or else to a whole number of words.
QByteArray utf16(const QString& text, int bytes = 0) {
    QByteArray b(std::max(bytes, int(text.size() + 1) / 2 * 4), '\0');
    for (int i = 0; i < text.size(); ++i) qToLittleEndian<quint16>(text[i].unicode(), b.data() + 2 * i);
    return b;
}

// A LOGFONTW; RGNDATA with the given device rectangles.
QByteArray font(qint32 height, const QString& face) {
    return le({1, quint32(height), 0, 0, 0, 400, 0, 0}) + utf16(face.left(31), 64);
}
QByteArray region(std::initializer_list<QRect> rects) {
    QByteArray b = le({32, 1, quint32(rects.size()), quint32(16 * rects.size()), 0, 0, 0, 0});
    for (const QRect& r : rects) b += le({quint32(r.left()), quint32(r.top()), quint32(r.right() + 1), quint32(r.bottom() + 1)});
    return b;
}

// Writes an EMF: the reference device is 96 dpi, so with a frame at the
// origin one device pixel is one image pixel.
class Emf {
public:
    Emf(int widthPx = 96, int heightPx = 48) {
        words({HEADER, 88, 0, 0, quint32(widthPx - 1), quint32(heightPx - 1), 0, 0,
               quint32(widthPx * 2540 / 96), quint32(heightPx * 2540 / 96), 0x464D4520, 0x10000, 0, 0, 16, 0, 0, 0,
               960, 960, 254, 254});
    }
    Emf& rec(quint32 type, std::initializer_list<quint32> params) { return words({type, quint32(8 + 4 * params.size())}).words(params); }
    Emf& rec(quint32 type, const QByteArray& payload) {
        words({type, quint32(8 + payload.size())});
        data_ += payload;
        return *this;
    }
    // Header words from byte `at` on replaced.
    Emf& header(int at, std::initializer_list<quint32> w) {
        data_.replace(at, int(4 * w.size()), le(w));
        return *this;
    }
    Emf& brush(quint32 colour, quint32 handle = 2) { return rec(CREATEBRUSHINDIRECT, {handle, 0, colour, 0}).rec(SELECTOBJECT, {handle}); }
    Emf& redBrush() { return brush(Red, 1).rec(SELECTOBJECT, {NullPen}); }
    Emf& rect(int l, int t, int r, int b) { return rec(RECTANGLE, {quint32(l), quint32(t), quint32(r), quint32(b)}); }
    // Font 1, Arial, selected and drawn on a transparent background.
    Emf& arial(qint32 height = -30) { return rec(EXTCREATEFONTINDIRECTW, font(height, "Arial")).rec(SELECTOBJECT, {1}).rec(SETBKMODE, {1}); }
    Emf& clipRegion(quint32 mode, std::initializer_list<QRect> rects) {
        const QByteArray r = region(rects);
        return rec(EXTSELECTCLIPRGN, le({quint32(r.size()), mode}) + r);
    }
    QByteArray bytes() const {
        QByteArray out = data_ + le({EOF_, 20, 0, 16, 20});
        qToLittleEndian<quint32>(quint32(out.size()), out.data() + 48);
        return out;
    }
    QByteArray records() const { return data_.mid(88); }
    Emf& words(std::initializer_list<quint32> w) {
        data_ += le(w);
        return *this;
    }
    QByteArray& raw() { return data_; }

private:
    QByteArray data_;
};

QImage render(const QByteArray& emf, double zoom = 1) {
    // ZUMBLE_SEED_DIR=folder keeps every picture built here, as fuzzing seeds.
    const QString seeds = qEnvironmentVariable("ZUMBLE_SEED_DIR");
    if (!seeds.isEmpty()) {
        QFile out(seeds + QStringLiteral("/test-%1.emf").arg(qHash(emf), 16, 16, QLatin1Char('0')));
        if (out.open(QIODevice::WriteOnly)) out.write(emf);
    }
    return metafile::render(emf, nullptr, zoom);
}

// Text drawn on white, antialiased, in a dark blue, with the given mapping and font.
QImage paintText(QSize size, const QTransform& transform, const QFont& font, const std::function<void(QPainter&)>& draw) {
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setTransform(transform);
    p.setPen(QColor(20, 40, 160));
    p.setFont(font);
    draw(p);
    return img;
}

QByteArray textOut(int x, int y, const QString& text, quint32 options = 0, QRect clip = {}) {
    return le({0, 0, 0, 0, 1, f2u(1), f2u(1), quint32(x), quint32(y), quint32(text.size()), 76, options, quint32(clip.left()),
               quint32(clip.top()), quint32(clip.right() + 1), quint32(clip.bottom() + 1), 0}) + utf16(text);
}

// GRADIENTFILL over (0,0)-(right,bottom) of one rectangle (mode 0) or
// triangle (mode 2) between the corners, each red or else blue.
QByteArray gradient(quint32 right, quint32 bottom, quint32 mode, std::initializer_list<std::pair<QPoint, bool>> corners) {
    QByteArray b = le({0, 0, right, bottom, quint32(corners.size()), 1, mode});
    for (const auto& [p, red] : corners) b += le({quint32(p.x()), quint32(p.y()), red ? 0xFF00u : 0u, red ? 0u : 0xFF00u});
    return b + (mode ? le({0, 1, 2}) : le({0, 1}));
}

// One EMF+ record, and a comment carrying EMF+ records.
QByteArray plus(quint16 type, quint16 flags, const QByteArray& data) {
    return le({type | quint32(flags) << 16, quint32(12 + data.size()), quint32(data.size())}) + data;
}
QByteArray plusComment(const QByteArray& records) { return le({quint32(4 + records.size()), 0x2B464D45}) + records; }
constexpr quint32 PlusVersion = 0xDBC01002, PlusRed = 0xFFFF0000, PlusGreen = 0xFF00FF00, PlusBlue = 0xFF0000FF;
// The EMF+ header and end of file, and font object 0: Arial, 30 pixels.
const QByteArray PlusHeader = plus(0x4001, 0, le({PlusVersion, 0, 96, 96})), PlusEnd = plus(0x4002, 0, {});
QByteArray plusArial(float size = 30) { return plus(0x4008, 0x600 | 0, le({PlusVersion, f2u(size), 2, 0, 0, 5}) + utf16("Arial")); }
// A picture (96 x 48 unless another is given) drawn by EMF+ records alone.
QByteArray plusPicture(const QByteArray& records, Emf e = Emf()) { return e.rec(GDICOMMENT, plusComment(PlusHeader + records)).bytes(); }
// A string format with the given flags and no margins before or after the text.
QByteArray typographic(quint32 flags) { return le({PlusVersion, flags, 0, 0, 0, 0, 0, 0, 0, 0, 0, f2u(1), 0, 0, 0}); }

// Rows of two 24-bit pixels (0xRRGGBB), each row padded to four bytes.
QByteArray rowsOfTwo(std::initializer_list<quint32> colours) {
    QByteArray b;
    for (quint32 c : colours) {
        b.append(char(c & 0xFF)).append(char((c >> 8) & 0xFF)).append(char((c >> 16) & 0xFF));
        if (b.size() % 8 == 6) b.append(2, '\0');
    }
    return b;
}
// StretchDIBits of a 2 x 2 24-bit bitmap, colours given bottom row first (as
// the file stores them): by default blue, green; red, white.
QByteArray stretchDib(int x, int y, int cx, int cy, qint32 biWidth = 2, quint32 cbBits = 16, quint32 rop = 0x00CC0020,
                      std::initializer_list<quint32> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF}) {
    return le({0, 0, 0, 0, quint32(x), quint32(y), 0, 0, 2, 2, 80, 40, 120, cbBits, 0, rop, quint32(cx), quint32(cy)}) +
           le({40, quint32(biWidth), 2, (24u << 16) | 1, 0, 16, 0, 0, 0, 0}) + rowsOfTwo(colours);
}

// AlphaBlend of a 2 x 1 top-down 32-bit bitmap (given its two pixels) onto (0,0)-(20,10).
QByteArray alphaBlend(quint32 blendFunction, quint32 left, quint32 right) {
    return le({0, 0, 0, 0, 0, 0, 20, 10, blendFunction, 0, 0, f2u(1), 0, 0, f2u(1), 0, 0, 0, 0, 108, 40, 148, 8, 2, 1}) +
           le({40, 2, quint32(-1), (32u << 16) | 1, 0, 8, 0, 0, 0, 0, left, right});
}

// Tables of pictures and what shows at given spots (see pixels()).
void pictureColumns() {
    QTest::addColumn<QByteArray>("emf");
    QTest::addColumn<QList<QPoint>>("at");
    QTest::addColumn<QString>("expected");
}
void row(const QString& name, const QByteArray& emf, const QList<QPoint>& at, const char* expected) {
    QTest::newRow(qPrintable(name)) << emf << at << QString::fromLatin1(expected);
}
void row(const QString& name, const Emf& emf, const QList<QPoint>& at, const char* expected) { row(name, emf.bytes(), at, expected); }
void checkPicture() {
    QFETCH(QByteArray, emf);
    QFETCH(QList<QPoint>, at);
    QTEST(pixels(render(emf), at), "expected");
}

}  // namespace

class TestMetafileEmf : public QObject {
    Q_OBJECT

private slots:
    void naturalSizeAndPlacement() {
        // A box as drawn; zoomed twice, the drawing scaled with it; on a
        // reference device of twice the resolution (its millimetres halved),
        // whose pixels are half as large; and with a frame from 48 pixels in
        // (its left and right), which moves the drawing left by as much.
        const QByteArray box = Emf().redBrush().rect(10, 10, 30, 20).bytes();
        QCOMPARE(sizedPixels(render(box), {{20, 15}, {5, 5}, {40, 15}}), QString("96x48 r.."));
        QCOMPARE(sizedPixels(render(box, 2), {{50, 35}, {15, 30}, {65, 30}}), QString("192x96 r.."));
        const QImage fine = render(Emf().header(80, {127, 127}).redBrush().rect(10, 10, 30, 20).bytes());
        QCOMPARE(sizedPixels(fine, {{10, 7}, {20, 7}, {10, 12}}), QString("96x48 r.."));
        const QImage shifted = render(Emf().header(24, {1270, 0, 3810}).redBrush().rect(60, 10, 80, 20).bytes());
        QCOMPARE(sizedPixels(shifted, {{20, 15}, {5, 15}, {40, 15}}), QString("96x48 r.."));
    }

    void mappingAndPaths_data() {
        pictureColumns();
        // Anisotropic: 1000 logical units across 96 pixels. Isotropic: the
        // smaller scale serves both axes (here 96 / 1000 across).
        row("anisotropic", Emf().redBrush().rec(SETMAPMODE, {8}).rec(SETWINDOWEXTEX, {1000, 1000}).rec(SETVIEWPORTEXTEX, {96, 96})
                               .rect(500, 0, 1000, 250), {{70, 10}, {40, 10}}, "r.");
        row("isotropic", Emf().redBrush().rec(SETMAPMODE, {7}).rec(SETWINDOWEXTEX, {1000, 1000}).rec(SETVIEWPORTEXTEX, {96, 480})
                             .rect(0, 0, 1000, 250), {{90, 20}, {90, 30}}, "r.");
        // Translation by the world transform, then a scale multiplied on the
        // left: the second square is (0..20, 20..40) + 50.
        row("world transform", Emf().redBrush().rec(SETWORLDTRANSFORM, {f2u(1), 0, 0, f2u(1), f2u(50), 0}).rect(0, 0, 10, 10)
                                   .rec(MODIFYWORLDTRANSFORM, {f2u(2), 0, 0, f2u(2), 0, 0, 2}).rect(0, 10, 10, 20),
            {{55, 5}, {5, 5}, {65, 35}, {75, 35}}, "r.r.");
        // A transform that is not finite, or absurdly large, is ignored.
        for (const auto& [name, bad] : {std::pair{"NaN transform", 0x7FC00000u}, {"huge transform", f2u(1e30f)}})
            row(name, Emf().redBrush().rec(SETWORLDTRANSFORM, {bad, 0, 0, f2u(1), 0, 0}).rect(0, 0, 10, 10)
                          .rec(MODIFYWORLDTRANSFORM, {f2u(1), 0, 0, f2u(1), bad, 0, 2}).rect(20, 0, 30, 10), {{5, 5}, {25, 5}}, "rr");
        // A triangle built in a path bracket, and a curve continuing it.
        row("path", Emf().redBrush().rec(BEGINPATH, {}).rec(MOVETOEX, {0, 0}).rec(LINETO, {40, 0}).rec(LINETO, {0, 40})
                        .rec(CLOSEFIGURE, {}).rec(MOVETOEX, {60, 0}).rec(POLYBEZIERTO16, {0, 0, 0, 0, 3, 90, (40u << 16) | 90, (40u << 16) | 60})
                        .rec(ENDPATH, {}).rec(FILLPATH, {0, 0, 0, 0}), {{5, 5}, {35, 35}, {70, 20}, {93, 45}}, "r.r.");
        // PolyPolygon of nested squares: a hole under ALTERNATE, filled under WINDING.
        for (quint32 mode : {1u, 2u})
            row(mode == 1 ? "alternate" : "winding", Emf().redBrush().rec(SETPOLYFILLMODE, {mode}).rec(POLYPOLYGON16, {0, 0, 0, 0, 2, 8, 4, 4,
                0, 40, 40u << 16 | 40, 40u << 16, 10u << 16 | 10, 10u << 16 | 30, 30u << 16 | 30, 30u << 16 | 10}),
                {{5, 5}, {20, 20}}, mode == 1 ? "r." : "rr");
        // SetROP2 R2_NOP draws nothing, R2_COPYPEN again.
        row("rop2 nop", Emf().redBrush().rec(SETROP2, {11}).rect(0, 0, 20, 20).rec(SETROP2, {13}).rect(30, 0, 50, 20),
            {{10, 10}, {40, 10}}, ".r");
    }
    void mappingAndPaths() { checkPicture(); }

    void clipping_data() {
        pictureColumns();
        row("intersect and exclude",
            Emf().redBrush().rec(INTERSECTCLIPRECT, {0, 0, 40, 48}).rec(EXCLUDECLIPRECT, {10, 0, 20, 48}).rect(0, 0, 96, 48),
            {{5, 20}, {15, 20}, {30, 20}, {60, 20}}, "r.r.");
        // ExtSelectClipRgn copy, then or-ed with a second region, then reset:
        // the last point is drawn after the reset.
        row("regions", Emf().redBrush().clipRegion(5, {QRect(50, 0, 10, 48)}).clipRegion(2, {QRect(0, 0, 10, 10)}).rect(0, 0, 96, 24)
                           .rec(EXTSELECTCLIPRGN, {0, 5}).rect(0, 40, 96, 48), {{55, 20}, {5, 5}, {5, 15}, {30, 20}, {30, 44}}, "rr..r");
        // The meta region stays when the clip is reset.
        row("meta region", Emf().redBrush().rec(INTERSECTCLIPRECT, {0, 0, 40, 48}).rec(SETMETARGN, {}).rec(EXTSELECTCLIPRGN, {0, 5})
                               .rec(INTERSECTCLIPRECT, {20, 0, 96, 48}).rect(0, 0, 96, 24).rec(EXTSELECTCLIPRGN, {0, 5}).rect(0, 24, 96, 48),
            {{10, 10}, {30, 10}, {60, 10}, {10, 30}, {60, 30}}, ".r.r.");
        // SelectClipPath with an ellipse; RestoreDC brings the old clip back.
        // The second point is the box's corner, outside the ellipse.
        row("path clip", Emf().redBrush().rec(SAVEDC, {}).rec(BEGINPATH, {}).rec(ELLIPSE, {0, 0, 48, 48}).rec(ENDPATH, {})
                             .rec(SELECTCLIPPATH, {5}).rect(0, 0, 96, 48).rec(RESTOREDC, {quint32(-1)}).rect(80, 0, 96, 48),
            {{24, 24}, {2, 2}, {60, 24}, {88, 24}}, "r..r");
        // Two nested saves: the inner clip narrows, RestoreDC(-1) brings back
        // the outer one, an absolute RestoreDC(1) brings back no clip at all.
        row("nested saves", Emf().redBrush().rec(SAVEDC, {}).rec(INTERSECTCLIPRECT, {0, 0, 60, 48}).rec(SAVEDC, {})
                                .rec(INTERSECTCLIPRECT, {0, 0, 20, 48}).rect(0, 0, 96, 8).rec(RESTOREDC, {quint32(-1)}).rect(0, 16, 96, 24)
                                .rec(RESTOREDC, {1}).rect(0, 32, 96, 40), {{10, 4}, {30, 4}, {50, 20}, {70, 20}, {90, 36}}, "r.r.r");
        // The meta region is saved too; offsetting moves the clip and not the meta region.
        row("saved meta region", Emf().redBrush().rec(SAVEDC, {}).rec(INTERSECTCLIPRECT, {0, 0, 40, 48}).rec(SETMETARGN, {})
                                     .rec(INTERSECTCLIPRECT, {0, 0, 20, 48}).rec(OFFSETCLIPRGN, {10, 0}).rect(0, 0, 96, 16)
                                     .rec(RESTOREDC, {quint32(-1)}).rect(0, 32, 96, 48), {{5, 8}, {15, 8}, {35, 8}, {70, 40}}, ".r.r");
        // A square clip made under a 45-degree rotation about (48, 24) is a
        // diamond on the device, and stays one when the transform is reset.
        // Its centre, top corner (above the unrotated square) and left corner;
        // the unrotated square's corners, outside the diamond.
        const float c = float(std::sqrt(0.5)), dx = float(48 - 48 * c + 24 * c), dy = float(24 - 48 * c - 24 * c);
        row("under rotation", Emf().redBrush().rec(SETWORLDTRANSFORM, {f2u(c), f2u(c), f2u(-c), f2u(c), f2u(dx), f2u(dy)})
                                  .rec(INTERSECTCLIPRECT, {38, 14, 58, 34}).rec(SETWORLDTRANSFORM, {f2u(1), 0, 0, f2u(1), 0, 0})
                                  .rect(0, 0, 96, 48), {{48, 24}, {48, 12}, {35, 24}, {40, 16}, {56, 32}}, "rrr..");
    }
    void clipping() { checkPicture(); }

    void everyCombineMode_data() {
        // The clip so far covers x 0..60; the new region, or path, 40..96.
        // Which of the three bands show: only the old clip, both, only the new one.
        pictureColumns();
        const char* names[] = {"and", "or", "xor", "diff", "copy"};
        const char* shown[] = {".r.", "rrr", "r.r", "r..", ".rr"};
        const Emf old = Emf().redBrush().rec(INTERSECTCLIPRECT, {0, 0, 60, 48});
        for (quint32 m = 1; m <= 5; ++m) {
            row(QStringLiteral("region ") + names[m - 1], Emf(old).clipRegion(m, {QRect(40, 0, 56, 48)}).rect(0, 0, 96, 48),
                {{20, 24}, {50, 24}, {80, 24}}, shown[m - 1]);
            row(QStringLiteral("path ") + names[m - 1],
                Emf(old).rec(BEGINPATH, {}).rect(40, 0, 96, 48).rec(ENDPATH, {}).rec(SELECTCLIPPATH, {m}).rect(0, 0, 96, 48),
                {{20, 24}, {50, 24}, {80, 24}}, shown[m - 1]);
        }
    }
    void everyCombineMode() { checkPicture(); }

    void pathClipShapesAGradient() {
        // A ring (two ellipses, alternate fill) clips a red-to-blue gradient.
        QImage img = render(Emf().rec(BEGINPATH, {}).rec(ELLIPSE, {0, 0, 48, 48}).rec(ELLIPSE, {12, 12, 36, 36}).rec(ENDPATH, {})
                                .rec(SELECTCLIPPATH, {5}).rec(GRADIENTFILL, gradient(96, 48, 0, {{{0, 0}, true}, {{96, 48}, false}})).bytes());
        // The hole, outside the ring in the box's corner, outside it altogether.
        QCOMPARE(pixels(img, {{24, 24}, {1, 1}, {70, 24}}), QString("..."));
        const QRgb left = img.pixel(3, 24), right = img.pixel(45, 24);
        QCOMPARE(qAlpha(left), 255);
        QCOMPARE(qAlpha(right), 255);
        QVERIFY(qRed(left) > 220 && qBlue(left) < 35);  // near the red end
        QVERIFY(qRed(right) < qRed(left) - 90 && qBlue(right) > qBlue(left) + 90);  // half-way towards blue

        // Triangles shade between their corners rather than taking one colour.
        img = render(Emf().rec(GRADIENTFILL, gradient(96, 48, 2, {{{0, 0}, true}, {{96, 0}, false}, {{0, 48}, true}})).bytes());
        QVERIFY(qRed(img.pixel(4, 10)) > 200);
        QVERIFY(qBlue(img.pixel(70, 4)) > 150);
        QCOMPARE(pixels(img, {{90, 40}}), QString("."));
    }

    void clipPathsInEveryCell_data() {
        // Cells 32 px apart, each clipped to its own shape (circles written as
        // Bezier figures) inside SaveDC / RestoreDC, filled over its whole box
        // and a little into its neighbours, then outlined after the restore.
        // Shapes: a ring (outer and inner circle, alternate fill); "glyphs",
        // eight small circles round the centre in one path; the same eight in
        // two paths, the second or-ed in.
        QTest::addColumn<int>("cells");
        QTest::addColumn<QString>("shape");
        QTest::addColumn<quint32>("fill");
        for (int cells : {1, 2, 8})
            QTest::addRow("%d ring polygon", cells) << cells << QStringLiteral("ring") << quint32(POLYGON16);
        QTest::addRow("2 ring stretchblt") << 2 << QStringLiteral("ring") << quint32(STRETCHBLT);
        QTest::addRow("8 ring stretchblt") << 8 << QStringLiteral("ring") << quint32(STRETCHBLT);
        QTest::addRow("8 ring stretchdibits") << 8 << QStringLiteral("ring") << quint32(STRETCHDIBITS);
        QTest::addRow("8 glyphs polygon") << 8 << QStringLiteral("glyphs") << quint32(POLYGON16);
        QTest::addRow("8 or-ed glyphs stretchblt") << 8 << QStringLiteral("or") << quint32(STRETCHBLT);
    }
    void clipPathsInEveryCell() {
        QFETCH(int, cells);
        QFETCH(QString, shape);
        QFETCH(quint32, fill);
        auto circle = [](Emf& e, int cx, int cy, int r) {
            const int k = int(std::lround(r * 0.5523));
            auto pt = [](int x, int y) { return (quint32(y) << 16) | quint32(x); };
            e.rec(MOVETOEX, {quint32(cx + r), quint32(cy)});
            e.rec(POLYBEZIERTO16, {0, 0, 0, 0, 12, pt(cx + r, cy + k), pt(cx + k, cy + r), pt(cx, cy + r),
                                   pt(cx - k, cy + r), pt(cx - r, cy + k), pt(cx - r, cy), pt(cx - r, cy - k),
                                   pt(cx - k, cy - r), pt(cx, cy - r), pt(cx + k, cy - r), pt(cx + r, cy - k),
                                   pt(cx + r, cy)});
            e.rec(CLOSEFIGURE, {});
        };
        auto glyphs = [&](Emf& e, int cx, int cy, int from, int to) {
            for (int i = from; i < to; ++i)
                circle(e, cx + int(std::lround(10 * std::cos(i * M_PI / 4))), cy + int(std::lround(10 * std::sin(i * M_PI / 4))), 3);
        };
        Emf e(32 * cells, 32);
        e.redBrush().rec(SELECTOBJECT, {0x80000007});  // the black pen
        for (int i = 0; i < cells; ++i) {
            const int x = 32 * i, cx = x + 16, cy = 16;
            e.rec(SAVEDC, {}).rec(BEGINPATH, {});
            if (shape == u"ring") {
                circle(e, cx, cy, 14);
                circle(e, cx, cy, 6);
            } else {
                glyphs(e, cx, cy, 0, shape == u"or" ? 4 : 8);
            }
            e.rec(ENDPATH, {}).rec(SELECTCLIPPATH, {5});
            if (shape == u"or") {
                e.rec(BEGINPATH, {});
                glyphs(e, cx, cy, 4, 8);
                e.rec(ENDPATH, {}).rec(SELECTCLIPPATH, {2});
            }
            e.rec(SELECTOBJECT, {NullPen});
            const quint32 l = quint32(x - 4), r = quint32(x + 36);
            if (fill == POLYGON16)
                e.rec(POLYGON16, {0, 0, 0, 0, 4, l & 0xFFFF, r, r | (36u << 16), (l & 0xFFFF) | (36u << 16)});
            else if (fill == STRETCHDIBITS)
                e.rec(STRETCHDIBITS, stretchDib(x - 4, 0, 40, 36, 2, 16, 0x00CC0020, {0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000}));
            else  // the brush, blitted without a source bitmap
                e.rec(STRETCHBLT, {0, 0, 0, 0, l, 0, 40, 36, 0x00F00021, 0, 0, f2u(1), 0, 0, f2u(1), 0, 0, 0, 0, 0, 0, 0, 0, 40, 36});
            e.rec(RESTOREDC, {quint32(-1)}).rec(BEGINPATH, {});
            circle(e, cx, cy, 14);
            circle(e, cx, cy, 6);
            e.rec(ENDPATH, {}).rec(STROKEPATH, {0, 0, 0, 0});
        }
        // In each cell: the ring's left and right, its hole, and the cell's corners.
        const QImage img = render(e.bytes());
        QString got;
        for (int x = 0; x < 32 * cells; x += 32) got += pixels(img, {{x + 6, 16}, {x + 26, 16}, {x + 16, 16}, {x + 1, 1}, {x + 30, 30}}) + u' ';
        QCOMPARE(got, QStringLiteral("rr... ").repeated(cells));
    }

    void paletteIndexedPatterns_data() {
        // A 1-bit 8 x 8 pattern, columns 0..3 take colour-table entry 0 and
        // 4..7 entry 1; with DIB_PAL_COLORS the entries are palette indices.
        // Records before the brush: "pal" creates palette 3 (green, magenta)
        // and selects it, "set" then changes its entry 1 to blue.
        QTest::addColumn<QString>("before");
        QTest::addColumn<quint32>("usage");
        QTest::addColumn<quint32>("entries");  // the colour table's first four bytes
        QTest::addColumn<QString>("expected");  // columns 1 and 5
        QTest::addRow("default palette") << QString() << 1u << (16u << 16 | 13u) << QStringLiteral("rb");
        QTest::addRow("selected palette") << QStringLiteral("pal") << 1u << (0u << 16 | 1u) << QStringLiteral("mg");
        QTest::addRow("changed entry") << QStringLiteral("pal set") << 1u << (1u << 16 | 0u) << QStringLiteral("gb");
        QTest::addRow("index past the end") << QStringLiteral("pal") << 1u << (7u << 16 | 0u) << QStringLiteral("gk");
        QTest::addRow("rgb table") << QStringLiteral("pal") << 0u << 0x00FF0000u << QStringLiteral("rk");
        QTest::addRow("stretchdibits") << QStringLiteral("pal dib") << 1u << (0u << 16 | 1u) << QStringLiteral("mg");
    }
    void paletteIndexedPatterns() {
        QFETCH(QString, before);
        QFETCH(quint32, usage);
        QFETCH(quint32, entries);
        Emf e;
        e.rec(SELECTOBJECT, {NullPen});
        if (before.contains(u"pal")) e.rec(CREATEPALETTE, {3, 0x300 | (2u << 16), 0x0000FF00u, 0x00FF00FFu}).rec(SELECTPALETTE, {3});
        if (before.contains(u"set")) e.rec(SETPALETTEENTRIES, {3, 1, 1, 0x00FF0000u});
        // BITMAPINFOHEADER, a two-entry table (two 16-bit indices, or one RGBQUAD for
        // entry 0 and a zero one for entry 1), then eight rows of 0x0F.
        const QByteArray bmi = le({40, 8, 8, (1u << 16) | 1, 0, 32, 0, 0, 2, 0, entries}) + (usage ? QByteArray() : le({0}));
        const QByteArray bits = le({0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F});
        const quint32 size = quint32(bmi.size()), at = 80;
        if (before.contains(u"dib"))
            e.rec(STRETCHDIBITS, le({0, 0, 0, 0, 0, 0, 0, 0, 8, 8, at, size, at + size, 32, usage, 0x00CC0020, 96, 48}) + bmi + bits);
        else
            e.rec(CREATEDIBPATTERNBRUSHPT, le({1, usage, 32, size, 32 + size, 32}) + bmi + bits).rec(SELECTOBJECT, {1}).rect(0, 0, 96, 48);
        const int scale = before.contains(u"dib") ? 12 : 1;  // the bitmap stretched 12 times across
        QTEST(pixels(render(e.bytes()), {{1 * scale, 20}, {5 * scale, 20}}), "expected");
    }

    void textInk_data() {
        // Text in the given colour: more than `moreThan` pixels of it in each
        // inked area, none in each blank one.
        QTest::addColumn<QByteArray>("emf");
        QTest::addColumn<QRgb>("colour");
        QTest::addColumn<int>("moreThan");
        QTest::addColumn<QList<QRect>>("inked");
        QTest::addColumn<QList<QRect>>("blank");
        const auto ink = [](const char* name, const QByteArray& emf, QRgb colour, int moreThan, QList<QRect> inked, QList<QRect> blank) {
            QTest::newRow(name) << emf << colour << moreThan << inked << blank;
        };
        // TA_LEFT|TA_TOP and TA_RIGHT|TA_TOP at x = 100; nothing above the top.
        const QRect left(0, 0, 100, 60), right(100, 0, 100, 60), above(0, 0, 200, 9);
        for (quint32 align : {0u, 2u})
            ink(align ? "aligned right" : "aligned left", Emf(200, 60).arial().rec(SETTEXTCOLOR, {Blue}).rec(SETTEXTALIGN, {align})
                .rec(EXTTEXTOUTW, textOut(100, 10, "HHH")).bytes(), qRgb(0, 0, 255), 100, {align ? left : right}, {align ? right : left, above});
        // ETO_CLIPPED keeps the glyphs inside the rectangle.
        ink("clipped", Emf(200, 60).arial().rec(SETTEXTCOLOR, {Blue}).rec(EXTTEXTOUTW, textOut(10, 10, "HHHHHHHH", 4, QRect(0, 0, 40, 60))).bytes(),
            qRgb(0, 0, 255), 50, {{0, 0, 40, 60}}, {{41, 0, 159, 60}});
        // Glyph numbers come out as glyphs of the face we draw with, not as nothing.
        ink("glyph indices", Emf().arial().rec(EXTTEXTOUTW, textOut(5, 5, QString(QChar(36)) + QChar(40), 0x10)).bytes(), 0, 20,
            {{0, 0, 96, 48}}, {});
        // PolyTextOut: two strings, "I" each (padded) at its own reference point, after both EMRTEXTs.
        const quint32 first = 8 + 32 + 80;
        ink("poly text", Emf().arial().rec(POLYTEXTOUTW, le({0, 0, 0, 0, 1, f2u(1), f2u(1), 2, 5, 5, 1, first, 0, 0, 0, 0, 0, 0,
                                                              60, 5, 1, first + 4, 0, 0, 0, 0, 0, 0, 0x49, 0x49})).bytes(),
            0, 10, {{0, 0, 40, 48}, {55, 0, 41, 48}}, {{30, 0, 20, 48}});
        // An EMF+ string, in its layout rectangle.
        ink("EMF+ string", plusPicture(plusArial() + plus(0x401C, 0x8000, le({0xFF000000u, 63, 2}) + floats({60, 0, 36, 48}) + le({0x00490049}))),
            0, 10, {{60, 0, 36, 48}}, {{0, 0, 55, 48}});
        // Stretched twenty times across, glyphs are too big for Qt's glyph
        // images and are filled as outlines: "I", laid out in a box and then
        // placed as a glyph (a space after it), its stem across the right half.
        const QByteArray stretched = plusArial() + plus(0x4008, 0x700 | 1, typographic(0)) + plus(0x402A, 0, floats({20, 0, 0, 1, 0, 0}));
        ink("EMF+ string stretched", plusPicture(stretched + plus(0x401C, 0x8000, le({0xFF000000u, 1, 1}) + floats({0, 0, 20, 48}) + le({0x0049}))),
            0, 300, {{60, 8, 36, 20}}, {{0, 0, 50, 48}});
        ink("EMF+ glyphs stretched",
            plusPicture(stretched + plus(0x4036, 0x8000, le({0xFF000000u, 1, 0, 2, 0x00200049}) + floats({0, 30, 200, 30}))),
            0, 300, {{60, 8, 36, 20}}, {{0, 0, 50, 48}});
        // DrawDriverString: characters looked up in the font, each at its own
        // point (nothing below the baseline); only the first placed and the
        // rest following; glyph numbers of the font.
        const auto driver = [](quint32 options, quint32 code) {
            return plusPicture(plusArial() +
                               plus(0x4036, 0x8000, le({0xFF000000u, options, 0, 2, code | (code << 16)}) + floats({10, 40, 70, 40})));
        };
        ink("driver string", driver(1, 'I'), 0, 10, {{8, 10, 16, 32}, {68, 10, 16, 32}}, {{30, 0, 36, 48}, {0, 42, 96, 6}});
        ink("driver string, the rest following", driver(1 | 4, 'I'), 0, 20, {{8, 10, 30, 32}}, {{40, 0, 56, 48}});
        QFont arialFont(metafile::substituteFace(QStringLiteral("Arial")));
        arialFont.setPixelSize(30);
        const QList<quint32> glyph = QRawFont::fromFont(arialFont).glyphIndexesForString(QStringLiteral("I"));
        QCOMPARE(glyph.size(), 1);
        ink("driver string, glyph numbers", driver(0, glyph[0]), 0, 10, {{8, 10, 16, 32}, {68, 10, 16, 32}}, {{30, 0, 36, 48}});
    }
    void textInk() {
        QFETCH(QByteArray, emf);
        QFETCH(QRgb, colour);
        QFETCH(int, moreThan);
        QFETCH(QList<QRect>, inked);
        QFETCH(QList<QRect>, blank);
        const QImage img = render(emf);
        const auto at = [](const QRect& r) { return QStringLiteral("at %1,%2").arg(r.x()).arg(r.y()).toLatin1(); };
        for (const QRect& r : inked) QVERIFY2(inkIn(img, r, colour) > moreThan, at(r).constData());
        for (const QRect& r : blank) QVERIFY2(inkIn(img, r, colour) == 0, at(r).constData());
    }

    void bitmaps_data() {
        pictureColumns();
        // The first row in the file is the bottom one. A source rectangle
        // counts its rows from the bottom too: ySrc 0, one row high, is the
        // blue and green row.
        row("rows from the bottom", Emf().rec(STRETCHDIBITS, stretchDib(0, 0, 20, 20)), {{15, 15}, {5, 15}, {5, 5}, {30, 5}}, "gbr.");
        QByteArray part = stretchDib(0, 0, 20, 10);
        part.replace(36, 4, le({1}));  // cySrc
        row("source rows from the bottom", Emf().rec(STRETCHDIBITS, part), {{5, 5}, {15, 5}}, "bg");
        // SetDIBitsToDevice: a 2 x 4 bitmap sent as two bands of two rows
        // (bottom band first), each call naming the whole bitmap: each band
        // lands on its own rows, rows 2-3 from the bottom the top two.
        const auto band = [](quint32 startScan, quint32 colour) {
            return le({0, 0, 0, 0, 0, 0, 0, 0, 2, 4, 76, 40, 116, 16, 0, startScan, 2}) + le({40, 2, 4, (24u << 16) | 1, 0, 0, 0, 0, 0, 0}) +
                   rowsOfTwo({colour, colour, colour, colour});
        };
        row("bands", Emf().rec(SETDIBITSTODEVICE, band(0, 0xFF0000)).rec(SETDIBITSTODEVICE, band(2, 0x0000FF)),
            {{0, 0}, {1, 1}, {0, 2}, {1, 3}, {0, 4}}, "bbrr.");
        // Raster operations leave the blank page transparent: the
        // inverted-copy, mask, inverted-copy idiom shows only the masked pixel
        // (top left, black in the mask). Over something already drawn the
        // operation combines with it: red AND white-on-the-right.
        constexpr quint32 SrcInvert = 0x00660046, SrcAnd = 0x008800C6, Rd = 0xFF0000, W = 0xFFFFFF;
        row("invert, mask, invert", Emf().rec(STRETCHDIBITS, stretchDib(0, 0, 20, 20, 2, 16, SrcInvert, {Rd, Rd, Rd, Rd}))
                                        .rec(STRETCHDIBITS, stretchDib(0, 0, 20, 20, 2, 16, SrcAnd, {W, W, 0, W}))
                                        .rec(STRETCHDIBITS, stretchDib(0, 0, 20, 20, 2, 16, SrcInvert, {Rd, Rd, Rd, Rd})),
            {{5, 5}, {15, 5}, {5, 15}}, "r..");
        row("and over a drawing", Emf().redBrush().rect(0, 0, 20, 20).rec(STRETCHDIBITS, stretchDib(0, 0, 20, 20, 2, 16, SrcAnd, {0, W, 0, W})),
            {{5, 5}, {15, 5}}, "kr");
        // MaskBlt over red: the green source where the mask is white (its
        // left column), the destination where it is black. The source
        // transform scales the 20 x 20 destination down to the 2 x 2 bitmap.
        const QByteArray green = le({40, 2, 2, (24u << 16) | 1, 0, 16, 0, 0, 0, 0}) + rowsOfTwo({0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00});
        row("mask blit", Emf().redBrush().rect(0, 0, 20, 20).rec(MASKBLT, le({0, 0, 0, 0, 0, 0, 20, 20, 0xAACC0020u, 0, 0, f2u(0.1f), 0, 0,
            f2u(0.1f), 0, 0, 0, 0, 128, 40, 168, 16, 0, 0, 0, 184, 48, 232, 8}) + green + le({40, 2, 2, (1u << 16) | 1, 0, 8, 0, 0, 0, 0, 0, W,
            0x80, 0x80})),
            {{5, 10}, {15, 10}}, "gr");
        // PlgBlt onto a parallelogram leaning right, (20,0) (60,0) (0,40):
        // inside, then left of the leaning edge and right of it.
        row("parallelogram blit", Emf().rec(PLGBLT, le({0, 0, 0, 0, 20, 0, 60, 0, 0, 40, 0, 0, 2, 2, f2u(1), 0, 0, f2u(1), 0, 0, 0, 0, 140,
                                                        40, 180, 16, 0, 0, 0, 0, 0, 0, 0}) + green),
            {{30, 5}, {12, 35}, {5, 5}, {55, 35}}, "gg..");
        // AlphaBlend with per-pixel alpha: opaque red, then fully transparent.
        row("alpha per pixel", Emf().rec(ALPHABLEND, alphaBlend(0x01FF0000, 0xFFFF0000, 0)), {{5, 5}, {15, 5}}, "r.");
        // Widths and bit counts that do not match the bits: skipped, and what follows drawn.
        for (const auto& [width, cbBits] : {std::pair{2000000, 16u}, {-5, 16u}, {2, 4u}, {2, 4000u}})
            row(QStringLiteral("lying bitmap %1 %2").arg(width).arg(cbBits),
                Emf().rec(STRETCHDIBITS, stretchDib(0, 0, 20, 20, width, cbBits)).redBrush().rect(40, 0, 50, 10), {{5, 5}, {45, 5}}, ".r");
    }
    void bitmaps() { checkPicture(); }

    void alphaBlending() {
        // A constant alpha of one half over blue: both colours at half strength.
        const QImage img = render(Emf().brush(Blue, 1).rec(SELECTOBJECT, {NullPen}).rect(0, 0, 20, 10)
                                      .rec(ALPHABLEND, alphaBlend(0x00800000, 0x00FF0000, 0x00FF0000)).bytes());
        QVERIFY(std::abs(qRed(img.pixel(5, 5)) - 128) < 6);
        QVERIFY(std::abs(qBlue(img.pixel(5, 5)) - 127) < 6);
    }

    void rasterOperations_data() {
        // The destination is red on the left and the blank page on the right;
        // the source is green, the brush blue. Results over red, then over the
        // page (. for a pixel left transparent: white over the page).
        QTest::addColumn<quint32>("rop");
        QTest::addColumn<bool>("withSource");
        QTest::addColumn<QString>("expected");
        QTest::newRow("SRCCOPY") << 0x00CC0020u << true << QString("gg");
        QTest::newRow("SRCPAINT") << 0x00EE0086u << true << QString("y.");
        QTest::newRow("SRCAND") << 0x008800C6u << true << QString("kg");
        QTest::newRow("SRCINVERT") << 0x00660046u << true << QString("ym");
        QTest::newRow("SRCERASE") << 0x00440328u << true << QString("gk");
        QTest::newRow("NOTSRCCOPY") << 0x00330008u << true << QString("mm");
        QTest::newRow("NOTSRCERASE") << 0x001100A6u << true << QString("bk");
        QTest::newRow("MERGECOPY") << 0x00C000CAu << true << QString("kk");
        QTest::newRow("MERGEPAINT") << 0x00BB0226u << true << QString("m.");
        QTest::newRow("PATPAINT") << 0x00FB0A09u << true << QString("m.");
        QTest::newRow("PATCOPY") << 0x00F00021u << false << QString("bb");
        QTest::newRow("PATINVERT") << 0x005A0049u << false << QString("my");
        QTest::newRow("DSTINVERT") << 0x00550009u << false << QString("ck");
        QTest::newRow("BLACKNESS") << 0x00000042u << false << QString("kk");
        QTest::newRow("D (no-op)") << 0x00AA0029u << false << QString("r.");
    }
    void rasterOperations() {
        QFETCH(quint32, rop);
        QFETCH(bool, withSource);
        Emf e;
        e.redBrush().rect(0, 0, 20, 20).brush(Blue);
        if (withSource)
            e.rec(STRETCHDIBITS, stretchDib(0, 0, 40, 20, 2, 16, rop, {0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00}));
        else
            e.rec(BITBLT, {0, 0, 0, 0, 0, 0, 40, 20, rop, 0, 0, f2u(1), 0, 0, f2u(1), 0, 0, 0, 0, 0, 0, 0, 0});
        QTEST(pixels(render(e.bytes()), {{10, 10}, {30, 10}}), "expected");
    }

    // ---- bad input ----

    void badInput_data() {
        pictureColumns();
        // A record whose size lies: drawn up to it, nothing after it.
        for (quint32 size : {0u, 6u, 26u, 4096u, 0xFFFFFFF8u})
            row(QStringLiteral("record size %1").arg(size),
                Emf().redBrush().rect(0, 0, 10, 10).words({RECTANGLE, size, 20, 0, 30, 10}).rect(40, 0, 50, 10), {{5, 5}, {25, 5}, {45, 5}}, "r..");
        // A record shorter than its fields, a point count past the record,
        // object indexes out of range and corner sizes at the integer limit
        // are skipped; the next record is drawn.
        row("short records, bad objects", Emf().redBrush().rec(RECTANGLE, {20, 0}).rec(POLYGON16, {0, 0, 0, 0, 1000000, 0, 0})
                .rec(SELECTOBJECT, {0x7FFFFFFF}).rec(SELECTOBJECT, {0x8000FFFF}).rec(CREATEBRUSHINDIRECT, {0xFFFFFFFF, 0, 0, 0})
                .rec(ROUNDRECT, {60, 0, 70, 10, 0x80000000, 0x80000000}).rect(40, 0, 50, 10), {{45, 5}, {25, 5}, {65, 5}}, "r.r");
        // An EMF+ comment with garbage after the signature, then one whose byte count lies: the plain drawing is drawn.
        row("broken EMF+ comments", Emf().rec(GDICOMMENT, le({24, 0x2B464D45, 0x4001, 0xFFFFFFFF, 0xDEADBEEF, 0x12345678, 0}))
                                        .rec(GDICOMMENT, le({0xFFFFFFFF, 0x2B464D45})).redBrush().rect(0, 0, 10, 10), {{5, 5}}, "r");
        // Deep SaveDC stacks stay bounded; the clip goes with the restores.
        Emf deep;
        deep.redBrush();
        for (int i = 0; i < 50000; ++i) deep.words({SAVEDC, 8});
        deep.rec(INTERSECTCLIPRECT, {0, 0, 10, 10});
        for (int i = 0; i < 60000; ++i) deep.words({RESTOREDC, 12, quint32(-1)});
        row("deep save stack", deep.rec(RESTOREDC, {quint32(-100000)}).rec(RESTOREDC, {0x7FFFFFFF}).rect(0, 0, 96, 48), {{50, 30}}, "r");
    }
    void badInput() { checkPicture(); }

    void badHeadersAreRefused() {
        const QByteArray good = Emf().redBrush().rect(0, 0, 10, 10).bytes();
        // Cut inside the header, or a header whose size is wrong: refused.
        QVERIFY(render(good.left(87)).isNull());
        QVERIFY(render(Emf().header(4, {4096}).redBrush().rect(0, 0, 10, 10).bytes()).isNull());
        // Neither usable bounds nor a usable frame: refused.
        const quint32 m10 = quint32(-10);
        QVERIFY(render(Emf().header(8, {10, 10, m10, m10, 10, 10, m10, m10}).redBrush().rect(0, 0, 10, 10).bytes()).isNull());
    }

    void hugeFramesAreCapped() {
        QImage img = render(Emf().header(24, {quint32(-2000000000), 0, 2000000000}).redBrush().rect(0, 0, 1000000, 100).bytes());
        QVERIFY(img.height() <= 8192);
        QCOMPARE(img.width(), 8192);

        // Enormous extents and coordinates draw (or not) without hanging.
        // The last extent of 0 x 0 is refused by the player, as by GDI.
        QVERIFY(!render(Emf().redBrush().rec(SETMAPMODE, {8}).rec(SETWINDOWEXTEX, {1, 1}).rec(SETVIEWPORTEXTEX, {0x7FFFFFFF, 0x7FFFFFFF})
                            .rect(-2000000000, -2000000000, 2000000000, 2000000000).rec(ELLIPSE, {0, 0, 0x7FFFFFFF, 0x7FFFFFFF})
                            .rec(SETWINDOWEXTEX, {0, 0}).bytes())
                     .isNull());

        // Dotted and dashed lines across the whole coordinate range.
        img = render(Emf().rec(CREATEPEN, {1, 2, 0, 0, 0}).rec(SELECTOBJECT, {1}).rec(MOVETOEX, {0x80000001, 0x80000001})
                         .rec(LINETO, {0x7FFFFFFF, 0x7FFFFFFF}).rec(EXTCREATEPEN, {2, 0, 0, 0, 0, 0x10000 | 1, 1, 0, 0, 0, 0})
                         .rec(SELECTOBJECT, {2}).rec(MOVETOEX, {0x80000001, 24}).rec(LINETO, {0x7FFFFFFF, 24}).bytes());
        QVERIFY(inkIn(img, img.rect(), qRgb(0, 0, 0)) > 0);

        // Frame unusable, bounds usable: the size comes from the bounds.
        img = render(Emf().header(32, {quint32(-100)}).redBrush().rect(0, 0, 10, 10).bytes());
        QCOMPARE(sizedPixels(img, {{5, 5}}), QString("96x48 r"));

        // A geometric pen a billion units wide along a star of edges millions
        // of pixels long (a fuzzer's find): the stroke covers the whole
        // picture. Its outline is one Qt's antialiasing rasterizer
        // takes seconds over, so it is drawn without antialiasing.
        const QPolygonF star({QPointF(1, -201890), QPointF(1, 2617739), QPointF(11240, 2565732),
                              QPointF(4285, 2515439), QPointF(-12647, -1031975), QPointF(-12892, -309531),
                              QPointF(7568, 2580346), QPointF(-12186, -1625411)});
        QByteArray polygon = le({0, 0, 0, 0, quint32(star.size())});
        for (const QPointF& p : star) polygon += le({quint32(qint32(p.x())), quint32(qint32(p.y()))});
        img = render(Emf(286, 224).rec(EXTCREATEPEN, {2, 44, 0, 44, 0, 0x10000, 0x40000008, 0, Blue, 0, 0}).rec(SELECTOBJECT, {2})
                         .rec(POLYGON, polygon).bytes());
        QCOMPARE(inkIn(img, img.rect(), qRgb(0, 0, 255)), 286 * 224);
        QPainterPathStroker stroker;
        stroker.setWidth(4 * 286);
        QPainterPath outline, ordinary;
        outline.addPolygon(star), outline.closeSubpath(), ordinary.addEllipse(10, 10, 200, 150);
        QVERIFY(metafile::heavyShape(stroker.createStroke(outline), QSize(286, 224)));
        stroker.setWidth(8);
        QVERIFY(!metafile::heavyShape(stroker.createStroke(ordinary), QSize(286, 224)));
    }

    void hostileWorkIsBounded_data() {
        // Records that each cover much of the largest picture; past a budget
        // of pixels the rest of the picture is left undrawn.
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("fills") << Emf().rect(200, 0, 4096, 4096).records();
        QTest::newRow("raster operations, pixel by pixel")
            << Emf().rec(BITBLT, {0, 0, 0, 0, 200, 0, 800, 1000, 0x005A0049u, 0, 0, f2u(1), 0, 0, f2u(1), 0, 0, 0, 0, 0, 0, 0, 0}).records();
        QTest::newRow("shaded triangles, pixel by pixel")
            << Emf().rec(GRADIENTFILL, gradient(1000, 1000, 2, {{{200, 0}, true}, {{1000, 0}, false}, {{200, 1000}, true}})).records();
    }
    void hostileWorkIsBounded() {
        QFETCH(QByteArray, record);
        // A red box, the record over and over, then a blue box. A few times:
        // everything is drawn. Thousands of times: drawing stops part-way,
        // what came first stays.
        auto picture = [&](int repeats) {
            Emf e(4096, 4096);
            e.redBrush().rect(0, 0, 100, 100).raw() += record.repeated(repeats);
            return render(e.brush(Blue).rect(0, 200, 100, 300).bytes());
        };
        const QImage few = picture(2), many = picture(2000);
        QCOMPARE(sizedPixels(few, {{50, 50}}), QString("4096x4096 r"));
        QCOMPARE(inkIn(few, QRect(0, 200, 100, 100), qRgb(0, 0, 255)), 100 * 100);
        QCOMPARE(pixels(many, {{50, 50}}), QString("r"));
        QCOMPARE(inkIn(many, QRect(0, 200, 100, 100), qRgb(0, 0, 255)), 0);
    }

    void picturesTooLargeInAreaAreScaledDown() {
        // 6000 x 6000 fits the side cap but not the area cap: scaled down
        // to the same shape, what is drawn scaled with it.
        QCOMPARE(sizedPixels(render(Emf(6000, 6000).redBrush().rect(3000, 3000, 6000, 6000).bytes()), {{2100, 2100}, {2000, 2000}}),
                 QString("4096x4096 r."));
        // A wide strip keeps its shape within the area.
        const QImage strip = render(Emf(8000, 4000).bytes());
        QVERIFY(double(strip.width()) * strip.height() <= metafile::MaxPictureArea);
        QVERIFY(std::abs(strip.width() - 2 * strip.height()) <= 1);
    }

    void truncatedFilesDrawWhatTheyHave() {
        const QByteArray full =
            Emf().redBrush().rect(0, 0, 10, 10).rec(EXTTEXTOUTW, textOut(0, 20, QStringLiteral("abc"))).rect(40, 0, 50, 10).bytes();
        for (int n = 88; n < full.size(); n += 2) QVERIFY2(!render(full.left(n)).isNull(), qPrintable(QString::number(n)));
        // Cut in the middle of the last rectangle: the first stays.
        QCOMPARE(pixels(render(full.left(full.size() - 20 - 8)), {{5, 5}, {45, 5}}), QString("r."));
    }

    void emfPlusShapes() {
        // A picture drawn with EMF+ alone: each kind of shape in a spot of its own.
        QByteArray r = plus(0x4008, 0x100 | 0, le({PlusVersion, 0, PlusRed}));                          // brush 0: red
        r += plus(0x4008, 0x200 | 1, le({PlusVersion, 0, 0, 0, f2u(3), PlusVersion, 0, PlusBlue}));   // pen 1
        r += plus(0x4008, 0x300 | 2, le({PlusVersion, 4, 0}) + floats({0, 20, 10, 20, 10, 30, 0, 30}) +
                                          QByteArray::fromHex("00010181"));                           // path 2: a square
        r += plus(0x4008, 0x500 | 3, le({PlusVersion, 1, 2, 2, 8, 0x0026200A, 0, PlusGreen, PlusGreen,
                                          PlusGreen, PlusGreen}));                                     // image 3: green
        r += plus(0x400A, 0, le({0, 1}) + floats({0, 0, 10, 10}));                                      // FillRects
        r += plus(0x400B, 1, le({1}) + floats({14, 2, 10, 10}));                                        // DrawRects
        r += plus(0x400E, 0x8000, le({PlusGreen}) + floats({28, 0, 12, 12}));                           // FillEllipse
        r += plus(0x400F, 1, floats({44, 0, 12, 12}));                                                  // DrawEllipse
        r += plus(0x400C, 0x8000, le({PlusRed, 3}) + floats({60, 0, 72, 0, 60, 12}));                   // FillPolygon
        r += plus(0x400D, 1, le({2}) + floats({76, 2, 92, 2}));                                         // DrawLines
        r += plus(0x4014, 0x8000 | 2, le({PlusGreen}));                                                 // FillPath
        r += plus(0x402D, 0, floats({20, 0}));                                                          // translate
        r += plus(0x4015, 2, le({1}));                                                                  // DrawPath
        r += plus(0x402B, 0, {});                                                                       // reset
        r += plus(0x401A, 3, le({0, 2}) + floats({0, 0, 2, 2, 50, 20, 10, 10}));                        // DrawImage
        r += plus(0x4010, 0x8000, le({PlusBlue}) + floats({0, 90, 64, 20, 20, 20}));                    // FillPie
        const QImage img = render(plusPicture(r + PlusEnd));
        // In order: the filled rectangle; the drawn one's outline and not its
        // inside; the filled ellipse; the drawn ellipse and its inside; the
        // triangle and beyond its long side; the line; the filled path, the
        // same path drawn moved right, and between; the image; the pie's
        // quarter, which runs clockwise down from the right, and beside it.
        QCOMPARE(pixels(img, {{5, 5}, {14, 7}, {19, 7}, {34, 6}, {44, 6}, {50, 6}, {62, 2}, {70, 10}, {84, 2}, {5, 25},
                              {20, 25}, {25, 25}, {55, 25}, {80, 36}, {68, 24}}),
                 QString("rb.gb.r.bgb.gb."));
        QVERIFY(qAlpha(img.pixel(29, 1)) < 128);  // the box's corner, outside the ellipse, at most a faint edge
    }

    void emfPlusPathGradient() {
        // A path-gradient brush: white at its centre point, red at the boundary
        // (given as points, then as a path), filling an ellipse.
        const QByteArray square = floats({10, 10, 90, 10, 90, 90, 10, 90});
        const QByteArray centre = le({0xFFFFFFFFu}) + floats({40, 50}) + le({1, PlusRed});
        const QByteArray asPoints = le({PlusVersion, 3, 0, 0}) + centre + le({4}) + square;
        const QByteArray path = le({PlusVersion, 4, 0}) + square + QByteArray::fromHex("00010181");
        const QByteArray asPath = le({PlusVersion, 3, 1, 0}) + centre + le({quint32(path.size())}) + path;
        for (const QByteArray& brush : {asPoints, asPath}) {
            // FillEllipse with brush 0.
            const QImage img = render(plusPicture(plus(0x4008, 0x100 | 0, brush) + plus(0x400E, 0, le({0}) + floats({10, 10, 80, 80})) + PlusEnd,
                                                  Emf(100, 100)));
            QCOMPARE(img.size(), QSize(100, 100));
            const QRgb focus = img.pixel(40, 50), between = img.pixel(50, 30), edge = img.pixel(50, 12);
            QVERIFY2(qRed(focus) > 240 && qGreen(focus) > 230, qPrintable(QString::number(focus, 16)));
            QVERIFY2(qRed(edge) > 240 && qGreen(edge) < 60, qPrintable(QString::number(edge, 16)));
            QVERIFY2(qRed(between) > 240 && qGreen(between) > 70 && qGreen(between) < 200,
                     qPrintable(QString::number(between, 16)));
            QVERIFY(qGreen(img.pixel(60, 50)) < qGreen(img.pixel(40, 50)));  // the focus is left of the middle
            QCOMPARE(qAlpha(img.pixel(12, 12)), 0);  // the box's corner, outside the ellipse
        }
    }

    void emfPlusMetafileImages() {
        // An EMF+ image that is itself a metafile: drawn whole into the place
        // its source rectangle is put; a metafile image inside that one is not
        // drawn; and all of them spend from the one picture's budget.
        // Its source rectangle is the picture's size in its own pixels, placed at (10, 10), 60 x 30.
        const auto drawnWhole = [&](const QByteArray& emf, int width, int height, float scale = 1) {
            return PlusHeader + plus(0x4008, 0x500 | 0, le({PlusVersion, 2, 3, quint32(emf.size())}) + emf) +
                   plus(0x401A, 0, le({0, 2}) + floats({0, 0, float(width), float(height), 10 * scale, 10 * scale, 60 * scale, 30 * scale})) +
                   PlusEnd;
        };
        const QByteArray leftHalfRed = Emf(20, 10).redBrush().rect(0, 0, 10, 10).bytes();
        const QImage img = render(Emf().rec(GDICOMMENT, plusComment(drawnWhole(leftHalfRed, 20, 10))).bytes());
        // The third point is in the inner picture's empty right half.
        QCOMPARE(pixels(img, {{20, 20}, {38, 38}, {45, 20}, {5, 5}}), QString("rr.."));

        // On its own, the middle picture draws its image; inside another, not.
        const QByteArray middle = Emf(20, 10).rec(GDICOMMENT, plusComment(drawnWhole(leftHalfRed, 20, 10, 0.1f))).bytes();
        QCOMPARE(pixels(render(middle), {{2, 3}}), QString("r"));
        const QImage nested = render(Emf().rec(GDICOMMENT, plusComment(drawnWhole(middle, 20, 10))).bytes());
        QCOMPARE(inkIn(nested, nested.rect(), 0xFF0000), 0);

        // An image that fills its picture thousands of times uses up the
        // budget of the picture it is drawn in: what follows is not drawn.
        const auto thenBlueBox = [&](const QByteArray& emf) {
            QByteArray handOver = drawnWhole(emf, 4096, 4096);
            handOver.chop(12);  // no EMF+ end of file: a GetDC hands over to the plain records
            const QImage img = render(Emf().rec(GDICOMMENT, plusComment(handOver + plus(0x4004, 0, {}))).brush(Blue).rect(70, 0, 90, 20).bytes());
            return sizedPixels(img, {}) + QString::number(inkIn(img, QRect(70, 0, 20, 20), qRgb(0, 0, 255)));
        };
        Emf hostile(4096, 4096);
        hostile.redBrush().raw() += Emf().rect(0, 0, 4096, 4096).records().repeated(2000);
        QCOMPARE(thenBlueBox(hostile.bytes()), QString("96x48 0"));
        // GDI leaves a null pen's edge: 19 x 19 of the box.
        QCOMPARE(thenBlueBox(Emf(4096, 4096).redBrush().rect(0, 0, 4096, 4096).bytes()), QString("96x48 %1").arg(19 * 19));
    }

    void emfPlusTextures_data() {
        // A 2 x 1 image, red then blue, tiled by a texture brush (plainly or
        // mirrored every other tile, or once when clamped), by a texture pen's wide line, and by
        // DrawImage whose image attributes tile a source wider than the image.
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<QString>("row");  // pixels 0..7 of the top row
        const QByteArray image = le({PlusVersion, 1, 2, 1, 8, 0x0026200A, 0, PlusRed, PlusBlue});
        const auto texture = [&](quint32 wrap) { return le({PlusVersion, 2, 0, wrap}) + image; };
        const QByteArray fillRects = plus(0x400A, 0, le({0, 1}) + floats({0, 0, 8, 4}));
        QTest::newRow("tile") << plus(0x4008, 0x100, texture(0)) + fillRects << QStringLiteral("rbrbrbrb");
        QTest::newRow("flip x") << plus(0x4008, 0x100, texture(1)) + fillRects << QStringLiteral("rbbrrbbr");
        QTest::newRow("flip xy") << plus(0x4008, 0x100, texture(3)) + fillRects << QStringLiteral("rbbrrbbr");
        QTest::newRow("clamp") << plus(0x4008, 0x100, texture(4)) + fillRects << QStringLiteral("rb......");
        QTest::newRow("pen") << plus(0x4008, 0x200 | 1, le({PlusVersion, 0, 0, 0}) + floats({4}) + texture(0)) +
                                    plus(0x400D, 1, le({2}) + floats({0, 1, 8, 1}))
                             << QStringLiteral("rbrbrbrb");
        const QByteArray drawImage = plus(0x4008, 0x500 | 2, image) + plus(0x401A, 2, le({3, 2}) + floats({0, 0, 8, 1, 0, 0, 8, 4}));
        QTest::newRow("tiled image") << plus(0x4008, 0x800 | 3, le({PlusVersion, 0, 0, 0, 0, 0})) + drawImage
                                     << QStringLiteral("rbrbrbrb");
        QTest::newRow("flipped tiles") << plus(0x4008, 0x800 | 3, le({PlusVersion, 0, 1, 0, 0, 0})) + drawImage
                                       << QStringLiteral("rbbrrbbr");
    }
    void emfPlusTextures() {
        QFETCH(QByteArray, records);
        QTEST(pixels(render(plusPicture(records + PlusEnd)), {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}}), "row");
    }

    void emfPlusNeverDrawsTwice() {
        // Plain drawing of its own outside a hand-over: the plain copy is
        // drawn, the EMF+ one is not. EMF+ alone, handing over to plain
        // records with GetDC; a clip rectangle narrows the next fill.
        const QByteArray fill = PlusHeader + plus(0x400A, 0x8000, le({PlusGreen, 1}) + floats({0, 0, 10, 10}));
        QCOMPARE(pixels(render(Emf().rec(GDICOMMENT, plusComment(fill)).redBrush().rect(20, 0, 30, 10).bytes()), {{5, 5}, {25, 5}}), QString(".r"));
        const QImage only = render(Emf().rec(GDICOMMENT, plusComment(fill + plus(0x4004, 0, {}))).redBrush().rect(20, 0, 30, 10)
                                       .rec(GDICOMMENT, plusComment(plus(0x4032, 0x100, floats({40, 0, 5, 48})) +
                                                                    plus(0x400A, 0x8000, le({PlusBlue, 1}) + floats({40, 0, 20, 20}))))
                                       .bytes());
        QCOMPARE(pixels(only, {{5, 5}, {25, 5}, {42, 5}, {50, 5}}), QString("grb."));
    }

    void emfPlusStringLayout_data() {
        // "I" or "I I I" at 30 world units in a box from x = 10, 20 wide: GDI+
        // leaves a sixth of an em (5) before the text unless the format says
        // otherwise, wraps within the box unless told not to, and clips to it
        // unless told not to. Checked: the ink's bounds, to two pixels.
        QTest::addColumn<QByteArray>("format");  // none: the record names no format
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("inkAt");
        QTest::newRow("default margins") << QByteArray() << QStringLiteral("I") << QRect(18, 7, 3, 20);
        QTest::newRow("no margins") << typographic(0) << QStringLiteral("I") << QRect(13, 7, 3, 20);
        QTest::newRow("wrapped, clipped") << typographic(0) << QStringLiteral("I I I") << QRect(13, 7, 3, 41);
        QTest::newRow("one line, unclipped") << typographic(0x5000) << QStringLiteral("I I I") << QRect(13, 7, 36, 20);
    }
    void emfPlusStringLayout() {
        QFETCH(QByteArray, format);
        QFETCH(QString, text);
        QFETCH(QRect, inkAt);
        QByteArray r = plusArial() + (format.isEmpty() ? QByteArray() : plus(0x4008, 0x700 | 1, format));
        r += plus(0x401C, 0x8000 | 0, le({0xFF000000u, format.isEmpty() ? 63u : 1u, quint32(text.size())}) + floats({10, 0, 20, 48}) + utf16(text));
        const QImage img = render(plusPicture(r + PlusEnd));
        QRect ink;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (qAlpha(img.pixel(x, y)) > 128) ink |= QRect(x, y, 1, 1);
        const auto near = [](int a, int b) { return std::abs(a - b) <= 2; };
        QVERIFY2(near(ink.left(), inkAt.left()) && near(ink.right(), inkAt.right()) && near(ink.top(), inkAt.top()) &&
                     near(ink.bottom(), inkAt.bottom()),
                 qPrintable(QStringLiteral("ink at %1,%2 %3 x %4").arg(ink.x()).arg(ink.y()).arg(ink.width()).arg(ink.height())));
    }

    void emfPlusInvisibleTextCostsNothing() {
        // A page's worth of text in a colour of no opacity over and over (far
        // past the work budget if it were drawn), then a green square: the
        // square is drawn, and no text.
        const QByteArray text = le({0x00FF0000u, 0, 1000}) + floats({0, 0, 96, 48}) + utf16(QString("Wx ").repeated(334).left(1000));
        const QByteArray square = plus(0x400A, 0x8000, le({PlusGreen, 1}) + floats({40, 10, 20, 20}));
        const QImage img = render(plusPicture(plusArial(100) + plus(0x401C, 0x8000, text).repeated(60) + square));
        QCOMPARE(inkIn(img, img.rect(), qRgb(0, 255, 0)), 400);
        QCOMPARE(inkIn(img, img.rect(), qRgb(255, 0, 0)), 0);
    }

    void shapedTextLandsWhereDrawTextDoes_data() {
        QTest::addColumn<QString>("face");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<QTransform>("transform");
        QTest::addColumn<double>("originX");
        const QString sans = metafile::substituteFace(QStringLiteral("Arial"));
        const QString gothic = metafile::substituteFace(QStringLiteral("ＭＳ ゴシック"));
        QTest::newRow("plain, whole pixels") << sans << 14 << QTransform() << 4.0;
        QTest::newRow("origin between 64ths") << sans << 14 << QTransform::fromTranslate(0.3, 0.7) << 3.0071;
        QTest::newRow("negative origin") << sans << 14 << QTransform::fromTranslate(40.2, 0) << -36.4937;
        QTest::newRow("scaled") << sans << 11 << QTransform::fromScale(1.37, 1.21) << 2.0113;
        QTest::newRow("rotated") << sans << 14 << QTransform().translate(30, 4).rotate(17) << 1.2345;
        QTest::newRow("flipped upright") << sans << 14 << QTransform(1.1, 0, 0, 1.3, 0.2, 0) << 2.771;
        QTest::newRow("large, drawn as outlines") << sans << 90 << QTransform::fromScale(0.5, 0.5) << 1.337;
        QTest::newRow("Japanese face") << gothic << 16 << QTransform::fromTranslate(0.41, 0) << 2.0091;
    }

    void shapedTextLandsWhereDrawTextDoes() {
        // Characters given their own advances are drawn from kept shapes; each
        // must cover the same pixels as QPainter::drawText puts it on, down to
        // the antialiasing, or pictures near the agreement line change.
        QFETCH(QString, face);
        QFETCH(int, pixelSize);
        QFETCH(QTransform, transform);
        QFETCH(double, originX);
        QFont font(face);
        font.setPixelSize(pixelSize);
        // Repeats, a character from a fallback face, a surrogate pair, a
        // right-to-left letter, a mirrored bracket, a lone combining mark and
        // control characters.
        const QStringList chunks = {QStringLiteral("W"), QStringLiteral("a"), QStringLiteral("W"), QStringLiteral("字"),
                                    QStringLiteral("g"), QStringLiteral("a"), QString::fromUcs4(U"\U0001D49C"),
                                    QStringLiteral("g"), QStringLiteral("א"), QStringLiteral("("),
                                    QString(QChar(0x0301)), QStringLiteral("\t"), QStringLiteral("\n"),
                                    QString(QChar(0x2028)), QStringLiteral("Wa")};
        const auto drawAll = [&](const std::function<void(QPainter&, QPointF, const QString&)>& draw) {
            return paintText(QSize(500, 120), transform, font, [&](QPainter& p) {
                for (int i = 0; i < chunks.size(); ++i)
                    draw(p, QPointF(originX + i * pixelSize * 0.6137, pixelSize * 0.9 + 0.3711), chunks[i]);
            });
        };
        const QImage expected = drawAll([](QPainter& p, QPointF o, const QString& c) { p.drawText(o, c); });
        metafile::ShapedText shaped;
        const QImage actual = drawAll([&](QPainter& p, QPointF o, const QString& c) { shaped.draw(p, o, c); });
        QVERIFY(inkIn(expected, expected.rect(), 0xFFFFFF) < expected.width() * expected.height() - 200);
        QCOMPARE(actual, expected);

        // Far beyond any picture: nothing drawn, and no overflow on the way.
        QImage far(16, 16, QImage::Format_ARGB32_Premultiplied);
        far.fill(Qt::transparent);
        QPainter p(&far);
        for (double x : {1e12, -1e12, 4e7}) shaped.draw(p, QPointF(x, 10), QStringLiteral("W"));
        p.end();
        QCOMPARE(inkIn(far, far.rect(), 0), 0);
    }

    void hugeTextFillsItsOutlines() {
        // Qt judges glyphs small by area, so a mapping that squashes one way
        // and stretches the other would have it keep glyph images tens of
        // thousands of pixels long. Such text is judged by its extent.
        QVERIFY(metafile::glyphsHugeOnDevice(QTransform::fromScale(1e4, 1e-4), 10));
        QVERIFY(metafile::glyphsHugeOnDevice(QTransform().rotate(45), 400));
        QVERIFY(metafile::glyphsHugeOnDevice(QTransform(), 20, 4000));
        QVERIFY(!metafile::glyphsHugeOnDevice(QTransform::fromTranslate(1e6, 1e6), 300, 100));
        QVERIFY(!metafile::glyphsHugeOnDevice(QTransform::fromScale(2, 2), 14));

        // Filled as outlines, huge text covers what drawText covers: a
        // character at a time, whole and underlined, and laid out in a box.
        // Counted: pixels more than a little off, against the ink drawText puts down.
        QFont font(metafile::substituteFace(QStringLiteral("Arial")));
        font.setPixelSize(40);
        const auto paint = [&](const QFont& f, const std::function<void(QPainter&)>& draw) {
            return paintText(QSize(300, 200), QTransform::fromScale(14, 9) * QTransform().rotate(3), f, draw);
        };
        const auto mismatch = [](const QImage& expected, const QImage& actual) {
            int differing = 0;
            for (int y = 0; y < expected.height(); ++y)
                for (int x = 0; x < expected.width(); ++x) {
                    const QRgb p = expected.pixel(x, y), q = actual.pixel(x, y);
                    differing += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) > 60;
                }
            const int ink = 300 * 200 - inkIn(expected, expected.rect(), 0xFFFFFF);
            return ink > 2000 && differing < ink / 8 ? QString() : QStringLiteral("%1 of %2 differ").arg(differing).arg(ink);
        };
        QFont underlined = font;
        underlined.setUnderline(true);
        const QPointF origin(-3.7, 12.2);
        for (const QFont& f : {font, underlined}) {
            const QImage expected = paint(f, [&](QPainter& p) { p.drawText(origin, QStringLiteral("Wg")); });
            metafile::ShapedText shaped;
            QCOMPARE(mismatch(expected, paint(f, [&](QPainter& p) { shaped.draw(p, origin, QStringLiteral("Wg")); })), QString());
            QCOMPARE(mismatch(expected, paint(f, [&](QPainter& p) { metafile::ShapedText::drawWhole(p, origin, QStringLiteral("Wg")); })),
                     QString());
        }
        for (int flags : {int(Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap),
                          int(Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap), int(Qt::AlignRight | Qt::AlignBottom)}) {
            const QRectF box(-8, -4, 40, 30);
            const QImage expected = paint(font, [&](QPainter& p) { p.drawText(box, flags, QStringLiteral("Ij k\nl")); });
            QCOMPARE(mismatch(expected, paint(font, [&](QPainter& p) { metafile::fillOutlinesInBox(p, box, flags, QStringLiteral("Ij k\nl")); })),
                     QString());
        }
    }

    void randomDamageNeverCrashes() {
        const QByteArray base = Emf(64, 64).redBrush().rect(0, 0, 10, 10).rec(EXTCREATEFONTINDIRECTW, font(-20, QStringLiteral("Arial")))
                                    .rec(SELECTOBJECT, {1}).rec(EXTTEXTOUTW, textOut(0, 20, QStringLiteral("Hi")))
                                    .rec(STRETCHDIBITS, stretchDib(20, 20, 30, 30))
                                    .rec(BEGINPATH, {}).rec(ELLIPSE, {0, 0, 40, 40}).rec(ENDPATH, {}).rec(SELECTCLIPPATH, {1})
                                    .clipRegion(2, {QRect(0, 0, 5, 5)}).bytes();
        QRandomGenerator rng(20240607);
        for (int i = 0; i < 400; ++i) {
            QByteArray d = base;
            const int flips = 1 + int(rng.bounded(6));
            for (int k = 0; k < flips; ++k) {
                const int at = 88 + int(rng.bounded(d.size() - 88));
                d[at] = char(rng.bounded(256));
            }
            QString error;
            const QImage img = metafile::render(d, &error);
            if (!img.isNull()) QVERIFY(img.width() <= 8192 && img.height() <= 8192);
        }
    }
};

QTEST_MAIN(TestMetafileEmf)
#include "test_metafile_emf.moc"
