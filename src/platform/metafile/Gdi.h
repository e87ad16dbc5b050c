#pragma once
// GDI values shared by the WMF and EMF players.
#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <QSize>
#include <QtGlobal>

namespace metafile {
// COLORREF 0x00BBGGRR.
QColor colorRef(quint32 cr);
// HS_HORIZONTAL .. HS_DIAGCROSS (0..5) in the given colour; other values give a solid brush.
QBrush hatchBrush(quint32 hatchStyle, const QColor& color);
// PS_SOLID .. PS_NULL (the low four bits of a GDI pen style).
Qt::PenStyle penStyle(quint32 gdiPenStyle);
// PS_ENDCAP_* (bits 8..11) and PS_JOIN_* (bits 12..15) of a GDI pen style.
Qt::PenCapStyle penCap(quint32 gdiPenStyle);
Qt::PenJoinStyle penJoin(quint32 gdiPenStyle);
// An 8 x 8 hatch pattern as an image: `color` lines on a transparent background
// (the caller fills the background first when the background mode is OPAQUE).
// Null for a style outside HS_HORIZONTAL .. HS_DIAGCROSS.
QImage hatchImage(quint32 hatchStyle, const QColor& color);

// Qt's antialiasing rasterizer slows down badly on some outlines (many long
// edges crossing the same scanlines, or an outline far longer than the
// picture); those are drawn without antialiasing. `dev` is in image pixels.
bool heavyShape(const QPainterPath& dev, QSize image);
// The same for a line drawn with `pen`: a wide pen is drawn by filling its
// outline, which crosses itself where the path does, twice over, plus at
// every join.
bool heavyStroke(const QPainterPath& dev, const QPen& pen, QSize image);

// What drawing a picture may cost, counted in pixels touched. Real pictures
// touch each pixel a handful of times (at most 17 times over in the files we
// know); a hostile file can ask for thousands of fills of the whole picture.
// Past the budget the rest of the picture is left undrawn.
class WorkBudget {
public:
    explicit WorkBudget(QSize image = {});
    // Charges `pixels`; false once the budget is spent (and from then on).
    bool spend(double pixels);
    bool exhausted() const { return exhausted_; }
    // The part of `rect` (image pixels) that lies on the picture.
    double onImage(const QRectF& rect) const;
    // Raster operations are worked out pixel by pixel, some fifty times
    // slower than a fill: each pixel counts this many.
    static constexpr double RasterOpPixel = 64;

private:
    QSize image_;
    double limit_;
    double used_ = 0;
    bool exhausted_ = false;
    WorkBudget* enclosing_ = nullptr;  // a nested picture's spending is charged there too
};

// While one lives, pictures drawn on this thread are drawn inside another
// (an EMF+ image that is itself a metafile): their budgets spend from what is
// left of the enclosing picture's, so a file full of such images costs no
// more than one picture.
class NestedPicture {
public:
    explicit NestedPicture(WorkBudget& enclosing);
    ~NestedPicture();
    NestedPicture(const NestedPicture&) = delete;
    NestedPicture& operator=(const NestedPicture&) = delete;
    // Pictures inside a nested picture are not drawn, so nesting cannot
    // multiply the work either.
    static bool inside();
    // The largest area a picture is drawn at: MaxPictureArea, or for a
    // nested picture MaxNestedArea, as it is kept as an image while the
    // enclosing picture lasts.
    static double areaCap();
    static constexpr double MaxNestedArea = 1024.0 * 1024.0;
    // What each nested picture costs the enclosing one before it draws
    // anything: setting it up is not free, however small it is.
    static constexpr double SetUpCost = 1e6;

private:
    WorkBudget* previous_;
};

// R2_* binary raster operation (1..16) as a composition mode; `drawNothing`
// is set for R2_NOP.
QPainter::CompositionMode rop2Mode(quint32 rop2, bool* drawNothing);
}
