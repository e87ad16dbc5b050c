#pragma once
// Plays the records of an EMF onto a QPainter: the device context (map mode,
// world transform, clipping, selected objects), the object table and the
// path bracket. Emf.cpp works out the picture's size and hands us the
// mapping from the reference device's pixels onto the image.
#include "platform/metafile/Clip.h"
#include "platform/metafile/EmfPlus.h"
#include "platform/metafile/EmfRecord.h"
#include "platform/metafile/Fonts.h"
#include "platform/metafile/Gdi.h"
#include "platform/metafile/ShapedText.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace metafile::emf {

struct Pen {
    bool null = false;
    QColor color = Qt::black;
    double width = 0;  // logical units; 0 draws one pixel wide
    bool cosmetic = true;
    Qt::PenStyle style = Qt::SolidLine;
    Qt::PenCapStyle cap = Qt::RoundCap;
    Qt::PenJoinStyle join = Qt::RoundJoin;
    QList<qreal> dashes;  // PS_USERSTYLE lengths, logical units
};

struct Brush {
    enum Style { Solid, Null, Hatched, Pattern };
    Style style = Solid;
    QColor color = Qt::white;
    quint32 hatch = 0;
    QImage pattern;
    // A pattern whose colour table indexes the logical palette
    // (DIB_PAL_COLORS) is kept as its BITMAPINFO and bits, and coloured from
    // the palette of the device context it fills in.
    QByteArray paletteDib;
    qsizetype paletteDibInfo = 0;
};

using Font = LogFont;

struct Object {
    enum Kind { PenObject, BrushObject, FontObject, PaletteObject, OtherObject };
    Kind kind = OtherObject;
    Pen pen;
    Brush brush;
    Font font;
    QList<QRgb> palette;  // PaletteObject: its entries
};
using ObjectRef = std::shared_ptr<const Object>;

struct DcState {
    int mapMode = 1;  // MM_TEXT
    QPointF windowOrg, viewportOrg;
    QSizeF windowExt{1, 1}, viewportExt{1, 1};
    QTransform world;
    ObjectRef pen, brush, font, palette;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    int bkMode = 2;  // OPAQUE
    int polyFillMode = 1;  // ALTERNATE
    quint32 textAlign = 0;
    int rop2 = 13;  // R2_COPYPEN
    int arcDirection = 1;  // counter-clockwise
    double miterLimit = 10;
    QPointF current;  // current position, logical
    Clip clip;  // image pixels
};

// Saved device contexts beyond this depth are not kept: a file that nests
// deeper is broken and must not make the stack grow without bound.
constexpr int MaxSaveDepth = 1024;

class Player {
public:
    // `deviceToImage` maps the reference device's pixels onto the image;
    // `devicePixelsPerMm` is the reference device's resolution.
    Player(QPainter& painter, const QTransform& deviceToImage, QSize imageSize, QSizeF devicePixelsPerMm,
           quint32 handleCount);

    // Plays records from `offset` until EMR_EOF or the end of the data.
    // Returns false when a record's size was invalid and playback stopped early.
    bool play(const uchar* data, qsizetype size, qsizetype offset);

    // Settles what raster operations left; call once playback is over.
    void finish();

    int skippedEmfPlusComments() const { return emfPlusComments_; }
    // Draws the EMF+ records instead of the plain ones (drawsWithEmfPlusOnly).
    void playEmfPlus() { plus_ = std::make_unique<PlusPlayer>(painter_, deviceToImage_, imageSize_, budget_); }

private:
    void record(const Record& r);

    // Transforms.
    QTransform pageToDevice() const;
    QTransform logicalToImage() const;
    double imageScale() const;  // image pixels per logical unit (geometric mean)
    bool flipped() const;

    // Objects.
    void createPen(const Record& r);
    void extCreatePen(const Record& r);
    void createBrush(const Record& r);
    void createDibPatternBrush(const Record& r);
    void createFont(const Record& r);
    void selectObject(quint32 index);
    void paletteRecord(const Record& r);
    // The brush's pattern, coloured from the current palette when it indexes one.
    QImage patternOf(const Brush& b) const;
    void deleteObject(quint32 index);
    void storeObject(quint32 index, Object obj);
    QPen currentPen() const;
    bool hasPen() const;
    bool hasBrush() const;

