#pragma once
// Device-independent bitmaps as both metafile formats carry them.
#include <QImage>
#include <QList>
#include <QtGlobal>

namespace metafile {
// `info` is a BITMAPINFO (a BITMAPCOREHEADER, BITMAPINFOHEADER or later
// header followed by its colour table), `bits` the pixel rows. Every size is
// checked against the two byte counts; a header that lies gives a null image.
// With `palette` the colour table is DIB_PAL_COLORS: 16-bit indices into that
// logical palette (an index past its end gives black).
QImage decodeDib(const uchar* info, qsizetype infoBytes, const uchar* bits, qsizetype bitsBytes,
                 const QList<QRgb>* palette = nullptr);
// A packed DIB: the BITMAPINFO immediately followed by the pixel rows.
QImage decodePackedDib(const uchar* data, qsizetype bytes);
}
