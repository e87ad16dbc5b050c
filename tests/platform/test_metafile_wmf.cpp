// The WMF player on metafiles written record by record here, checked pixel
// by pixel, plus the bad input it has to survive.
#include "platform/Picture.h"
#include "platform/metafile/Dib.h"
#include "platform/metafile/Fonts.h"
#include "platform/metafile/Metafile.h"

#include "Pixels.h"

#include <QElapsedTimer>
#include <QtEndian>
#include <QtTest>

#include <initializer_list>

namespace {

// Builds a WMF one record at a time.
class Wmf {
public:
    Wmf& rec(quint16 fn, const QList<qint16>& words, const QByteArray& raw = {}) {
        QByteArray body;
        for (qint16 w : words) put16(body, quint16(w));
        body += raw;
        if (body.size() % 2) body += '\0';
        put32(records_, quint32(3 + body.size() / 2));
        put16(records_, fn);
        records_ += body;
        return *this;
    }
    // A record with a hand-made size field.
    Wmf& rawRecord(quint32 words, quint16 fn, const QByteArray& body) {
        put32(records_, words);
        put16(records_, fn);
        records_ += body;
        return *this;
    }
    Wmf& window(int x, int y, int w, int h) { return rec(0x020B, {qint16(y), qint16(x)}).rec(0x020C, {qint16(h), qint16(w)}); }
    Wmf& solidBrush(quint32 colorRef) { return rec(0x02FC, {0, qint16(colorRef & 0xFFFF), qint16(colorRef >> 16), 0}); }
    Wmf& nullPen() { return rec(0x02FA, {5, 0, 0, 0, 0}); }
    Wmf& select(int index) { return rec(0x012D, {qint16(index)}); }
    Wmf& rectangle(int l, int t, int r, int b) { return rec(0x041B, {qint16(b), qint16(r), qint16(t), qint16(l)}); }
    // LOGFONT: height, width, escapement, orientation, weight; italic, underline, strike-out, charset; the rest 0.
    Wmf& font(int height, const char* face, quint8 charset = 0) {
        return rec(0x02FB, {qint16(height), 0, 0, 0, 400}, QByteArray(3, '\0') + char(charset) + QByteArray(4, '\0') + face + '\0');
    }
    Wmf& textOut(int x, int y, const QByteArray& text) {
        QByteArray raw = text;
        if (raw.size() % 2) raw += '\0';
        put16(raw, quint16(y));
        put16(raw, quint16(x));
        return rec(0x0521, {qint16(text.size())}, raw);
    }
    // A red brush and no pen, as objects 0 and 1; a box drawn with them.
    Wmf& red() { return solidBrush(0x0000FF).select(0).nullPen().select(1); }
    Wmf& redBox(int l, int t, int r, int b) { return red().rectangle(l, t, r, b); }

    Wmf& append(const QByteArray& records) {
        records_ += records;
        return *this;
    }
    QByteArray records() const { return records_; }
    QByteArray standard() const { return header() + records_ + eof(); }
    QByteArray placeable(qint16 l = 0, qint16 t = 0, qint16 r = 100, qint16 b = 100, quint16 inch = 96) const {
        QByteArray out;
        put32(out, 0x9AC6CDD7u);
        put16(out, 0);
        for (qint16 v : {l, t, r, b}) put16(out, quint16(v));
        put16(out, inch);
        put32(out, 0);
        quint16 sum = 0;
        for (int i = 0; i < 20; i += 2) sum ^= qFromLittleEndian<quint16>(out.constData() + i);
        put16(out, sum);
        return out + standard();
    }

private:
    static void put16(QByteArray& b, quint16 v) { b += char(v & 0xFF), b += char(v >> 8); }
    static void put32(QByteArray& b, quint32 v) { put16(b, quint16(v & 0xFFFF)), put16(b, quint16(v >> 16)); }
    // Type, header words, version, size in words, object count, largest record, no parameters.
    QByteArray header() const {
        QByteArray h;
        for (quint16 v : {1, 9, 0x0300}) put16(h, v);
        put32(h, quint32((18 + records_.size() + 6) / 2)), put16(h, 16), put32(h, 0), put16(h, 0);
        return h;
    }
    static QByteArray eof() { return QByteArray::fromHex("030000000000"); }
    QByteArray records_;
};

// A bottom-up 24-bit BITMAPINFOHEADER DIB, rows given top row first.
QByteArray dib24(int w, int h, const QList<QRgb>& topDown, int lieWidth = 0) {
    QByteArray d;
    auto put = [&](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i) d += char((v >> (8 * i)) & 0xFF);
    };
    put(40, 4), put(quint32(lieWidth ? lieWidth : w), 4), put(quint32(h), 4), put(1, 2), put(24, 2);
    put(0, 4), put(0, 4), put(0, 4), put(0, 4), put(0, 4), put(0, 4);
    const int stride = (w * 3 + 3) & ~3;
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row;
        for (int x = 0; x < w; ++x) {
            const QRgb c = topDown[y * w + x];
            row += char(qBlue(c)), row += char(qGreen(c)), row += char(qRed(c));
        }
        row.resize(stride, '\0');
        d += row;
    }
    return d;
}

}  // namespace