    // Drawing.
    void drawShape(const QPainterPath& logical, bool fill, bool stroke);
    void fillImagePath(const QPainterPath& imagePath, const Brush& brush);
    void strokeImagePath(const QPainterPath& imagePath);
    void polyRecord(const Record& r, bool shortPoints, int kind);
    void polyDraw(const Record& r, bool shortPoints);
    void polyPolyRecord(const Record& r, bool shortPoints, bool polygon);
    void arcRecord(const Record& r, int kind);
    QPainterPath arcPath(const QRectF& box, QPointF start, QPointF end, bool moveToStart, QPointF* startPoint,
                         QPointF* endPoint) const;
    void appendToPath(const QPainterPath& logical, bool connect);
    void lineToPath(QPointF logical);

    // Clipping (EmfClip.cpp).
    void clipRecord(const Record& r);
    void applyClip() { dc_.clip.apply(painter_); }
    QRegion regionFromData(const Record& r, quint32 offset, quint32 bytes) const;
    QRegion imageRegion(const QPainterPath& imagePath) const;

    // Bitmaps.
    void bitmapRecord(const Record& r);
    void drawBitmap(const QImage& image, const QRectF& dest, const QRectF& source, quint32 rop, int alpha,
                    const QImage* mask = nullptr, QPointF maskAt = {});
    static QImage withSourceAlpha(const Record& r, quint32 offBmi, quint32 offBits, const QImage& decoded);
    // What a raster operation works on: the outline it covers (image pixels)
    // and, for bitmaps, the source rectangle with its placement and a mask.
    struct Blit {
        QPainterPath shape;
        const QImage* image = nullptr;
        QRectF source;
        QTransform toImage;
        bool smooth = false;
        const QImage* mask = nullptr;
        QPointF maskAt;
    };
    void blit(const Blit& b, quint8 code, quint8 backCode);
    void plgBlt(const Record& r);
    // `usage` 1 (DIB_PAL_COLORS): the colour table indexes the current palette.
    QImage dibAt(const Record& r, quint32 offBmi, quint32 cbBmi, quint32 offBits, quint32 cbBits,
                 quint32 usage = 0) const;

    // Text (EmfText.cpp).
    void textRecord(const Record& r, bool wide);
    void polyTextRecord(const Record& r, bool wide);
    void emrText(const Record& r, quint32 at, bool wide);
    void smallTextRecord(const Record& r);
    // `glyphs`, when given, are glyph numbers of the font to draw instead of `text`.
    void drawText(QPointF reference, const QString& text, const std::vector<double>& dx, quint32 options,
                  const QRectF& clipRect, const std::vector<quint32>& glyphs = {});
    QFont qtFont(const Font& f, double pixelSize) const;

    void gradientFill(const Record& r);
    void shadeTriangle(const std::array<QPointF, 3>& corners, const QColor* colors);
    void regionRecord(const Record& r);

    QPainter& painter_;
    QTransform deviceToImage_;
    // logicalToImage(), asked for at every shape, kept until a record changes
    // the mapping (see the top of record()).
    mutable std::optional<QTransform> toImage_;
    QSize imageSize_;
    QSizeF devPerMm_;
    DcState dc_;
    std::vector<DcState> saved_;
    std::vector<ObjectRef> objects_;
    ObjectRef stock_[20];
    bool inPath_ = false;
    bool figureOpen_ = false;
    QPainterPath path_;  // image coordinates
    int emfPlusComments_ = 0;
    std::unique_ptr<PlusPlayer> plus_;
    bool rasterOpsUsed_ = false;
    WorkBudget budget_;  // shared with the EMF+ records
    mutable QHash<QString, double> cellToEm_;  // face -> em height per cell height
    ShapedText shapedText_;  // characters drawn one at a time
};

}  // namespace metafile::emf
