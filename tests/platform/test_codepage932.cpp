#include "Kit.h"
#include "platform/CodePage932.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <QtTest>

class TestCodePage932 : public QObject {
    Q_OBJECT
private slots:
    void conversions_data() {
        // Text, its bytes, the text those bytes read back as (the same unless
        // given), and whether the exact conversion takes it.
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("readBack");
        QTest::addColumn<bool>("exact");
        // The second byte of 音 is no backslash, the backslash stays one.
        QTest::newRow("Japanese and backslash") << QStringLiteral("C:\\音.wav") << QByteArray("C:\\\x89\xB9.wav") << QString() << true;
        // NEC special character ① and the wave dash as Windows maps it (U+FF5E).
        QTest::newRow("Windows mapping, not JIS") << QStringLiteral("①～") << QByteArray("\x87\x40\x81\x60") << QString() << true;
        QTest::newRow("wave dash U+301C") << QStringLiteral("\u301C") << QByteArray("\x81\x60") << QStringLiteral("～") << true;
        QTest::newRow("unmappable") << QStringLiteral("a\u00e9b\U0001F600c") << QByteArray("a?b?c") << QStringLiteral("a?b?c")
                                    << false;
        QTest::newRow("outside the code page") << QStringLiteral("\U00020BB7.wav") << QByteArray("?.wav")
                                               << QStringLiteral("?.wav") << false;
        // A high surrogate without its low half must not swallow the next character.
        const QChar lone[] = {QChar('a'), QChar(0xD83D), QChar('b'), QChar(0xDE00), QChar('c')};
        QTest::newRow("lone surrogates") << QString(lone, 5) << QByteArray("a?b?c") << QStringLiteral("a?b?c") << false;
    }
    void conversions() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, readBack);
        QFETCH(bool, exact);
        QCOMPARE(cp932::fromUnicode(text), bytes);
        QCOMPARE(cp932::toUnicode(bytes), readBack.isNull() ? text : readBack);
        QCOMPARE(cp932::fromUnicodeExact(text), exact ? std::optional(bytes) : std::nullopt);
    }
    void pathsComeBackToTheirRealNames() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // 〜 ‖ − ¢ ¬ — in a folder and a file name; after a round trip through
        // the code page each is another character.
        const QString folder = dir.filePath(QStringLiteral("曲\u2016\u2212"));
        QVERIFY(QDir().mkpath(folder));
        const QString real = folder + QStringLiteral("/テーマ\u301CA\u00A2\u00AC\u2014.wav");
        QVERIFY(kit::write(real, {}));
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
