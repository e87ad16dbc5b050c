#include "platform/CodePage932.h"

#include <QtTest>

class TestCodePage932 : public QObject {
    Q_OBJECT
private slots:
    void roundTripsJapaneseAndBackslash() {
        const QString path = QStringLiteral("C:\\音.wav");
        const QByteArray bytes = cp932::fromUnicode(path);
        QCOMPARE(bytes, QByteArray("C:\\\x89\xB9.wav"));
        QCOMPARE(cp932::toUnicode(bytes), path);
    }
    void windowsMappingNotJis() {
        // NEC special character ① and the wave dash as Windows maps it (U+FF5E).
        QCOMPARE(cp932::fromUnicode(QStringLiteral("①～")), QByteArray("\x87\x40\x81\x60"));
        QCOMPARE(cp932::toUnicode(QByteArray("\x81\x60")), QStringLiteral("～"));
    }
    void unmappableBecomesQuestionMark() {
        QCOMPARE(cp932::fromUnicode(QStringLiteral("a\u00e9b\U0001F600c")), QByteArray("a?b?c"));
    }
    void invalidBytesBecomeReplacement() {
        QCOMPARE(cp932::toUnicode(QByteArray("a\x81")), QStringLiteral("a\uFFFD"));
    }
};

QTEST_GUILESS_MAIN(TestCodePage932)
#include "test_codepage932.moc"
