#include "platform/FileSystem.h"

#include "platform/CodePage932.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <climits>

QString Dir(const QString& path) {
    if (path.isEmpty()) return {};
    if (path.contains(QChar(0)) || path.toUtf8().size() >= PATH_MAX)
        throw RuntimeError(ErrorNumber::BadFileNameOrNumber, "ファイル名または番号が不正です。");

    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        const QStringList found = info.dir().entryList({name}, QDir::Files, QDir::Name);
        return found.isEmpty() ? QString() : found.first();
    }
    if (!info.isFile() || info.isHidden()) return {};
    return name;
}

namespace {

// The entry of `folder` whose name has the same CP932 bytes as `name`, or an
// empty string.
QString sameBytesEntry(const QString& folder, const QString& name) {
    // Only a name with characters beyond ASCII can have come back changed.
    if (std::all_of(name.begin(), name.end(), [](QChar ch) { return ch.unicode() < 0x80; })) return {};
    const QByteArray wanted = cp932::fromUnicode(name);
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                       QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
        if (cp932::fromUnicodeExact(entry) == wanted) return entry;
    return {};
}

}  // namespace

QString resolveCodePagePath(const QString& path) {
    if (path.isEmpty() || QFileInfo::exists(path)) return path;
    const bool absolute = path.startsWith(QLatin1Char('/'));
    QString resolved = absolute ? QStringLiteral("/") : QString();
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        QString next = resolved + part;
        if (!QFileInfo::exists(next)) {
            const QString entry = sameBytesEntry(resolved.isEmpty() ? QStringLiteral(".") : resolved, part);
            if (entry.isEmpty()) return path;
            next = resolved + entry;
        }
        resolved = next + QLatin1Char('/');
    }
    resolved.chop(1);
    return resolved;
}