class WmfTest : public QObject {
    Q_OBJECT
private slots:
    void drawsRectangleWhereItBelongs();
    void naturalSize_data();
    void naturalSize();
    void mappingFlipsWithNegativeExtent();
    void textIsDrawnAtItsAlignment();
    void clippingAndSaveRestore();
    void clipRegionsAndOffsets();
    void bitmapsThroughStretchDib();
    void rasterOperations_data();
    void rasterOperations();
    void faceAndTextMapping();
    void badInputIsRefusedOrPartial();
    void lyingBitmapsAreRefused();
};

void WmfTest::drawsRectangleWhereItBelongs() {
    // 1000 logical units onto 100 pixels.
    const QByteArray data = Wmf().window(0, 0, 1000, 1000).redBox(200, 300, 600, 700).placeable(0, 0, 1000, 1000, 960);
    QCOMPARE(metafile::detect(data), metafile::Kind::PlaceableWmf);
    QString error;
    const QImage img = metafile::render(data, &error);
    QVERIFY2(!img.isNull(), qPrintable(error));
    QCOMPARE(sizedPixels(img, {{20, 30}, {59, 69}, {40, 50}, {19, 50}, {40, 29}, {61, 50}, {40, 71}, {0, 0}}), QString("100x100 rrr....."));

    // Zoomed: the same drawing, three times larger; the zoom has limits.
    QCOMPARE(sizedPixels(metafile::render(data, &error, 3), {{61, 91}, {178, 208}, {57, 150}, {183, 150}}), QString("300x300 rr.."));
    QVERIFY(metafile::render(data, &error, 0).isNull());
    QVERIFY(metafile::render(data, &error, metafile::MaxZoom * 2).isNull());
    QCOMPARE(error, QStringLiteral("zoom out of range"));
    // A zoom past the picture size cap is capped like any huge picture.
    const QByteArray strip = Wmf().window(0, 0, 1000, 10).redBox(0, 0, 10, 10).placeable(0, 0, 1000, 10, 96);
    QCOMPARE(metafile::render(strip, &error, 10).size(), QSize(MaxPictureSide, 82));
}

void WmfTest::naturalSize_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QSize>("size");
    const Wmf box = Wmf().redBox(10, 10, 50, 30);
    QTest::newRow("placeable, inch 1440") << box.placeable(0, 0, 1440, 720, 1440) << QSize(96, 48);
    QTest::newRow("placeable, reversed box") << box.placeable(1440, 720, 0, 0, 1440) << QSize(96, 48);
    QTest::newRow("placeable, 576 a inch") << box.placeable(-100, -50, 500, 250, 576) << QSize(100, 50);
    QTest::newRow("standard, window extent in twips")
        << Wmf().window(0, 0, 2880, 1440).redBox(10, 10, 50, 30).standard() << QSize(192, 96);
    QTest::newRow("standard, no extent: the drawing's bounds") << box.standard() << QSize(40, 20);
    QTest::newRow("placeable, huge: capped keeping the shape")
        << box.placeable(-32768, -16384, 32767, 16383, 1) << QSize(5793, 2897);  // 4096 x 4096 in area, 2:1
    QTest::newRow("placeable, within the side cap, past the area cap") << box.placeable(0, 0, 6000, 6000, 96)
                                                                        << QSize(4096, 4096);
    QTest::newRow("standard, negative extent") << Wmf().window(0, 0, -1440, -2880).redBox(-50, -50, -10, -10).standard()
                                               << QSize(96, 192);
}

void WmfTest::naturalSize() {
    QFETCH(QByteArray, data);
    QTEST(metafile::render(data).size(), "size");
}

