#pragma once
// The phones' address as a QR code, for the host panel.
#include <QImage>
#include <QString>

namespace phones {

// Black modules on white with the four-module quiet zone, each module
// `scale` pixels square; a null image when the text cannot be encoded.
QImage qrCode(const QString& text, int scale);

}  // namespace phones
