#pragma once
// Ternary raster operations (the ROP3 codes of BitBlt and its family),
// computed on the pixels they touch, for both players.
//
// Pictures are drawn on a transparent canvas, but GDI programs combine their
// bitmaps with a page that is there: where nothing was drawn yet we take the
// page to be white, and a result that is white over such a pixel stays
// transparent, so that what lies behind the picture shows through as the
// program meant (the inverted-copy, mask, inverted-copy idiom relies on it).
#include "platform/metafile/Clip.h"

#include <QBrush>
#include <QImage>
#include <QPainterPath>
#include <QRect>
#include <QTransform>
#include <QtGlobal>

namespace metafile {

// The operation's index (bits 16..23 of the ROP3 value): bit P*4 + S*2 + D of
// it is the result for pattern bit P, source bit S and destination bit D.
constexpr quint8 ropCode(quint32 rop3) { return quint8((rop3 >> 16) & 0xFF); }
constexpr bool ropUsesSource(quint8 code) { return ((code >> 2) & 0x33) != (code & 0x33); }
constexpr bool ropUsesPattern(quint8 code) { return ((code >> 4) & 0x0F) != (code & 0x0F); }
constexpr bool ropUsesDestination(quint8 code) { return ((code >> 1) & 0x55) != (code & 0x55); }

// The operation applied bit by bit to three 0x00RRGGBB values.
constexpr quint32 rop3(quint8 code, quint32 p, quint32 s, quint32 d) {
    // One term per set bit of the code, each the AND of P, S, D or their
    // complements; written out so that it compiles without branches.
    auto term = [code](int bit) { return 0u - ((code >> bit) & 1u); };
    const quint32 np = ~p, ns = ~s, nd = ~d;
    const quint32 r = (term(0) & np & ns & nd) | (term(1) & np & ns & d) | (term(2) & np & s & nd) |
                      (term(3) & np & s & d) | (term(4) & p & ns & nd) | (term(5) & p & ns & d) |
                      (term(6) & p & s & nd) | (term(7) & p & s & d);
    return r & 0xFFFFFF;
}

// One blit over `area` of the canvas. The images are area-sized.
struct RopBlit {
    QRect area;
    QImage cover;    // Alpha8: where the operation applies, pixels of 128 or more
    QImage source;   // may be null when the operation does not read it
    QImage pattern;  // likewise
    QImage mask;     // MaskBlt: light pixels take `code`, dark ones `backCode`; null: `code` everywhere
    quint8 code = 0xCC;
    quint8 backCode = 0xAA;
};

// The pixels of the canvas a blit over `shape` (image pixels) touches: its
// bounding box, within the clip when there is one. Empty when none.
QRect blitArea(const QPainterPath& shape, QRect canvas, const Clip& clip);
// The cover of a blit over `area`: `shape`, within the clip.
QImage coverLayer(QRect area, const QPainterPath& shape, const Clip& clip);
// The pattern of a blit over `area`: the brushes painted one over the other
// (a hatch over its background), lined up with the canvas's origin.
QImage brushLayer(QRect area, std::initializer_list<QBrush> fills);
// A bitmap in a blit over `area`: the `from` part of `image` drawn onto
// `target`, which `toImage` takes to image pixels.
QImage imageLayer(QRect area, const QImage& image, const QRectF& from, const QRectF& target, const QTransform& toImage,
                  bool smooth);

// Combines the blit into the (premultiplied ARGB32) canvas.
void applyRop(QImage& canvas, const RopBlit& blit);
// Turns the pixels that only raster operations over the page touched into
// ordinary opaque ones; call once the picture is drawn.
void settlePage(QImage& canvas);

}  // namespace metafile
