#pragma once
// Our own player for Windows metafiles (WMF, with or without the placeable
// header, and EMF): records parsed with every length checked, drawn with
// QPainter at the picture's natural size at 96 dpi on a transparent background.
#include <QByteArray>
#include <QImage>
#include <QString>

namespace metafile {

enum class Kind { None, Wmf, PlaceableWmf, Emf };

// Recognises a metafile by its content, never by the file's extension.
Kind detect(const QByteArray& data);

// Renders the metafile at `zoom` times its natural size (the picture size
// cap still holds). On failure returns a null image and, when `error` is
// given, a one-line reason.
constexpr double MaxZoom = 64;
// Besides its sides (MaxPictureSide), a picture's area is capped, scaling the
// whole picture down: what drawing costs grows with the area, and a window
// shows only the top-left corner of a picture that large anyway.
constexpr double MaxPictureArea = 4096.0 * 4096.0;
QImage render(const QByteArray& data, QString* error = nullptr, double zoom = 1.0);

}  // namespace metafile
