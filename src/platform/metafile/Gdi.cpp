#include "platform/metafile/Gdi.h"

namespace metafile {
QColor colorRef(quint32 cr) { return QColor(cr & 0xFF, (cr >> 8) & 0xFF, (cr >> 16) & 0xFF); }
QBrush hatchBrush(quint32, const QColor& color) { return QBrush(color); }
Qt::PenStyle penStyle(quint32) { return Qt::SolidLine; }
}
