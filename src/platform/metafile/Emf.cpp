#include "platform/metafile/Emf.h"

namespace metafile {
QImage renderEmf(const QByteArray&, QString* error) {
    if (error) *error = QStringLiteral("EMF player not available");
    return {};
}
}
