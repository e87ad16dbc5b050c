#pragma once
// The EMF+ records that ride in an EMF's comments, for the pictures drawn
// with them alone (a picture that also carries the plain drawing is played
// from that instead: never both). World, page and device coordinates as the
// records give them; the device is the EMF's reference device.
#include "platform/metafile/Clip.h"
#include "platform/metafile/Gdi.h"

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QTransform>

#include <array>
#include <optional>
#include <vector>

namespace metafile::emf {

// True when the records from `offset` on draw with EMF+ alone: there are
// EMF+ records, and every plain drawing record follows an EMF+ GetDC, which
// hands drawing over to the plain records until the next EMF+ record.
bool drawsWithEmfPlusOnly(const uchar* data, qsizetype size, qsizetype offset);

class PlusPlayer {
public:
    // `budget` is the picture's, shared with the plain records.
    PlusPlayer(QPainter& painter, const QTransform& deviceToImage, QSize imageSize, WorkBudget& budget);

    // Plays the records of one comment (the bytes after the "EMF+" signature).
    void play(const uchar* data, qsizetype size);
    // Whether the last record was a GetDC: the plain records that follow draw.
    bool handedOver() const { return handedOver_; }

    struct Object {
        enum Kind { None, BrushKind, PenKind, PathKind, ImageKind, FontKind, FormatKind, RegionKind, AttributesKind };
        Kind kind = None;
        QBrush brush;
        QPen pen;
        QPainterPath path;
        QImage image;
        // A metafile image: drawn whole into the source rectangle, whose
        // units are the picture's own and not our pixels.
        bool wholeImage = false;
        QFont font;
        double emSize = 0;  // in emUnit (0: world units)
        quint32 emUnit = 0;
        // String format: near, centre, far; its flags; the space left before
        // and after the text, in ems (a sixth of one unless the format says).
        int align = 0, lineAlign = 0;
        quint32 formatFlags = 0;
        double leadingMargin = 1.0 / 6, trailingMargin = 1.0 / 6;
        int wrap = -1;  // image attributes: 0..3 tile (plainly or flipped), 4 clamp
    };

private:
    void record(quint16 type, quint16 flags, const uchar* data, quint32 size);
    void objectRecord(quint16 flags, const uchar* data, quint32 size);
    QTransform worldToImage() const;
    double unitToDevice(quint32 unit) const;
    double emInWorld(const Object& font) const;
    void prepare();
    // The brush a record names (a colour or a brush object); false when there
    // is none, or when it draws nothing.
    bool brushFor(quint16 flags, quint32 id, QBrush* out) const;
    const Object* object(quint32 id, Object::Kind kind) const;
    void fill(const QPainterPath& world, const QBrush& brush);
    void stroke(const QPainterPath& world, quint32 penId);
    void drawString(quint16 flags, const uchar* data, quint32 size);
    void drawDriverString(quint16 flags, const uchar* data, quint32 size);
    void drawImage(const QImage& image, bool whole, const QRectF& source, const QTransform& placeSource);
    void setClip(const QPainterPath& world, int mode);

    QPainter& painter_;
    QTransform deviceToImage_;
    QSize imageSize_;
    double dpiX_ = 96, dpiY_ = 96;
    QTransform world_;
    quint32 pageUnit_ = 2;  // pixels
    double pageScale_ = 1;
    Clip clip_;
    bool handedOver_ = false;
    std::array<Object, 64> objects_;
    // An object split over several records, gathered until complete.
    std::vector<uchar> pending_;
    int pendingId_ = -1;
    quint32 pendingTotal_ = 0;
    struct Saved {
        quint32 index;
        QTransform world;
        Clip clip;
    };
    std::vector<Saved> saved_;
    WorkBudget& budget_;
};

}  // namespace metafile::emf