void WmfTest::mappingFlipsWithNegativeExtent() {
    // y grows upwards: logical (0,0)-(50,50) is the bottom-left quarter.
    const QImage img = metafile::render(Wmf().window(0, 100, 100, -100).redBox(0, 0, 50, 50).placeable());
    QCOMPARE(sizedPixels(img, {{25, 75}, {25, 25}, {75, 75}}), QString("100x100 r.."));
}

void WmfTest::textIsDrawnAtItsAlignment() {
    auto render = [](quint16 align) {
        // Transparent background (0x0102), then the alignment (0x012E).
        return metafile::render(Wmf().window(0, 0, 200, 100).font(-40, "Arial").select(0).rec(0x0102, {1})
                                    .rec(0x012E, {qint16(align)}).textOut(20, 50, "HH").placeable(0, 0, 200, 100, 96));
    };
    // TA_TOP: the letters hang below y = 50. TA_BASELINE: they stand on it.
    // TA_RIGHT | TA_BASELINE: they end at x = 20, mostly off the picture.
    // More than `moreThan` pixels of ink in the first area, none in the second.
    struct Row { quint16 align; QRect inked; int moreThan; QRect blank; };
    for (const Row& r : {Row{0, {20, 52, 60, 30}, 100, {0, 0, 200, 49}}, Row{24, {20, 20, 60, 29}, 100, {0, 52, 200, 48}},
                         Row{24 | 2, {0, 20, 21, 30}, 20, {22, 0, 178, 100}}}) {
        const QImage img = render(r.align);
        const int in = inkIn(img, r.inked), out = inkIn(img, r.blank);
        QVERIFY2(in > r.moreThan && out == 0, qPrintable(QString("align %1: %2 in, %3 out").arg(r.align).arg(in).arg(out)));
    }
}

void WmfTest::clippingAndSaveRestore() {
    // SaveDC, IntersectClipRect 0,0-50,100, ExcludeClipRect 20,40-40,60, a box, RestoreDC (clip gone), a box.
    const QImage img = metafile::render(Wmf().window(0, 0, 100, 100).red().rec(0x001E, {}).rec(0x0416, {100, 50, 0, 0})
                                            .rec(0x0415, {60, 40, 40, 20}).rectangle(0, 0, 100, 50).rec(0x0127, {-1})
                                            .rectangle(0, 80, 100, 100).placeable());
    // Inside the clip, outside it, in the excluded hole, beside the hole, and
    // drawn after the restore, unclipped.
    QCOMPARE(pixels(img, {{10, 10}, {49, 10}, {50, 10}, {90, 10}, {30, 45}, {30, 38}, {90, 90}}), QString("rr...rr"));
}

void WmfTest::clipRegionsAndOffsets() {
    // A region object (one scan: x 0..30 over the full height) as the clip,
    // moved 40 to the right, then removed by selecting a handle that is no region.
    // CreateRegion, SelectClipRegion, OffsetClipRgn by (40, 0), a box, SelectClipRegion of no region, a box.
    const QImage img = metafile::render(Wmf().window(0, 0, 100, 100).red().rec(0x06FF, {0, 6, 0, 0, 34, 0, 1, 0, 0, 30, 100, 2, 0, 100, 0, 30, 2})
                                            .rec(0x012C, {2}).rec(0x0220, {0, 40}).rectangle(0, 0, 100, 50).rec(0x012C, {-1})
                                            .rectangle(0, 80, 100, 100).placeable());
    QCOMPARE(pixels(img, {{20, 20}, {45, 20}, {69, 20}, {75, 20}, {10, 90}}), QString(".rr.r"));
}

void WmfTest::bitmapsThroughStretchDib() {
    const QRgb R = qRgb(255, 0, 0), G = qRgb(0, 255, 0), B = qRgb(0, 0, 255), W = qRgb(255, 255, 255);
    const QByteArray dib = dib24(2, 2, {R, G, B, W});
    const QImage decoded = metafile::decodePackedDib(reinterpret_cast<const uchar*>(dib.constData()), dib.size());
    QCOMPARE(pixels(decoded, {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 0}, {0, 2}}), QString("rgbw!!"));

    // StretchDIB: rop, usage, src h/w/y/x, dest h/w/y/x; 2 x 2 onto 40 x 40 at (10,10).
    const QImage img = metafile::render(
        Wmf().window(0, 0, 100, 100).rec(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 40, 40, 10, 10}, dib).placeable());
    QCOMPARE(pixels(img, {{15, 15}, {45, 15}, {15, 45}, {5, 5}, {55, 55}}), QString("rgb.."));
}

