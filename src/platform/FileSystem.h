#pragma once
#include <QByteArray>
#include <QString>

// The existence test for media files: the name of the ordinary file the path
// names, or an empty string when there is none. Folders and hidden files do
// not count. Wildcards (* and ?) in the last part match as a listing would.
// A path the file system cannot take (a NUL character, an over-long name)
// raises RuntimeError 52.
QString Dir(const QString& path);

// A path that went through code page 932 and back can come back with other
// characters than the file's real name: 〜 (U+301C) returns as ～ (U+FF5E), and
// ‖ − ¢ £ ¬ — likewise. When `path` names nothing, this finds the entry on
// disk whose name has the same CP932 bytes, one path component at a time, and
// returns its path. Otherwise (it exists, or nothing matches) `path` is
// returned unchanged.
QString resolveCodePagePath(const QString& path);

// What readOrdinaryFile does with a file longer than its limit.
enum class Oversize { Refuse, ReadHead };

// Reads an ordinary file without ever blocking: the path is opened
// non-blocking and checked on the open descriptor, so a FIFO, a device or a
// socket is never read (a FIFO without a writer would block the open, a
// device like /dev/zero never ends). Reads at most `limit` bytes into
// `bytes`. Returns 0, or an errno value: EISDIR for a folder, ENODEV for
// anything else that is not an ordinary file, EFBIG for a file longer than
// `limit` under Oversize::Refuse (nothing is read), or what open or read gave.
int readOrdinaryFile(const QString& path, qint64 limit, Oversize oversize, QByteArray& bytes);
