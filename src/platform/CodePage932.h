#pragma once
// Conversion between the program's text and Windows code page 932, done by
// glibc's iconv "CP932" (never "SHIFT_JIS": 0x5C must stay a backslash and the
// NEC/IBM extension characters must map as Windows maps them).
#include <QByteArray>
#include <QString>

#include <optional>

namespace cp932 {
// Characters CP932 cannot hold become '?', as the Windows conversion does
// (one '?' for each character: a surrogate pair or a lone surrogate alike).
QByteArray fromUnicode(const QString& text);
// The CP932 bytes of `text`, or nothing when some character has no CP932
// form. Characters that convert but read back as others (U+301C 〜 comes
// back as U+FF5E ～) do have a form: their bytes are returned.
std::optional<QByteArray> fromUnicodeExact(const QString& text);
// Invalid byte sequences become U+FFFD.
QString toUnicode(const QByteArray& bytes);
}
