#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>

namespace metafile {
// Plays an EMF at `zoom` times its natural size.
QImage renderEmf(const QByteArray& data, QString* error, double zoom);
}
