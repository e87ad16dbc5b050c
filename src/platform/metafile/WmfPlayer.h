#pragma once
// Plays the records of a WMF onto a QPainter. Wmf.cpp reads the header, works
// out the picture's size and mapping, and dispatches the records; the record
// families live in WmfText.cpp, WmfObjects.cpp, WmfClip.cpp and WmfBitmap.cpp.
#include "platform/metafile/Clip.h"
#include "platform/metafile/Fonts.h"
#include "platform/metafile/Gdi.h"
#include "platform/metafile/ShapedText.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRegion>
#include <QString>
#include <QTransform>
#include <QtEndian>

#include <variant>
#include <vector>

namespace metafile::wmf {

constexpr quint32 kPlaceableKey = 0x9AC6CDD7u;
constexpr int kMaxSaveDepth = 64;
constexpr int kMaxObjects = 65535;

// Record functions this player knows.
enum Fn : quint16 {
    EofRecord = 0x0000,
    RealizePalette = 0x0035,
    SetPalEntries = 0x0037,
    SaveDC = 0x001E,
    CreatePalette = 0x00F7,
    SetBkMode = 0x0102,
    SetMapMode = 0x0103,
    SetROP2 = 0x0104,
    SetRelabs = 0x0105,
    SetPolyFillMode = 0x0106,
    SetStretchBltMode = 0x0107,
    SetTextCharExtra = 0x0108,
    RestoreDC = 0x0127,
    InvertRegion = 0x012A,
    PaintRegion = 0x012B,
    SelectClipRegion = 0x012C,
    SelectObject = 0x012D,
    SetTextAlign = 0x012E,
    ResizePalette = 0x0139,
    DibCreatePatternBrush = 0x0142,
    SetLayout = 0x0149,
    DeleteObject = 0x01F0,
    CreatePatternBrush = 0x01F9,
    SetBkColor = 0x0201,
    SetTextColor = 0x0209,
    SetTextJustification = 0x020A,
    SetWindowOrg = 0x020B,
    SetWindowExt = 0x020C,
    SetViewportOrg = 0x020D,
    SetViewportExt = 0x020E,
    OffsetWindowOrg = 0x020F,
    OffsetViewportOrg = 0x0211,
    LineTo = 0x0213,
    MoveTo = 0x0214,
    OffsetClipRgn = 0x0220,
    FillRegion = 0x0228,
    SetMapperFlags = 0x0231,
    SelectPalette = 0x0234,
    CreatePenIndirect = 0x02FA,
    CreateFontIndirect = 0x02FB,
    CreateBrushIndirect = 0x02FC,
    Polygon = 0x0324,
    Polyline = 0x0325,
    ScaleWindowExt = 0x0410,
    ScaleViewportExt = 0x0412,
    ExcludeClipRect = 0x0415,
    IntersectClipRect = 0x0416,
    Ellipse = 0x0418,
    FloodFill = 0x0419,
    Rectangle = 0x041B,
    SetPixel = 0x041F,
    FrameRegion = 0x0429,
    AnimatePalette = 0x0436,
    TextOut = 0x0521,
    PolyPolygon = 0x0538,
    ExtFloodFill = 0x0548,
    RoundRect = 0x061C,
    PatBlt = 0x061D,
    Escape = 0x0626,
    CreateRegion = 0x06FF,
    Arc = 0x0817,
    Pie = 0x081A,
    Chord = 0x0830,
    BitBlt = 0x0922,
    DibBitBlt = 0x0940,
    ExtTextOut = 0x0A32,
    StretchBlt = 0x0B23,
    DibStretchBlt = 0x0B41,
    SetDIBitsToDevice = 0x0D33,
    StretchDIB = 0x0F43,
};

// A bounds-checked view of one record's parameters.
class Params {
public:
    Params(const uchar* p, qsizetype n) : p_(p), n_(n) {}
    qsizetype size() const { return n_; }
    bool has(qsizetype bytes) const { return bytes <= n_; }
    qint16 s16(qsizetype at) const { return at + 2 <= n_ ? qFromLittleEndian<qint16>(p_ + at) : 0; }
    quint16 u16(qsizetype at) const { return at + 2 <= n_ ? qFromLittleEndian<quint16>(p_ + at) : 0; }
    quint32 u32(qsizetype at) const { return at + 4 <= n_ ? qFromLittleEndian<quint32>(p_ + at) : 0; }
    quint8 u8(qsizetype at) const { return at < n_ ? p_[at] : 0; }
    const uchar* at(qsizetype offset) const { return p_ + offset; }

private:
    const uchar* p_;
    qsizetype n_;
};

struct PenObj {
    quint16 style = 0;
    qint16 width = 0;
    QColor color = Qt::black;
};
struct BrushObj {
    enum Kind { Solid, Null, Hatched, Pattern } kind = Solid;
    QColor color = Qt::white;
    quint16 hatch = 0;
    QImage pattern;
    bool monoPattern = false;  // a 1-bit bitmap that takes the text and background colours
};
struct FontObj : LogFont {
    QString family;  // the installed face drawn with
};
struct RegionObj {
    QRegion region;  // logical coordinates
};
struct PaletteObj {
    std::vector<QRgb> entries;
};
using Object = std::variant<std::monostate, PenObj, BrushObj, FontObj, RegionObj, PaletteObj>;

struct DcState {
    // Mapping.
    int mapMode = 1;
    QPointF windowOrg{0, 0};
    QSizeF windowExt{1, 1};
    QPointF viewportOrg{0, 0};
    QSizeF viewportExt{1, 1};
    // Drawing attributes.
    PenObj pen;
    BrushObj brush;
    FontObj font;
    bool hasFont = false;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    int bkMode = 2;  // OPAQUE
    int polyFillMode = 1;  // ALTERNATE
    int rop2 = 13;  // R2_COPYPEN
    quint16 textAlign = 0;
    int charExtra = 0;
    QPointF cp{0, 0};
    Clip clip;  // device pixels
};

class Player {
public:
    Player(const uchar* data, qsizetype size) : d_(data), n_(size) {}

