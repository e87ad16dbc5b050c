#pragma once
// Picture loading for the windows: BMP, JPEG, GIF and whatever else Qt reads,
// plus WMF and EMF through our own metafile player.
#include <QImage>
#include <QString>

// Largest width or height accepted for a picture, in pixels. Pictures are
// drawn at their natural size, so anything larger is not a button image.
constexpr int MaxPictureSide = 8192;
// Largest picture file read, in bytes: as much as Qt's image readers will
// decode into memory. A larger file is not read at all.
constexpr qint64 MaxPictureFileBytes = 256LL * 1024 * 1024;

// An empty path gives the empty picture (a null image). A path that is not a
// readable picture raises RuntimeError (481, invalid picture; 53, file not found):
// a FIFO, a device, a file over MaxPictureFileBytes, and a JPEG the decoder
// reports cut off or damaged are invalid pictures.
QImage LoadPicture(const QString& path);
