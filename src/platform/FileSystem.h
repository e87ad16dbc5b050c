#pragma once
#include <QString>

// The existence test for media files: the name of the ordinary file the path
// names, or an empty string when there is none. Folders and hidden files do
// not count. Wildcards (* and ?) in the last part match as a listing would.
// A path the file system cannot take (a NUL character, an over-long name)
// raises RuntimeError 52.
QString Dir(const QString& path);
