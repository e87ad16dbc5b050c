#include "platform/FileSystem.h"

#include "platform/Errors.h"

#include <QDir>
#include <QFileInfo>

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
