#include "platform/CodePage932.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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
    void loneSurrogateIsOneCharacter() {
        // A high surrogate without its low half must not swallow the next character.
        const QChar text[] = {QChar('a'), QChar(0xD83D), QChar('b'), QChar(0xDE00), QChar('c')};
        QCOMPARE(cp932::fromUnicode(QString(text, 5)), QByteArray("a?b?c"));
    }
    void exactConversionRefusesWhatItCannotHold() {
        QCOMPARE(cp932::fromUnicodeExact(QStringLiteral("C:\\音.wav")), std::optional(QByteArray("C:\\\x89\xB9.wav")));
        QVERIFY(!cp932::fromUnicodeExact(QStringLiteral("caf\u00e9.wav")));
        QVERIFY(!cp932::fromUnicodeExact(QStringLiteral("\U00020BB7.wav")));
        // Converts, though it reads back as U+FF5E.
        QCOMPARE(cp932::fromUnicodeExact(QStringLiteral("\u301C")), std::optional(QByteArray("\x81\x60")));
    }
    void pathsComeBackToTheirRealNames() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // 〜 ‖ − ¢ ¬ — in a folder and a file name; after a round trip through
        // the code page each is another character.
        const QString folder = dir.filePath(QStringLiteral("曲\u2016\u2212"));
        QVERIFY(QDir().mkpath(folder));
        const QString real = folder + QStringLiteral("/テーマ\u301CA\u00A2\u00AC\u2014.wav");
        QFile f(real);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString decoded = cp932::toUnicode(cp932::fromUnicode(real));
        QVERIFY(decoded != real);
        QVERIFY(!QFile::exists(decoded));
        QCOMPARE(resolveCodePagePath(decoded), real);
        // An existing path, a missing one and an ASCII miss come back unchanged.
        QCOMPARE(resolveCodePagePath(real), real);
        const QString missing = folder + QStringLiteral("/テーマ\uFF5EB.wav");
        QCOMPARE(resolveCodePagePath(missing), missing);
        QCOMPARE(resolveCodePagePath(dir.filePath("none/x.wav")), dir.filePath("none/x.wav"));
        // A relative path resolves against the working folder.
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        QCOMPARE(resolveCodePagePath(QStringLiteral("曲\u2225\uFF0D")), QStringLiteral("曲\u2016\u2212"));
        QDir::setCurrent(cwd);
    }
    void invalidBytesBecomeReplacement() {
        QCOMPARE(cp932::toUnicode(QByteArray("a\x81")), QStringLiteral("a\uFFFD"));
    }
};

QTEST_GUILESS_MAIN(TestCodePage932)
#include "test_codepage932.moc"
