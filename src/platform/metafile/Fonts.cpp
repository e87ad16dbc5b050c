#include "platform/metafile/Fonts.h"

#include "platform/CodePage932.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QMutex>
#include <QSet>

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace metafile {

namespace {

// The Symbol face's code points 0x20..0xFF as Unicode (0 where the face has no glyph).
constexpr char16_t kSymbol[224] = {
    // 0x20
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B, 0x002C, 0x2212, 0x002E, 0x002F,
    // 0x30
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    // 0x40
    0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F,
    // 0x50
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B, 0x2234, 0x005D, 0x22A5, 0x005F,
    // 0x60
    0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF,
    // 0x70
    0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D, 0x223C, 0x0000,
    // 0x80..0x9F: nothing
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xA0
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190, 0x2191, 0x2192, 0x2193,
    // 0xB0
    0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5,
    // 0xC0
    0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209,
    // 0xD0
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3,
    // 0xE0
    0x25CA, 0x27E8, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8, 0x23A9, 0x23AA,
    // 0xF0
    0x0000, 0x27E9, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0x0000,
};

// The characters of the MT Extra face that equation editors use, as Unicode.
struct CodeMap {
    uchar code;
    char16_t unicode;
};
constexpr CodeMap kMtExtra[] = {
    {0x21, 0x22EE},  // vertical ellipsis
    {0x22, 0x22EF},  // midline horizontal ellipsis
    {0x23, 0x22F0},  // up-right diagonal ellipsis
    {0x24, 0x22F1},  // down-right diagonal ellipsis
    {0x25, 0x2237},  // proportion
    {0x26, 0x02D9},  // dot accent (time derivative)
    {0x28, 0x21A6},  // maps-to arrow
    {0x29, 0x2250},  // approaches the limit
    {0x2A, 0x25B5},  // small up triangle (accent)
    {0x3C, 0x25C3},  // small left triangle
    {0x3E, 0x25B9},  // small right triangle
    {0x41, 0x2194},  // left-right arrow accent
    {0x42, 0x21BC},  // harpoons
    {0x43, 0x21C0},
    {0x44, 0x21BD},
    {0x45, 0x21C1},
    {0x4C, 0x22EF},  // centred ellipsis
    {0x4D, 0x2026},  // baseline ellipsis
    {0x51, 0x2210},  // coproduct
    {0x52, 0x2A0D},
    {0x60, 0x2035},
    {0x61, 0x21C4},  // arrows over arrows
    {0x62, 0x21C6},
    {0x63, 0x21CB},
    {0x64, 0x21CC},
    {0x65, 0x2213},  // minus-or-plus
    {0x66, 0x2237},
    {0x68, 0x210F},  // h bar
    {0x69, 0x0131},  // dotless i
    {0x6A, 0x0237},  // dotless j
    {0x6B, 0x2218},  // ring operator
    {0x6C, 0x2113},  // script l
    {0x6D, 0x2213},
    {0x6F, 0x2218},
    {0x70, 0x2225},  // parallel
    {0x71, 0x2195},
    {0x72, 0x20D7},  // combining right arrow above (vector accent)
    {0x73, 0x02DC},
    {0x74, 0x2192},
    {0x75, 0x2190},
    {0x76, 0x2192},  // vector arrow accent
    {0x78, 0x02C7},
    {0x7B, 0x23DE},  // top curly bracket
    {0x7D, 0x23DF},  // bottom curly bracket
    {0xFA, 0x23B4},
    {0xFB, 0x23B5},
};

// The Wingdings characters documents use most (bullets, boxes, check marks,
// arrows, circled numbers), as Unicode. Codes not listed are drawn as they are.
constexpr CodeMap kWingdings[] = {
    {0x21, 0x270F}, {0x22, 0x2702}, {0x23, 0x2701}, {0x28, 0x260E}, {0x29, 0x2706}, {0x2A, 0x2709},
    {0x36, 0x231B}, {0x37, 0x2328}, {0x3E, 0x2707}, {0x3F, 0x270D}, {0x41, 0x270C}, {0x45, 0x261C},
    {0x46, 0x261E}, {0x47, 0x261D}, {0x48, 0x261F}, {0x4A, 0x263A}, {0x4C, 0x2639}, {0x4E, 0x2620},
    {0x4F, 0x2690}, {0x51, 0x2708}, {0x52, 0x263C}, {0x54, 0x2744}, {0x56, 0x271E}, {0x58, 0x2720},
    {0x59, 0x2721}, {0x5A, 0x262A}, {0x5B, 0x262F}, {0x5C, 0x0950}, {0x5D, 0x2638}, {0x5E, 0x2648},
    {0x5F, 0x2649}, {0x60, 0x264A}, {0x61, 0x264B}, {0x62, 0x264C}, {0x63, 0x264D}, {0x64, 0x264E},
    {0x65, 0x264F}, {0x66, 0x2650}, {0x67, 0x2651}, {0x68, 0x2652}, {0x69, 0x2653}, {0x6C, 0x25CF},
    {0x6D, 0x274D}, {0x6E, 0x25A0}, {0x6F, 0x25A1}, {0x71, 0x2751}, {0x72, 0x2752}, {0x73, 0x2B27},
    {0x74, 0x29EB}, {0x75, 0x25C6}, {0x76, 0x2756}, {0x77, 0x2B25}, {0x78, 0x2327}, {0x7A, 0x2318},
    {0x80, 0x24EA}, {0x81, 0x2460}, {0x82, 0x2461}, {0x83, 0x2462}, {0x84, 0x2463}, {0x85, 0x2464},
    {0x86, 0x2465}, {0x87, 0x2466}, {0x88, 0x2467}, {0x89, 0x2468}, {0x8A, 0x2469}, {0x8B, 0x24FF},
    {0x8C, 0x2776}, {0x8D, 0x2777}, {0x8E, 0x2778}, {0x8F, 0x2779}, {0x90, 0x277A}, {0x91, 0x277B},
    {0x92, 0x277C}, {0x93, 0x277D}, {0x94, 0x277E}, {0x95, 0x277F}, {0x9E, 0x00B7}, {0x9F, 0x2022},
    {0xA0, 0x25AA}, {0xA1, 0x25CB}, {0xA4, 0x25C9}, {0xA5, 0x25CE}, {0xA7, 0x25AA}, {0xA8, 0x25FB},
    {0xAA, 0x2726}, {0xAB, 0x2605}, {0xAC, 0x2736}, {0xAD, 0x2734}, {0xAE, 0x2739}, {0xAF, 0x2735},
    {0xB1, 0x2316}, {0xB2, 0x27E1}, {0xB3, 0x2311}, {0xB6, 0x2730}, {0xD5, 0x232B}, {0xD6, 0x2326},
    {0xD8, 0x27A2}, {0xE8, 0x2794}, {0xEF, 0x21E6}, {0xF0, 0x21E8}, {0xF1, 0x21E7}, {0xF2, 0x21E9},
    {0xF3, 0x2B04}, {0xF4, 0x21F3}, {0xF9, 0x25AD}, {0xFA, 0x25AB}, {0xFB, 0x2717}, {0xFC, 0x2713},
    {0xFD, 0x2612}, {0xFE, 0x2611},
};

enum class SymbolFace { None, Symbol, MtExtra, Wingdings };

SymbolFace symbolFace(const QString& face) {
    const QString f = face.trimmed().toLower();
    if (f == u"symbol" || f == u"symbol mt" || f == u"opensymbol" || f == u"standard symbols ps") return SymbolFace::Symbol;
    if (f == u"mt extra" || f == u"mt extra tiger") return SymbolFace::MtExtra;
    if (f == u"wingdings") return SymbolFace::Wingdings;
    return SymbolFace::None;
}

char16_t mapSymbolCode(uchar c, SymbolFace which) {
    if (which == SymbolFace::Symbol) {
        if (c < 0x20) return c;
        const char16_t u = kSymbol[c - 0x20];
        return u ? u : char16_t(c);
    }
    if (which == SymbolFace::Wingdings) {
        for (const auto& m : kWingdings)
            if (m.code == c) return m.unicode;
        return c;
    }
    for (const auto& m : kMtExtra)
        if (m.code == c) return m.unicode;
    return c;
}

// Windows code page for a LOGFONT charset; nullptr for "no conversion".
const char* codePageFor(quint8 charset) {
    switch (charset) {
    case 0: return "CP1252";      // ANSI
    case 1: return "CP1252";      // DEFAULT
    case 77: return "MACINTOSH";  // MAC
    case 128: return nullptr;     // SHIFTJIS: through our CP932 converter
    case 129: return "CP949";     // HANGUL
    case 130: return "CP1361";    // JOHAB
    case 134: return "CP936";     // GB2312
    case 136: return "BIG5";      // CHINESEBIG5
    case 161: return "CP1253";    // GREEK
    case 162: return "CP1254";    // TURKISH
    case 163: return "CP1258";    // VIETNAMESE
    case 177: return "CP1255";    // HEBREW
    case 178: return "CP1256";    // ARABIC
    case 186: return "CP1257";    // BALTIC
    case 204: return "CP1251";    // RUSSIAN
    case 222: return "CP874";     // THAI
    case 238: return "CP1250";    // EASTEUROPE
    case 255: return "CP437";     // OEM
    default: return "CP1252";
    }
}

QString iconvDecode(const QByteArray& bytes, const char* codePage) {
    iconv_t cd = iconv_open("UTF-16LE", codePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(bytes);
    QString out;
    std::vector<char> buf(static_cast<size_t>(bytes.size()) * 4 + 16);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    while (inLeft > 0) {
        char* o = buf.data();
        size_t oLeft = buf.size();
        const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        const size_t produced = buf.size() - oLeft;
        out.append(QString::fromUtf16(reinterpret_cast<const char16_t*>(buf.data()), qsizetype(produced / 2)));
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        out.append(QChar(0xFFFD));
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    return out;
}

QSet<QString> installedFamilies() {
    static QMutex mutex;
    static QSet<QString> families;
    static bool loaded = false;
    QMutexLocker lock(&mutex);
    if (!loaded && QGuiApplication::instance()) {
        for (QString f : QFontDatabase::families()) {
            // A face several foundries provide is listed as "Family [foundry]".
            if (const qsizetype at = f.indexOf(QStringLiteral(" [")); at > 0 && f.endsWith(u']')) f.truncate(at);
            families.insert(f.toLower());
        }
        loaded = true;
    }
    return families;
}

bool installed(const QString& family) { return installedFamilies().contains(family.toLower()); }

QString firstInstalled(std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (installed(QString::fromLatin1(n))) return QString::fromLatin1(n);
    return QString::fromLatin1(*names.begin());
}

}  // namespace

QString substituteFace(const QString& windowsFace) {
    QString f = windowsFace.trimmed();
    // Faces marked for vertical writing ("@ＭＳ 明朝") draw like the plain face here.
    if (f.startsWith(u'@')) f.remove(0, 1);
    const QString l = f.toLower();
    // Times: Liberation Serif has Times' metrics, but its italic is drawn in
    // another style (a straight "f", plain "x"), and equations are mostly
    // italic; the URW Times clone has Times' shapes in every style.
    const QString times = firstInstalled({"Nimbus Roman", "Liberation Serif"});
    static const QHash<QString, const char*> exact = {
        {QStringLiteral("times new roman"), "Times"},
        {QStringLiteral("times"), "Times"},
        {QStringLiteral("tms rmn"), "Times"},
        {QStringLiteral("roman"), "Times"},
        {QStringLiteral("mt extra"), "DejaVu Serif"},
        {QStringLiteral("wingdings"), "DejaVu Sans"},
        {QStringLiteral("symbol"), "Symbol"},
        {QStringLiteral("arial"), "Liberation Sans"},
        {QStringLiteral("helvetica"), "Liberation Sans"},
        {QStringLiteral("helv"), "Liberation Sans"},
        {QStringLiteral("ms sans serif"), "Liberation Sans"},
        {QStringLiteral("microsoft sans serif"), "Liberation Sans"},
        {QStringLiteral("swiss"), "Liberation Sans"},
        {QStringLiteral("system"), "Liberation Sans"},
        {QStringLiteral("courier new"), "Liberation Mono"},
        {QStringLiteral("courier"), "Liberation Mono"},
        {QStringLiteral("fixedsys"), "Liberation Mono"},
        {QStringLiteral("terminal"), "Liberation Mono"},
        {QStringLiteral("lucida console"), "Liberation Mono"},
        {QStringLiteral("consolas"), "Liberation Mono"},
    };
    if (auto it = exact.constFind(l); it != exact.constEnd()) {
        const QString sub = QString::fromLatin1(it.value());
        if (sub == u"Times") return times;
        // Symbol's letters and signs, mapped to Unicode, in the office
        // suites' stand-in for it; failing that in a Times design, with Qt
        // falling back per glyph for the rest.
        if (sub == u"Symbol") return firstInstalled({"OpenSymbol", "Liberation Serif"});
        if (sub == u"DejaVu Serif") return firstInstalled({"DejaVu Serif", "Liberation Serif"});
        if (sub == u"DejaVu Sans") return firstInstalled({"DejaVu Sans", "Liberation Sans"});
        return sub;
    }
    // Japanese faces: proportional ("Ｐ", "UI") and fixed-pitch gothic, and mincho.
    const bool proportional = f.contains(u'Ｐ') || l.contains(u"pgothic") || l.contains(u"p gothic") ||
                              l.contains(u"pmincho") || l.contains(u"ui gothic") || l.contains(u"meiryo") ||
                              f.contains(u"メイリオ");
    if (f.contains(u"明朝") || l.contains(u"mincho")) {
        if (proportional) return firstInstalled({"IPAPMincho", "IPAPGothic"});
        return firstInstalled({"IPAMincho", "IPAGothic"});
    }
    if (f.contains(u"ゴシック") || l.contains(u"gothic") || l.contains(u"meiryo") || f.contains(u"メイリオ") ||
        f.contains(u"游") || l.startsWith(u"hg")) {
        return proportional ? QStringLiteral("IPAPGothic") : QStringLiteral("IPAGothic");
    }
    if (!f.isEmpty() && installed(f)) return f;
    // Other faces by their look.
    if (l.contains(u"courier") || l.contains(u"mono") || l.contains(u"typewriter")) return QStringLiteral("Liberation Mono");
    if (l.contains(u"times") || l.contains(u"roman") || (l.contains(u"serif") && !l.contains(u"sans")) ||
        l.contains(u"garamond") || l.contains(u"georgia") || l.contains(u"century") || l.contains(u"book") ||
        l.contains(u"palatino") || l.contains(u"cambria") || l.contains(u"bodoni"))
        return times;
    return QStringLiteral("Liberation Sans");
}

QString decodeText(const QByteArray& bytes, quint8 charset, const QString& face) {
    const SymbolFace sf = symbolFace(face);
    if (sf != SymbolFace::None) {
        QString out;
        out.reserve(bytes.size());
        for (char c : bytes) out.append(QChar(mapSymbolCode(uchar(c), sf)));
        return out;
    }
    if (charset == 2) return QString::fromLatin1(bytes);  // another symbol face: its own glyph order
    if (charset == 128) return cp932::toUnicode(bytes);
    return iconvDecode(bytes, codePageFor(charset));
}

QString mapSymbolText(const QString& text, const QString& face) {
    const SymbolFace sf = symbolFace(face);
    if (sf == SymbolFace::None) return text;
    QString out = text;
    for (QChar& ch : out) {
        const char16_t u = ch.unicode();
        // Symbol faces put their glyphs at U+F020..U+F0FF as well as at 0x20..0xFF.
        if (u >= 0xF020 && u <= 0xF0FF)
            ch = QChar(mapSymbolCode(uchar(u & 0xFF), sf));
        else if (u >= 0x20 && u <= 0xFF)
            ch = QChar(mapSymbolCode(uchar(u), sf));
    }
    return out;
}

}  // namespace metafile
