#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>

namespace metafile {
// Plays a WMF (standard or placeable) at `zoom` times its natural size.
QImage renderWmf(const QByteArray& data, QString* error, double zoom);
}
