#include "platform/metafile/Gdi.h"

#include "platform/metafile/Metafile.h"

#include <QImage>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>

namespace metafile {

QColor colorRef(quint32 cr) {
    // The high byte selects palette-index or palette-relative colours; we keep
    // no palette of our own, so the RGB bytes are taken as they are.
    return QColor(int(cr & 0xFF), int((cr >> 8) & 0xFF), int((cr >> 16) & 0xFF));
}

QImage hatchImage(quint32 hatchStyle, const QColor& color) {
    if (hatchStyle > 5) return {};
    QImage img(8, 8, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    const QRgb c = qPremultiply(color.rgba());
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            bool on = false;
            switch (hatchStyle) {
            case 0: on = (y == 7); break;                 // HS_HORIZONTAL
            case 1: on = (x == 7); break;                 // HS_VERTICAL
            case 2: on = (x == y); break;                 // HS_FDIAGONAL, "\"
            case 3: on = (x + y == 7); break;             // HS_BDIAGONAL, "/"
            case 4: on = (x == 7 || y == 7); break;       // HS_CROSS
            case 5: on = (x == y || x + y == 7); break;   // HS_DIAGCROSS
            }
            if (on) img.setPixel(x, y, c);
        }
    }
    return img;
}

QBrush hatchBrush(quint32 hatchStyle, const QColor& color) {
    switch (hatchStyle) {
    case 0: return QBrush(color, Qt::HorPattern);
    case 1: return QBrush(color, Qt::VerPattern);
    case 2: return QBrush(color, Qt::FDiagPattern);
    case 3: return QBrush(color, Qt::BDiagPattern);
    case 4: return QBrush(color, Qt::CrossPattern);
    case 5: return QBrush(color, Qt::DiagCrossPattern);
    default: return QBrush(color);
    }
}

Qt::PenStyle penStyle(quint32 gdiPenStyle) {
    switch (gdiPenStyle & 0x0F) {
    case 0: return Qt::SolidLine;
    case 1: return Qt::DashLine;
    case 2: return Qt::DotLine;
    case 3: return Qt::DashDotLine;
    case 4: return Qt::DashDotDotLine;
    case 5: return Qt::NoPen;
    case 8: return Qt::DotLine;   // PS_ALTERNATE: every other pixel
    default: return Qt::SolidLine;  // PS_INSIDEFRAME, PS_USERSTYLE, unknown
    }
}

Qt::PenCapStyle penCap(quint32 gdiPenStyle) {
    switch (gdiPenStyle & 0x0F00) {
    case 0x0100: return Qt::SquareCap;
    case 0x0200: return Qt::FlatCap;
    default: return Qt::RoundCap;
    }
}

Qt::PenJoinStyle penJoin(quint32 gdiPenStyle) {
    switch (gdiPenStyle & 0xF000) {
    case 0x1000: return Qt::BevelJoin;
    case 0x2000: return Qt::MiterJoin;
    default: return Qt::RoundJoin;
    }
}

// Qt's antialiasing rasterizer splits its work into ever thinner bands when
// many edges cross the same scanlines, and a few hundred long, crossing edges
// then take seconds. Shapes like that (broken or hostile files have them, real
// drawings do not) are drawn without antialiasing, which stays linear.
bool heavyShape(const QPainterPath& dev, QSize image) {
    const int n = dev.elementCount();
    if (n < 2 || image.isEmpty()) return false;
    double covered = 0;  // rows crossed by all the edges together
    double length = 0;   // the outline's length, in and out of the picture
    QPointF prev = dev.elementAt(0);
    for (int i = 1; i < n; ++i) {
        const QPointF cur = dev.elementAt(i);
        const double top = std::clamp(std::min(prev.y(), cur.y()), 0.0, double(image.height()));
        const double bottom = std::clamp(std::max(prev.y(), cur.y()), 0.0, double(image.height()));
        covered += bottom - top;
        length += std::abs(cur.x() - prev.x()) + std::abs(cur.y() - prev.y());
        prev = cur;
    }
    // Many edges on every scanline, or an outline far longer than the
    // picture's own (most of it running outside the picture, where the
    // rasterizer still walks it).
    return (n >= 32 && covered / image.height() > 16) || length > 64.0 * (image.width() + image.height());
}

bool heavyStroke(const QPainterPath& dev, const QPen& pen, QSize image) {
    if (heavyShape(dev, image)) return true;
    if (pen.isCosmetic() || pen.widthF() <= 1.5) return false;
    return heavyShape(QPainterPathStroker(pen).createStroke(dev), image);
}

namespace {
thread_local WorkBudget* enclosingBudget = nullptr;
}

WorkBudget::WorkBudget(QSize image) : image_(image), enclosing_(enclosingBudget) {
    // Sixty-four times the picture leaves every real picture whole; small
    // pictures get at least 2.5 x 10^8 pixels, and no picture more than
    // 4 x 10^8, which Qt fills in a quarter of a second.
    const double area = double(std::max(0, image.width())) * std::max(0, image.height());
    limit_ = std::clamp(64.0 * area, 2.5e8, 4.0e8);
}

bool WorkBudget::spend(double pixels) {
    pixels = std::max(0.0, pixels);
    used_ += pixels;
    if (!(used_ <= limit_)) exhausted_ = true;
    if (enclosing_ && !enclosing_->spend(pixels)) exhausted_ = true;
    return !exhausted_;
}

NestedPicture::NestedPicture(WorkBudget& enclosing) : previous_(enclosingBudget) { enclosingBudget = &enclosing; }

NestedPicture::~NestedPicture() { enclosingBudget = previous_; }

bool NestedPicture::inside() { return enclosingBudget != nullptr; }

double NestedPicture::areaCap() { return inside() ? MaxNestedArea : MaxPictureArea; }

double WorkBudget::onImage(const QRectF& r) const {
    const QRectF visible = r.normalized().intersected(QRectF(QPointF(0, 0), QSizeF(image_)));
    return visible.isEmpty() ? 0.0 : visible.width() * visible.height();
}

QPainter::CompositionMode rop2Mode(quint32 rop2, bool* drawNothing) {
    if (drawNothing) *drawNothing = (rop2 == 11);  // R2_NOP
    // The picture is drawn onto a transparent image, not onto what the window
    // shows, so the raster operations that combine with the destination have
    // nothing to combine with: they are drawn as a plain copy of the pen.
    return QPainter::CompositionMode_SourceOver;
}

}  // namespace metafile
