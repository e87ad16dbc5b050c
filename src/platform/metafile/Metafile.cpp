#include "platform/metafile/Metafile.h"

#include "platform/metafile/Emf.h"
#include "platform/metafile/Wmf.h"

#include <QtEndian>

namespace metafile {

Kind detect(const QByteArray& data) {
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const auto n = data.size();
    if (n >= 22 && qFromLittleEndian<quint32>(p) == 0x9AC6CDD7u) return Kind::PlaceableWmf;
    // EMF: EMR_HEADER (type 1) with " EMF" at offset 40.
    if (n >= 88 && qFromLittleEndian<quint32>(p) == 1 && qFromLittleEndian<quint32>(p + 40) == 0x464D4520u)
        return Kind::Emf;
    // Standard WMF header: type 1 (memory) or 2 (disk), header size 9 words,
    // version 0x0100 or 0x0300.
    if (n >= 18) {
        const quint16 type = qFromLittleEndian<quint16>(p);
        const quint16 headerWords = qFromLittleEndian<quint16>(p + 2);
        const quint16 version = qFromLittleEndian<quint16>(p + 4);
        if ((type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300))
            return Kind::Wmf;
    }
    return Kind::None;
}

QImage render(const QByteArray& data, QString* error, double zoom) {
    if (!(zoom > 0 && zoom <= MaxZoom)) {
        if (error) *error = QStringLiteral("zoom out of range");
        return {};
    }
    switch (detect(data)) {
    case Kind::Wmf:
    case Kind::PlaceableWmf:
        return renderWmf(data, error, zoom);
    case Kind::Emf:
        return renderEmf(data, error, zoom);
    case Kind::None:
        break;
    }
    if (error) *error = QStringLiteral("not a metafile");
    return {};
}

}  // namespace metafile
