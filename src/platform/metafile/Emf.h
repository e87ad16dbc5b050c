#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>

namespace metafile {
// Plays an EMF at its natural size.
QImage renderEmf(const QByteArray& data, QString* error);
}
