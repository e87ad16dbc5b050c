#pragma once
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
