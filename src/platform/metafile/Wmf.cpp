#include "platform/metafile/Wmf.h"

namespace metafile {
QImage renderWmf(const QByteArray&, QString* error) {
    if (error) *error = QStringLiteral("WMF player not available");
    return {};
}
}
