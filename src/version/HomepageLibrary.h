#pragma once
// The homepage address, asked of libKovhpurl.so each time it is needed. The
// library is loaded only then: the program starts and runs without it, and a
// library put in place later is found by the next request.
#include <QString>
#include <QStringList>

namespace HomepageLibrary {

// The library's file name, as error descriptions name it.
inline constexpr char FileName[] = "libKovhpurl.so";

// Where the library is looked for, in order: beside the executable, then by
// name on the system's library path (LD_LIBRARY_PATH, the run path, ld.so's
// cache).
QStringList searchOrder();

// Loads the library from the first place in `places` that holds a loadable
// one, calls GetHP_URL and returns the address, converted from code page 932.
// Raises RuntimeError when no library loads, when it lacks GetHP_URL or
// FreeHP_URL, or when it produces no address.
QString GetHP_URL(const QStringList& places = searchOrder());

}  // namespace HomepageLibrary
