// WMF objects: pens, brushes, fonts, palettes and regions; made, selected
// and deleted through the object table.
#include "platform/metafile/WmfPlayer.h"

#include "platform/metafile/Dib.h"

#include <algorithm>

namespace metafile::wmf {

void Player::createObject(Object obj) {
    // A new object takes the lowest free slot. The table grows as objects are
    // made rather than to the header's count up front, and the search starts
    // at the lowest slot that can be free.
    while (freeSlot_ < objects_.size() && !std::holds_alternative<std::monostate>(objects_[freeSlot_])) ++freeSlot_;
    if (freeSlot_ < objects_.size()) {
        objects_[freeSlot_++] = std::move(obj);
        return;
    }
    // Past the header's count too: a header that under-counts is common
    // enough to tolerate, within the 16-bit index range.
    if (int(objects_.size()) < kMaxObjects) {
        objects_.push_back(std::move(obj));
        freeSlot_ = objects_.size();
    }
}

// Records that make, select and delete objects.
void Player::objectRecord(quint16 fn, const Params& p) {
    switch (fn) {
    case CreatePenIndirect: {
        PenObj pen;
        pen.style = p.u16(0);
        pen.width = p.s16(2);
        pen.color = color(p, 6);
        createObject(pen);
        break;
    }
    case CreateBrushIndirect: {
        BrushObj b;
        const quint16 style = p.u16(0);
        b.color = color(p, 2);
        b.hatch = p.u16(6);
        if (style == 1) b.kind = BrushObj::Null;
        else if (style == 2) b.kind = BrushObj::Hatched;
        else b.kind = BrushObj::Solid;  // BS_SOLID, and pattern styles that carry no bitmap here
        createObject(b);
        break;
    }
    case DibCreatePatternBrush: {
        BrushObj b;
        b.kind = BrushObj::Pattern;
        if (p.size() > 4) b.pattern = decodePackedDib(p.at(4), p.size() - 4);
        if (b.pattern.isNull()) {
            b.kind = BrushObj::Solid;
            b.color = Qt::black;
        }
        createObject(b);
        break;
    }
    case CreatePatternBrush: {
        BrushObj b;
        b.kind = BrushObj::Pattern;
        // Bitmap16 header, 18 reserved bytes, then the bits.
        if (p.has(10) && p.u8(9) == 1 && p.u8(8) == 1) {
            const int w = p.s16(2), h = p.s16(4), wb = p.s16(6);
            const qsizetype bits = 10 + 18;
            if (w > 0 && h > 0 && w <= 256 && h <= 256 && wb * 8 >= w && p.has(bits + qsizetype(wb) * h)) {
                QImage img(w, h, QImage::Format_ARGB32);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        img.setPixel(x, y, ((p.u8(bits + qsizetype(wb) * y + x / 8) >> (7 - x % 8)) & 1) ? 0xFFFFFFFFu : 0xFF000000u);
                b.pattern = img;
                b.monoPattern = true;
            }
        }
        if (b.pattern.isNull()) b.kind = BrushObj::Solid, b.color = Qt::black;
        createObject(b);
        break;
    }
    case CreateFontIndirect: {
        FontObj f;
        f.height = p.s16(0);
        f.width = p.s16(2);
        f.escapement = p.s16(4);
        f.weight = p.s16(8);
        f.italic = p.u8(10);
        f.underline = p.u8(11);
        f.strikeOut = p.u8(12);
        f.charset = p.u8(13);
        if (p.size() > 18) {
            QByteArray name(reinterpret_cast<const char*>(p.at(18)), std::min<qsizetype>(p.size() - 18, 32));
            const qsizetype nul = name.indexOf('\0');
            if (nul >= 0) name.truncate(nul);
            bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x80; });
            f.face = ascii ? QString::fromLatin1(name) : decodeText(name, f.charset == 0 ? 128 : f.charset, QString());
        }
        f.family = substituteFace(f.face);
        createObject(f);
        break;
    }
    case CreatePalette: {
        // Start (the version), the entry count, then R, G, B, flags per entry.
        PaletteObj pal;
        const int count = p.u16(2);
        for (int i = 0; i < count && p.has(4 + 4 * qsizetype(i) + 4); ++i)
            pal.entries.push_back(qRgb(p.u8(4 + 4 * i), p.u8(5 + 4 * i), p.u8(6 + 4 * i)));
        createObject(std::move(pal));
        break;
    }
    case SelectPalette: {
        const quint16 i = p.u16(0);
        if (i < objects_.size())
            if (const auto* pal = std::get_if<PaletteObj>(&objects_[i])) palette_ = pal->entries;
        break;
    }
    case CreateRegion: {
        // Region16: nextInChain, objectType, objectCount, regionSize, scanCount,
        // maxScan, bounding box, then the scans.
        RegionObj r;
        if (p.has(22)) {
            const int scans = p.s16(12);
            qsizetype at = 22;
            for (int s = 0; s < scans && p.has(at + 6); ++s) {
                const int count = p.u16(at);
                const int top = p.s16(at + 2), bottom = p.s16(at + 4);
                at += 6;
                if (!p.has(at + qsizetype(count) * 2 + 2)) break;
                for (int k = 0; k + 1 < count; k += 2) {
                    const int l = p.s16(at + 2 * k), rr = p.s16(at + 2 * k + 2);
                    if (rr > l && bottom > top) r.region += QRect(l, top, rr - l, bottom - top);
                }
                at += qsizetype(count) * 2 + 2;
            }
            if (r.region.isEmpty()) {
                const QRectF b = rectFromLTRB(p.s16(14), p.s16(16), p.s16(18), p.s16(20)).normalized();
                r.region = QRegion(b.toRect());
            }
        }
        createObject(r);
        break;
    }
    case SelectObject: {
        const quint16 i = p.u16(0);
        if (i >= objects_.size()) break;
        const Object& o = objects_[i];
        if (auto* pen = std::get_if<PenObj>(&o)) dc_.pen = *pen;
        else if (auto* brush = std::get_if<BrushObj>(&o)) dc_.brush = *brush;
        else if (auto* font = std::get_if<FontObj>(&o)) dc_.font = *font, dc_.hasFont = true;
        else if (auto* region = std::get_if<RegionObj>(&o)) combineClip(deviceRegion(region->region), ClipCopy);
        break;
    }
    case DeleteObject: {
        const quint16 i = p.u16(0);
        if (i < objects_.size()) {
            objects_[i] = std::monostate{};
            freeSlot_ = std::min<size_t>(freeSlot_, i);
        }
        break;
    }
    default: break;
    }
}

}  // namespace metafile::wmf
