#pragma once
// Fonts named by metafiles, mapped onto the faces installed here.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace metafile {
// What the players keep of a LOGFONT.
struct LogFont {
    qint32 height = 0;  // negative: the em height; positive: the cell height
    qint32 width = 0;
    qint32 escapement = 0;  // tenths of a degree
    qint32 weight = 0;      // 0: the default weight
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    quint8 charset = 1;  // DEFAULT_CHARSET
    QString face;        // as the file names it
};

// The installed face that stands in for a Windows face name
// ("Times New Roman" -> "Liberation Serif", "ＭＳ 明朝" -> an IPA face, ...).
QString substituteFace(const QString& windowsFace);
// 8-bit text of a WMF record in the given LOGFONT charset (0 ANSI, 2 SYMBOL,
// 128 SHIFTJIS, ...) and face, as Unicode. Symbol-encoded faces (Symbol,
// MT Extra, Wingdings) map their code points to the matching Unicode characters.
QString decodeText(const QByteArray& bytes, quint8 charset, const QString& face);
// The same mapping for UTF-16 text already read from an EMF record.
QString mapSymbolText(const QString& text, const QString& face);
}
