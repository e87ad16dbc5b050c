#include "phones/QrCode.h"

#include <qrencode.h>

#include <algorithm>
#include <memory>

namespace phones {

QImage qrCode(const QString& text, int scale) {
    const QByteArray utf8 = text.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code || scale < 1) return {};
    constexpr int QuietZone = 4;
    const int side = (code->width + 2 * QuietZone) * scale;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x) {
            // Bit 0 of each byte says whether the module is dark.
            if (!(code->data[y * code->width + x] & 1)) continue;
            for (int dy = 0; dy < scale; ++dy) {
                uchar* line = image.scanLine((y + QuietZone) * scale + dy);
                std::fill_n(line + (x + QuietZone) * scale, scale, uchar(0));
            }
        }
    return image;
}

}  // namespace phones
