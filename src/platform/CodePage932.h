#pragma once
// Conversion between the program's text and Windows code page 932, done by
// glibc's iconv "CP932" (never "SHIFT_JIS": 0x5C must stay a backslash and the
// NEC/IBM extension characters must map as Windows maps them).
#include <QByteArray>
#include <QString>

namespace cp932 {
// Characters CP932 cannot hold become '?', as the Windows conversion does.
QByteArray fromUnicode(const QString& text);
// Invalid byte sequences become U+FFFD.
QString toUnicode(const QByteArray& bytes);
}