// A Bitmap16 of `w` x `h` pixels of one colour, 24 bits a pixel, as the
// bitmap records without a DIB carry it.
QByteArray bitmap16(int w, int h, QRgb c) {
    QByteArray b;
    for (int v : {0, w, h, w * 3}) b += char(v & 0xFF), b += char((v >> 8) & 0xFF);
    b += char(1), b += char(24);
    for (int i = 0; i < w * h; ++i) b += char(qBlue(c)), b += char(qGreen(c)), b += char(qRed(c));
    return b;
}

void WmfTest::rasterOperations_data() {
    // Over a red box (left half) and the bare page (right half), with a blue
    // brush selected: each family of operations through a different record.
    // Expected: the pixel over red, then over the page (. transparent, white over the page).
    QTest::addColumn<QByteArray>("blit");
    QTest::addColumn<QString>("expected");
    // The record: the operation's low and high words, the rest, and the bitmap.
    const auto blit = [](const char* name, quint16 fn, quint32 rop, const QList<qint16>& rest, const QByteArray& bits, const char* expected) {
        const QList<qint16> words = QList<qint16>{qint16(rop & 0xFFFF), qint16(rop >> 16)} + rest;
        QTest::newRow(name) << Wmf().rec(fn, words, bits).records() << "40x20 " + QString(expected);
    };
    const QRgb G = qRgb(0, 255, 0);
    const QByteArray green2 = dib24(2, 2, QList<QRgb>(4, G)), green40 = dib24(40, 20, QList<QRgb>(800, G));
    // DibStretchBlt: source 2 x 2 onto 40 x 20; StretchDIB the same with a colour-usage word.
    blit("SRCAND, DibStretchBlt", 0x0B41, 0x8800C6, {2, 2, 0, 0, 20, 40, 0, 0}, green2, "kg");
    blit("SRCPAINT, StretchDIB", 0x0F43, 0xEE0086, {0, 2, 2, 0, 0, 20, 40, 0, 0}, green2, "y.");
    // DibBitBlt: the source has the destination's size.
    blit("SRCINVERT, DibBitBlt", 0x0940, 0x660046, {0, 0, 20, 40, 0, 0}, green40, "ym");
    // BitBlt and StretchBlt with a Bitmap16.
    blit("NOTSRCCOPY, BitBlt", 0x0922, 0x330008, {0, 0, 20, 40, 0, 0}, bitmap16(40, 20, G), "mm");
    blit("MERGECOPY, StretchBlt", 0x0B23, 0xC000CA, {2, 2, 0, 0, 20, 40, 0, 0}, bitmap16(2, 2, G), "kk");
    // No bitmap: the brush and the destination alone.
    blit("DSTINVERT, BitBlt without a bitmap", 0x0922, 0x550009, {0, 0, 0, 20, 40, 0, 0}, {}, "ck");
    blit("PATCOPY, PatBlt", 0x061D, 0xF00021, {20, 40, 0, 0}, {}, "bb");
    blit("PATINVERT, PatBlt", 0x061D, 0x5A0049, {20, 40, 0, 0}, {}, "my");
    // A source-less BitBlt whose operation reads a source draws nothing.
    blit("SRCCOPY without a bitmap", 0x0922, 0xCC0020, {0, 0, 0, 20, 40, 0, 0}, {}, "r.");
}

void WmfTest::rasterOperations() {
    QFETCH(QByteArray, blit);
    const QImage img = metafile::render(
        Wmf().window(0, 0, 40, 20).redBox(0, 0, 20, 20).solidBrush(0xFF0000).select(2).append(blit).placeable(0, 0, 40, 20, 96));
    QTEST(sizedPixels(img, {{10, 10}, {30, 10}}), "expected");
}

