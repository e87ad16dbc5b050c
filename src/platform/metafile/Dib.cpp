#include "platform/metafile/Dib.h"

namespace metafile {
QImage decodeDib(const uchar*, qsizetype, const uchar*, qsizetype) { return {}; }
QImage decodePackedDib(const uchar*, qsizetype) { return {}; }
}
