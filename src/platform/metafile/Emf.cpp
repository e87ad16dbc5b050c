#include "platform/metafile/Emf.h"

#include "platform/Picture.h"
#include "platform/metafile/EmfPlayer.h"
#include "platform/metafile/Metafile.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

QImage fail(QString* error, const char* why) {
    if (error) *error = QString::fromLatin1(why);
    return {};
}

}  // namespace

QImage renderEmf(const QByteArray& data, QString* error, double zoom) {
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype n = data.size();
    if (n < 88) return fail(error, "EMF header truncated");
    const emf::Record header(p, quint32(std::min<qsizetype>(n, 0x7FFFFFFF)), 1);
    const quint32 headerSize = header.u32(4);
    if (header.u32(0) != 1 || headerSize < 88 || headerSize % 4 != 0 || headerSize > quint64(n))
        return fail(error, "EMF header size invalid");
    if (header.u32(40) != 0x464D4520u) return fail(error, "not an EMF");

    const double bl = header.i32(8), bt = header.i32(12), br = header.i32(16), bb = header.i32(20);
    const double fl = header.i32(24), ft = header.i32(28), fr = header.i32(32), fb = header.i32(36);
    const double devW = header.i32(72), devH = header.i32(76);
    const double mmW = header.i32(80), mmH = header.i32(84);

    // The reference device: szlDevice pixels cover szlMillimeters. A header
    // without a usable one is taken as a 96 dpi screen.
    constexpr double ScreenPerMm = 96.0 / 25.4;
    auto perMm = [](double dev, double mm) {
        const double v = (dev > 0 && mm > 0) ? dev / mm : ScreenPerMm;
        return std::clamp(v, 0.01, 10000.0);
    };
    const QSizeF devPerMm(perMm(devW, mmW), perMm(devH, mmH));

    // Natural size at 96 dpi and the mapping of device pixels onto the image.
    double width, height;
    QTransform deviceToImage;
    if (fr > fl && fb > ft) {
        // rclFrame, in hundredths of a millimetre.
        constexpr double PxPerHundredthMm = 96.0 / 2540.0;
        width = (fr - fl) * PxPerHundredthMm;
        height = (fb - ft) * PxPerHundredthMm;
        const double sx = 100.0 / devPerMm.width() * PxPerHundredthMm;
        const double sy = 100.0 / devPerMm.height() * PxPerHundredthMm;
        deviceToImage = QTransform(sx, 0, 0, sy, -fl * PxPerHundredthMm, -ft * PxPerHundredthMm);
    } else if (br >= bl && bb >= bt) {
        // rclBounds, inclusive, in device pixels.
        const double sx = ScreenPerMm / devPerMm.width();
        const double sy = ScreenPerMm / devPerMm.height();
        width = (br - bl + 1) * sx;
        height = (bb - bt + 1) * sy;
        deviceToImage = QTransform(sx, 0, 0, sy, -bl * sx, -bt * sy);
    } else {
        return fail(error, "EMF has no usable frame or bounds");
    }

    // Zoomed, and anything past the largest picture side scaled down to fit.
    const double largest = std::max(width, height);
    if (zoom != 1.0 || largest * zoom > MaxPictureSide) {
        const double s = largest * zoom > MaxPictureSide ? MaxPictureSide / largest : zoom;
        width *= s;
        height *= s;
        deviceToImage = deviceToImage * QTransform::fromScale(s, s);
    }
    if (width * height > NestedPicture::areaCap()) {
        const double s = std::sqrt(NestedPicture::areaCap() / (width * height));
        width *= s;
        height *= s;
        deviceToImage = deviceToImage * QTransform::fromScale(s, s);
    }
    const int w = std::clamp(int(std::lround(width)), 1, MaxPictureSide);
    const int h = std::clamp(int(std::lround(height)), 1, MaxPictureSide);

    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return fail(error, "out of memory");
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        emf::Player player(painter, deviceToImage, QSize(w, h), devPerMm, header.u16(56));
        if (emf::drawsWithEmfPlusOnly(p, n, headerSize)) player.playEmfPlus();
        // A record whose size is wrong ends playback: what was drawn so far stays.
        player.play(p, n, headerSize);
        player.finish();
    }
    return image;
}

}  // namespace metafile