void WmfTest::faceAndTextMapping() {
    // The URW Times clone: Liberation Serif's italic is not a Times italic.
    for (const auto& [face, clone] : {std::pair<QString, QString>{"Times New Roman", "Nimbus Roman"}, {"Symbol", "OpenSymbol"},
                                      {"Arial", "Liberation Sans"}, {"Courier New", "Liberation Mono"}, {"ＭＳ Ｐゴシック", "IPAPGothic"},
                                      {"ＭＳ ゴシック", "IPAGothic"}, {"ＭＳ 明朝", "IPAMincho"}, {"@ＭＳ Ｐ明朝", "IPAPMincho"}})
        QCOMPARE(metafile::substituteFace(face), clone);
    // Symbol's letters are Greek, its high half mathematics; Wingdings bullets, check marks and arrows;
    // Windows code pages by charset.
    struct Row { const char* bytes; int charset; const char* face; QString text; };
    for (const Row& r : {Row{"apS", 2, "Symbol", "απΣ"}, {"\xB9\xA3\xE5\xF2", 2, "Symbol", "≠≤∑∫"}, {"l", 2, "MT Extra", "ℓ"},
                         {"ln\xFC\xF0\x81", 2, "Wingdings", "●■✓⇨①"}, {"\x80\x93x\x94", 0, "Arial", "€“x”"},
                         {"\x82\xA0\x8A\xBF", 128, "MS Gothic", "あ漢"}, {"\xC1", 204, "Arial", "Б"}})
        QCOMPARE(metafile::decodeText(r.bytes, r.charset, r.face), r.text);
    // Private-use codes as Unicode fonts carry them; a code with no match stays.
    QCOMPARE(metafile::mapSymbolText(QString(QChar(0xF061)) + QChar(0xF0B4), "Symbol"), QStringLiteral("α×"));
    QCOMPARE(metafile::mapSymbolText(QString(QChar(0xF06C)) + QChar(0xF0FE) + u'B', "WingDings"), QStringLiteral("●☑B"));
}

void WmfTest::badInputIsRefusedOrPartial() {
    const Wmf good = Wmf().window(0, 0, 100, 100).redBox(0, 0, 50, 50);

    // Not a metafile at all.
    QString error;
    QVERIFY(metafile::render(QByteArray("GIF89a not a metafile at all"), &error).isNull() && !error.isEmpty());
    // A header and nothing else, or a cut header.
    QVERIFY(metafile::render(good.placeable().left(30)).isNull());

    // Cut in the middle of a later record: what came before is drawn.
    QImage img = metafile::render(Wmf(good).rectangle(50, 50, 100, 100).placeable().chopped(10));
    QCOMPARE(pixels(img, {{25, 25}, {75, 75}}), QString("r."));

    // A record whose size runs past the end, and one whose size is zero:
    // the picture ends there, nothing after it is played.
    for (quint32 words : {quint32(0x7FFFFFFF), quint32(0), quint32(2)}) {
        const QByteArray lying = Wmf(good).rawRecord(words, 0x041B, QByteArray::fromHex("64006400320032000000"))
                                     .rectangle(50, 50, 100, 100).placeable();
        QCOMPARE(pixels(metafile::render(lying), {{25, 25}, {75, 75}}), QString("r."));
    }

    // Records too short for their parameters, objects that do not exist,
    // poly-polygons whose counts overrun the record.
    img = metafile::render(Wmf(good).rec(0x041B, {5}).rec(0x0324, {30000, 1, 2}).rec(0x0538, {3, 1000, 1000, 1000, 1, 2})
                               .rec(0x012D, {-1}).rec(0x0A32, {1, 1, 500, 6}).rec(0x0521, {-5}).placeable());
    QCOMPARE(pixels(img, {{25, 25}}), QString("r"));

    // What is seen of a picture that has to be drawn within five seconds.
    const auto timed = [](const QByteArray& data, const QList<QPoint>& at) {
        QElapsedTimer clock;
        clock.start();
        const QString seen = sizedPixels(metafile::render(data), at);
        return clock.elapsed() < 5000 ? seen : seen + QStringLiteral(" after %1 ms").arg(clock.elapsed());
    };
    // Deep SaveDC stacks stay bounded and RestoreDC past the bottom is harmless.
    Wmf deep = Wmf(good);
    for (int i = 0; i < 20000; ++i) deep.rec(0x001E, {});
    QCOMPARE(timed(deep.rec(0x0127, {-30000}).rec(0x0127, {-1}).rectangle(50, 50, 100, 100).placeable(), {{75, 75}}), QString("100x100 r"));

    // A polygon whose long edges cross each other hundreds of times on every
    // scanline (a known way to stall antialiased rasterizers) still finishes.
    QByteArray points;
    for (int i = 0; i < 181; ++i) {
        const qint16 x = qint16(i % 2 ? 32000 - i * 7 : -32000 + i * 11), y = qint16(i % 4 < 2 ? -32000 + i * 3 : 32000 - i * 5);
        points += char(x & 0xFF), points += char((x >> 8) & 0xFF), points += char(y & 0xFF), points += char((y >> 8) & 0xFF);
    }
    QCOMPARE(timed(Wmf().window(0, 0, 19311, 12649).solidBrush(0x0000FF).select(0).rec(0x02FA, {0x2200, 57, 0, 0, 0}).select(1)
                       .rec(0x0324, {181}, points).placeable(0, 0, 19311, 12649, 1200), {}),
             QString("1545x1012 "));

    // Thousands of fills of a large picture: a bounded amount of work is
    // done and what was drawn by then stays.
    Wmf many = Wmf().window(0, 0, 4096, 4096).redBox(0, 0, 4096, 4096);
    for (int i = 0; i < 3000; ++i) many.rectangle(0, 0, 4096, 4096);
    QCOMPARE(timed(many.placeable(0, 0, 4096, 4096, 96), {{2000, 2000}}), QString("4096x4096 r"));

    // Extents scaled up again and again, then used for clipping and drawing.
    Wmf scaled = Wmf(good);
    for (int i = 0; i < 200; ++i) scaled.rec(0x0412, {1, 32767, 1, 32767}).rec(0x0410, {32767, 1, 32767, 1});
    scaled.rec(0x0416, {100, 100, 0, 0}).rec(0x0220, {30000, 30000}).rectangle(0, 0, 100, 100);
    QCOMPARE(pixels(metafile::render(scaled.placeable()), {{25, 25}}), QString("r"));

    // Huge and degenerate extents: capped or refused, never a giant image.
    for (const QByteArray& huge : {Wmf().window(0, 0, -32768, 32767).redBox(0, 0, 10, 10).standard(),
                                   Wmf().window(0, 0, 1, 1).rec(0x020C, {0, 0}).redBox(0, 0, 1, 1).placeable(0, 0, 0, 0, 0)}) {
        img = metafile::render(huge);
        QVERIFY(img.width() <= MaxPictureSide && img.height() <= MaxPictureSide);
    }
    // A standard WMF that draws nothing has no size at all.
    QVERIFY(metafile::render(Wmf().rec(0x0102, {1}).standard(), &error).isNull());
}

