#include "platform/metafile/Dib.h"

#include <QtEndian>

#include <algorithm>
#include <bit>

namespace metafile {

namespace {

// Larger bitmaps than this are refused: a compressed or lying header must not
// make us allocate without bound.
constexpr qint64 kMaxPixels = 32 * 1024 * 1024;
constexpr qint64 kMaxSide = 65535;

quint16 u16(const uchar* p) { return qFromLittleEndian<quint16>(p); }
quint32 u32(const uchar* p) { return qFromLittleEndian<quint32>(p); }
qint32 i32(const uchar* p) { return qFromLittleEndian<qint32>(p); }

enum Compression : quint32 { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3, BiJpeg = 4, BiPng = 5, BiAlphaBitfields = 6 };

struct Header {
    quint32 headerSize = 0;
    qint64 width = 0;
    qint64 height = 0;  // negative: rows run top-down
    int bitCount = 0;
    quint32 compression = BiRgb;
    quint32 sizeImage = 0;
    quint32 clrUsed = 0;
    quint32 masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool haveMasks = false;
    qsizetype colorEntries = 0;  // entries in the table that follows the header (and masks)
    qsizetype entryBytes = 4;
    qsizetype tableOffset = 0;   // where the colour table starts
    qsizetype infoLength = 0;    // header + masks + colour table
};

bool parseHeader(const uchar* p, qsizetype n, Header& h) {
    if (!p || n < 4) return false;
    h.headerSize = u32(p);
    if (h.headerSize == 12) {
        if (n < 12) return false;
        h.width = u16(p + 4);
        h.height = qint16(u16(p + 6));
        h.bitCount = u16(p + 10);
        h.entryBytes = 3;
        h.tableOffset = 12;
    } else if (h.headerSize >= 16 && h.headerSize <= 1024) {
        if (n < qsizetype(h.headerSize)) return false;
        h.width = i32(p + 4);
        h.height = i32(p + 8);
        h.bitCount = u16(p + 14);
        if (h.headerSize >= 20) h.compression = u32(p + 16);
        if (h.headerSize >= 24) h.sizeImage = u32(p + 20);
        if (h.headerSize >= 36) h.clrUsed = u32(p + 32);
        h.tableOffset = h.headerSize;
        if (h.headerSize >= 52) {
            for (int i = 0; i < 3; ++i) h.masks[i] = u32(p + 40 + 4 * i);
            if (h.headerSize >= 56) h.masks[3] = u32(p + 52);
            h.haveMasks = true;
        } else if (h.headerSize == 40 && (h.compression == BiBitfields || h.compression == BiAlphaBitfields)) {
            const int count = h.compression == BiAlphaBitfields ? 4 : 3;
            if (n < 40 + 4 * count) return false;
            for (int i = 0; i < count; ++i) h.masks[i] = u32(p + 40 + 4 * i);
            h.haveMasks = true;
            h.tableOffset = 40 + 4 * count;
        }
    } else {
        return false;
    }
    if (h.width <= 0 || h.height == 0 || h.width > kMaxSide || std::abs(h.height) > kMaxSide) return false;
    if (h.width * std::abs(h.height) > kMaxPixels) return false;
    switch (h.bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    case 0: if (h.compression != BiJpeg && h.compression != BiPng) return false; break;
    default: return false;
    }
    if (h.bitCount <= 8 && h.bitCount > 0)
        h.colorEntries = (h.clrUsed != 0 && h.clrUsed < (1u << h.bitCount)) ? qsizetype(h.clrUsed) : qsizetype(1) << h.bitCount;
    else
        h.colorEntries = h.clrUsed <= 65536 ? qsizetype(h.clrUsed) : -1;
    if (h.colorEntries < 0) return false;
    // A table that declares more than the bit depth can index is still laid
    // out in full; the packed layout has to skip all of it.
    qsizetype declared = h.colorEntries;
    if (h.bitCount <= 8 && h.clrUsed > quint32(declared) && h.clrUsed <= 65536) declared = h.clrUsed;
    h.infoLength = h.tableOffset + declared * h.entryBytes;
    return true;
}

QImage decodeRle(const Header& h, const QRgb* table, qsizetype tableSize, const uchar* bits, qsizetype n) {
    const int w = int(h.width);
    const int hh = int(std::abs(h.height));
    QImage img(w, hh, QImage::Format_ARGB32);
    if (img.isNull()) return {};
    img.fill(Qt::transparent);
    const bool four = h.compression == BiRle4;
    auto colour = [&](int index) { return index < tableSize ? table[index] : qRgb(0, 0, 0); };
    // Rows are stored bottom-up; (x, y) counts from the bottom-left corner.
    int x = 0, y = 0;
    qsizetype i = 0;
    auto put = [&](int index) {
        if (x < w && y < hh) reinterpret_cast<QRgb*>(img.scanLine(hh - 1 - y))[x] = colour(index);
        ++x;
    };
    while (i + 1 < n && y < hh) {
        const int count = bits[i];
        const int value = bits[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count && x < w; ++k) put(four ? ((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta
            if (i + 1 >= n) break;
            x += bits[i];
            y += bits[i + 1];
            i += 2;
        } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const qsizetype bytes = four ? (value + 1) / 2 : value;
            if (i + bytes > n) break;
            for (int k = 0; k < value; ++k) {
                const int b = four ? bits[i + k / 2] : bits[i + k];
                put(four ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            i += (bytes + 1) & ~qsizetype(1);
        }
    }
    return img;
}

// Extracts the field under `mask` from `v`, scaled to 0..255.
struct Field {
    int shift = 0;
    int bits = 0;
    explicit Field(quint32 mask) {
        if (!mask) return;
        shift = std::countr_zero(mask);
        bits = std::popcount(mask >> shift);
        if (bits > 8) {  // keep the top eight bits
            shift += bits - 8;
            bits = 8;
        }
    }
    int get(quint32 v) const {
        if (!bits) return 0;
        const quint32 x = (v >> shift) & ((1u << bits) - 1);
        return bits == 8 ? int(x) : int(x * 255 / ((1u << bits) - 1));
    }
};

}  // namespace

QImage decodeDib(const uchar* info, qsizetype infoBytes, const uchar* bits, qsizetype bitsBytes,
                 const QList<QRgb>* palette) {
    Header h;
    if (!parseHeader(info, infoBytes, h)) return {};
    if (!bits || bitsBytes <= 0) return {};

    if (h.compression == BiJpeg || h.compression == BiPng) {
        const qsizetype len = (h.sizeImage > 0 && h.sizeImage <= quint64(bitsBytes)) ? qsizetype(h.sizeImage) : bitsBytes;
        return QImage::fromData(QByteArrayView(bits, len), h.compression == BiPng ? "PNG" : "JPEG");
    }

    QRgb table[256];
    qsizetype tableSize = 0;
    if (h.bitCount <= 8) {
        tableSize = std::min<qsizetype>(h.colorEntries, 256);
        const qsizetype entryBytes = palette ? 2 : h.entryBytes;
        const qsizetype available = (infoBytes - h.tableOffset) / entryBytes;
        if (available < tableSize) {
            // A monochrome bitmap without a table is black on white; anything
            // else without its colours is refused.
            if (available > 0 || h.bitCount != 1) return {};
            table[0] = qRgb(0, 0, 0);
            table[1] = qRgb(255, 255, 255);
            tableSize = 2;
        } else {
            for (qsizetype k = 0; k < tableSize; ++k) {
                const uchar* e = info + h.tableOffset + k * entryBytes;
                if (palette) {
                    const quint16 index = u16(e);
                    table[k] = index < palette->size() ? (*palette)[index] : qRgb(0, 0, 0);
                } else {
                    table[k] = qRgb(e[2], e[1], e[0]);
                }
            }
        }
    }

    if (h.compression == BiRle8 || h.compression == BiRle4) {
        if ((h.compression == BiRle8 && h.bitCount != 8) || (h.compression == BiRle4 && h.bitCount != 4)) return {};
        return decodeRle(h, table, tableSize, bits, bitsBytes);
    }
    if (h.compression != BiRgb && h.compression != BiBitfields && h.compression != BiAlphaBitfields) return {};

    const int w = int(h.width);
    const int hh = int(std::abs(h.height));
    const qint64 stride = ((qint64(w) * h.bitCount + 31) / 32) * 4;
    // The last row need not be padded out.
    const qint64 lastRow = (qint64(w) * h.bitCount + 7) / 8;
    if (stride * (hh - 1) + lastRow > bitsBytes) return {};

    bool useMasks = h.compression != BiRgb && h.haveMasks;
    quint32 masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
    if (!useMasks && h.bitCount == 16) {
        masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F; masks[3] = 0;
        useMasks = true;
    }
    const bool hasAlpha = useMasks && masks[3] != 0;
    const Field fr(masks[0]), fg(masks[1]), fb(masks[2]), fa(masks[3]);

    QImage img(w, hh, QImage::Format_ARGB32);
    if (img.isNull()) return {};
    auto colour = [&](int index) { return index < tableSize ? table[index] : qRgb(0, 0, 0); };
    for (int row = 0; row < hh; ++row) {
        const uchar* s = bits + stride * row;
        const int outRow = h.height > 0 ? hh - 1 - row : row;
        auto* d = reinterpret_cast<QRgb*>(img.scanLine(outRow));
        switch (h.bitCount) {
        case 1:
            for (int x = 0; x < w; ++x) d[x] = colour((s[x >> 3] >> (7 - (x & 7))) & 1);
            break;
        case 4:
            for (int x = 0; x < w; ++x) d[x] = colour((x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4));
            break;
        case 8:
            for (int x = 0; x < w; ++x) d[x] = colour(s[x]);
            break;
        case 16:
            for (int x = 0; x < w; ++x) {
                const quint32 v = u16(s + 2 * x);
                d[x] = qRgba(fr.get(v), fg.get(v), fb.get(v), hasAlpha ? fa.get(v) : 255);
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x) d[x] = qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
            break;
        case 32:
            if (useMasks) {
                for (int x = 0; x < w; ++x) {
                    const quint32 v = u32(s + 4 * x);
                    d[x] = qRgba(fr.get(v), fg.get(v), fb.get(v), hasAlpha ? fa.get(v) : 255);
                }
            } else {
                // The fourth byte of a plain 32-bit DIB is reserved, not alpha.
                for (int x = 0; x < w; ++x) d[x] = qRgb(s[4 * x + 2], s[4 * x + 1], s[4 * x]);
            }
            break;
        }
    }
    return img;
}

QImage decodePackedDib(const uchar* data, qsizetype bytes) {
    Header h;
    if (!parseHeader(data, bytes, h)) return {};
    if (h.infoLength > bytes) {
        // A monochrome bitmap may come without its table (decodeDib supplies one).
        if (!(h.bitCount == 1 && h.tableOffset <= bytes)) return {};
        return decodeDib(data, h.tableOffset, data + h.tableOffset, bytes - h.tableOffset);
    }
    return decodeDib(data, h.infoLength, data + h.infoLength, bytes - h.infoLength);
}

}  // namespace metafile
