#include "platform/FileSystem.h"

#include "platform/CodePage932.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

int readOrdinaryFile(const QString& path, qint64 limit, Oversize oversize, QByteArray& bytes) {
    bytes.clear();
    if (path.isEmpty()) return ENOENT;
    if (path.contains(QChar(0))) return ENOENT;
    int fd;
    do fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno == ENXIO ? ENODEV : errno;  // ENXIO: a socket or a device without its driver
    const auto done = [fd](int result) {
        ::close(fd);
        return result;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return done(errno);
    if (S_ISDIR(st.st_mode)) return done(EISDIR);
    if (!S_ISREG(st.st_mode)) return done(ENODEV);
    if (oversize == Oversize::Refuse && st.st_size > limit) return done(EFBIG);
    // The size on disk is only a hint (a file may grow while it is read):
    // read to the end, never past the limit.
    bytes.resize(qsizetype(std::min<qint64>(std::max<qint64>(st.st_size, 0), limit)));
    qint64 got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got == limit) break;
            bytes.resize(qsizetype(std::min<qint64>(got + 64 * 1024, limit)));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done(errno);
        if (n == 0) break;
        got += n;
    }
    if (got == limit && oversize == Oversize::Refuse) {
        char extra;
        if (::read(fd, &extra, 1) > 0) return done(EFBIG);
    }
    bytes.resize(qsizetype(got));
    return done(0);
}
