#pragma once
// GDI values shared by the WMF and EMF players.
#include <QBrush>
#include <QColor>
#include <QtGlobal>

namespace metafile {
// COLORREF 0x00BBGGRR.
QColor colorRef(quint32 cr);
// HS_HORIZONTAL .. HS_DIAGCROSS (0..5) in the given colour; other values give a solid brush.
QBrush hatchBrush(quint32 hatchStyle, const QColor& color);
// PS_SOLID .. PS_NULL (the low four bits of a GDI pen style).
Qt::PenStyle penStyle(quint32 gdiPenStyle);
}
