#include "platform/metafile/Fonts.h"

namespace metafile {
QString substituteFace(const QString& windowsFace) { return windowsFace; }
QString decodeText(const QByteArray& bytes, quint8, const QString&) { return QString::fromLatin1(bytes); }
QString mapSymbolText(const QString& text, const QString&) { return text; }
}