void WmfTest::lyingBitmapsAreRefused() {
    const QList<QRgb> red(4, qRgb(255, 0, 0));
    auto decode = [](const QByteArray& d) { return metafile::decodePackedDib(reinterpret_cast<const uchar*>(d.constData()), d.size()); };
    // The good bitmap with bytes from `at` on replaced.
    auto patched = [&](std::initializer_list<std::pair<int, QByteArray>> patches) {
        QByteArray d = dib24(2, 2, red);
        for (const auto& [at, bytes] : patches) d.replace(at, bytes.size(), bytes);
        return d;
    };
    // A width claiming far more rows of bits than there are; bits cut short;
    // a header size larger than the data; zero width and height; an odd
    // depth; an 8-bit bitmap claiming 2^31 colours.
    for (const QByteArray& lie : {dib24(2, 2, red, 5000), dib24(2, 2, red).left(48), patched({{0, "\xC8"}}),
                                  patched({{4, QByteArray(4, '\0')}}), patched({{8, QByteArray(4, '\0')}}),
                                  patched({{14, "\x07"}}), patched({{14, "\x08"}, {32, QByteArray("\0\0\0\x80", 4)}})})
        QVERIFY(decode(lie).isNull());
    // RLE8 that runs past its rows stops at the bitmap's edge: 2 x 2 with a
    // run of 200 red pixels.
    // The header (RLE8, two colours: red, black), then a run of 200 of colour 0, end of line, end of bitmap.
    const QImage r = decode(QByteArray::fromHex("280000000200000002000000010008000100000000000000000000000000000002000000"
                                                "000000000000ff0000000000c80000010001"));
    QCOMPARE(sizedPixels(r, {{0, 1}, {1, 1}, {0, 0}}), QString("2x2 rr."));

    // In a picture, the lying bitmap is skipped and the rest is still drawn.
    const QImage img = metafile::render(Wmf().window(0, 0, 100, 100).rec(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 100, 100, 0, 0},
                                                                          dib24(2, 2, red, 30000))
                                            .redBox(50, 50, 100, 100).placeable());
    QCOMPARE(pixels(img, {{25, 25}, {75, 75}}), QString(".r"));
}

QTEST_MAIN(WmfTest)
#include "test_metafile_wmf.moc"
