#include "datafile/DataFile.h"

#include "datafile/SettingsRecord.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(int err) { throw DataFileError(err, dataFileReason(err)); }

// The errno left by a failed Qt file call, or `fallback` when Qt cleared it.
int lastError(int fallback) { return errno != 0 ? errno : fallback; }

// Writes all of `bytes` at the start of an open descriptor.
bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// The write the format was made for: the record over the first bytes of the
// file, nothing truncated. Used where a rename cannot or must not be done.
void writeInPlace(const QByteArray& native, const QByteArray& record) {
    // Non-blocking open: a FIFO without a reader fails at once instead of
    // hanging. An existing file is opened without O_CREAT: a kernel that
    // protects regular files in sticky shared folders refuses O_CREAT on
    // another user's file there even when it may be written.
    int fd;
    do fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ENOENT) {
        do fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
        while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) {
        const int err = errno;
        // "No such file" from a folder that exists: a place that takes no new files (/proc).
        if (err == ENOENT && QFileInfo(QFile::decodeName(native)).dir().exists())
            throw DataFileError(err, QStringLiteral("この場所にはファイルを作れません。"));
        fail(err);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!writeAll(fd, record)) {
        const int err = errno;
        ::close(fd);
        fail(err);
    }
    if (::close(fd) != 0 && errno != EINTR) fail(errno);
}

// Copies the old file's bytes beyond the record into the new file.
bool copyTail(const QString& path, qint64 from, QSaveFile& out) {
    QFile old(path);
    if (!old.open(QIODevice::ReadOnly)) return false;
    if (old.size() <= from) return true;
    if (!old.seek(from)) return false;
    QByteArray chunk;
    while (!(chunk = old.read(64 * 1024)).isEmpty())
        if (out.write(chunk) != chunk.size()) return false;
    return old.error() == QFileDevice::NoError;
}

}  // namespace

QString dataFileReason(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR: return QStringLiteral("保存先のフォルダが見つかりません。");
    case EACCES:
    case EPERM: return QStringLiteral("アクセスが拒否されました。");
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return QStringLiteral("ディスクの空き容量が足りません。");
    case EROFS: return QStringLiteral("書き込み禁止のメディアです。");
    case EISDIR: return QStringLiteral("同じ名前のフォルダがあります。");
    case ENAMETOOLONG: return QStringLiteral("ファイル名が長すぎます。");
    case ENXIO: return QStringLiteral("書き込み先の装置が応答しません。");
    case ETXTBSY:
    case EBUSY: return QStringLiteral("ファイルが使用中です。");
    case EIO: return QStringLiteral("ディスクの読み書きに失敗しました。");
    default:
        return QStringLiteral("ファイルに書き込めませんでした（%1）。").arg(QString::fromLocal8Bit(std::strerror(err)));
    }
}

QString dataFileReadReason(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR: return QStringLiteral("ファイルが見つかりません。");
    case EISDIR: return QStringLiteral("フォルダはデータファイルではありません。");
    case ENODEV: return QStringLiteral("装置や名前付きパイプはデータファイルではありません。");
    case EACCES:
    case EPERM: return QStringLiteral("アクセスが拒否されました。");
    case ENAMETOOLONG: return QStringLiteral("ファイル名が長すぎます。");
    case EIO: return QStringLiteral("ディスクの読み書きに失敗しました。");
    default:
        return QStringLiteral("ファイルを読み込めませんでした（%1）。").arg(QString::fromLocal8Bit(std::strerror(err)));
    }
}

QByteArray readDataFile(const QString& path) {
    // No more than a record can hold: the bytes after it are never read.
    QByteArray bytes;
    if (const int err = readOrdinaryFile(path, MaxRecordSize, Oversize::ReadHead, bytes))
        throw DataFileError(err, dataFileReadReason(err));
    return bytes;
}

void writeDataFile(const QString& path, const QByteArray& record) {
    const QByteArray native = QFile::encodeName(path);
    if (path.isEmpty()) fail(ENOENT);
    struct stat st {};
    const bool exists = ::stat(native.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) fail(EISDIR);
    // Never rename over a device or FIFO: that would replace it with a file.
    if (exists && !S_ISREG(st.st_mode)) return writeInPlace(native, record);
    // A new file renamed over the old one would split a file with other hard
    // links from them, and give another user's file to the saver: such a
    // file keeps its identity only when written in place.
    if (exists && (st.st_nlink > 1 || st.st_uid != ::geteuid())) return writeInPlace(native, record);

    QSaveFile out(path);
    errno = 0;
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // No temporary file beside the target (a folder only the file in it
        // may be written, a file system without new files): write in place.
        // A real fault (a missing folder) fails there with its own reason.
        return writeInPlace(native, record);
    }
    errno = 0;
    bool ok = out.write(record) == record.size();
    if (ok && exists) ok = copyTail(path, record.size(), out);
    if (!ok) {
        const int err = lastError(EIO);
        out.cancelWriting();
        fail(err);
    }
    errno = 0;
    if (!out.commit()) {
        const int err = lastError(EIO);
        // The file may be written but not replaced: a sticky shared folder
        // (/tmp) lets only the owner of a file rename over it, and a file
        // mounted on its own cannot be renamed over at all. The temporary
        // file is gone; the old one is untouched and written in place.
        if (exists && (err == EPERM || err == EACCES || err == EBUSY || err == EXDEV))
            return writeInPlace(native, record);
        fail(err);
    }
}