    bool parseHeader(QString* error);
    QImage render(QString* error, double zoom);

private:
    // Record loop: calls play() for every record whose length checks out.
    void playAll();
    void play(quint16 fn, const Params& p);
    // Record families, each in a file of its own.
    void textRecord(quint16 fn, const Params& p);    // WmfText.cpp
    void objectRecord(quint16 fn, const Params& p);  // WmfObjects.cpp
    void clipRecord(quint16 fn, const Params& p);    // WmfClip.cpp
    void bitmapRecord(quint16 fn, const Params& p);  // WmfBitmap.cpp

    // Mapping.
    QTransform mapping() const;
    void mappingChanged() { transformDirty_ = true; }
    QPointF toDevice(const QPointF& pt) const { return mapping().map(pt); }
    double scaleX() const;
    double scaleY() const;

    // Drawing primitives; in measuring mode they only grow the bounds.
    void preparePainter();
    void fillAndStroke(const QPainterPath& path, bool fill);
    void strokeOnly(const QPainterPath& path);
    void fillWithBrush(const QPainterPath& path, const BrushObj& brush);
    void addBounds(const QRectF& deviceRect);
    void drawText(QPointF pos, const QByteArray& bytes, const std::vector<qint16>& dx, quint16 options,
                  const QRectF* rect);
    void drawBitmap(const QImage& image, QRectF src, const QRectF& dest, quint32 rop);
    void patBlt(const QRectF& rect, quint32 rop);
    void rasterOp(const QRectF& target, const QImage* source, bool smooth, quint8 code);
    bool rasterOpsUsed_ = false;  // the page needs settling once drawn
    QPen currentPen() const;
    QBrush qtBrush(const BrushObj& b) const;
    QFont qtFont(double* ascent, double* descent);
    void applyClip();
    void combineClip(const QRegion& region, int mode);
    QRegion deviceRegion(const QRectF& logical) const;
    QRegion deviceRegion(const QRegion& logical) const;

    void createObject(Object obj);
    // A COLORREF, looking PALETTEINDEX colours up in the selected palette.
    QColor color(const Params& p, qsizetype at) const;
    QImage readBitmap16(const Params& p, qsizetype at) const;

    const uchar* d_;
    qsizetype n_;
    qsizetype firstRecord_ = 0;
    bool placeable_ = false;
    QRectF bbox_;
    int inch_ = 1440;

    QSize size_;
    QPainter* painter_ = nullptr;
    bool measuring_ = false;
    QRectF bounds_;
    QTransform extra_;  // device adjustment after the mapping (measuring, capping)

    DcState dc_;
    std::vector<QRgb> palette_;
    std::vector<DcState> saved_;
    int unsavedDepth_ = 0;  // SaveDC calls past the depth limit
    std::vector<Object> objects_;
    size_t freeSlot_ = 0;  // no free slot below this one
    // What drawing has cost so far; set up once the picture's size is known.
    WorkBudget budget_;
    bool spend(double pixels) { return budget_.spend(pixels); }
    double onImage(const QRectF& deviceRect) const { return budget_.onImage(deviceRect); }
    mutable bool transformDirty_ = true;
    bool clipDirty_ = true;
    mutable QTransform cached_;
    ShapedText shapedText_;
};

inline QRectF rectFromLTRB(double l, double t, double r, double b) { return QRectF(QPointF(l, t), QPointF(r, b)); }

}  // namespace metafile::wmf
