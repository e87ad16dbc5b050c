// The exact media command strings a sound channel sends, and when it sends none.
#include "Kit.h"
#include "ScriptedDesktop.h"
#include "TestMedia.h"
#include "platform/App.h"
#include "platform/CodePage932.h"
#include "platform/Errors.h"
#include "platform/mci/MciService.h"
#include "sound/mdlSndAPI.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

class TestMdlSndApi : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString A;

    QString touch(const QString& name) {
        const QString p = dir.filePath(name);
        if (!kit::write(p, "x")) qFatal("cannot create %s", qPrintable(p));
        return p;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        A = EXEName() + "P1";
    }

    void deviceTypeByLastThreeCharacters_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::newRow("wav") << "a.wav" << "waveaudio";
        QTest::newRow("upper WAV") << "b.WAV" << "waveaudio";
        QTest::newRow("mp3 lower") << "c.mp3" << "mpegvideo";
        QTest::newRow("mid") << "d.Mid" << "sequencer";
        QTest::newRow("no dot needed") << "plainwav" << "waveaudio";
        QTest::newRow("midi not played") << "e.midi" << "";
        QTest::newRow("wave not played") << "f.wave" << "";
        QTest::newRow("ogg not played") << "g.ogg" << "";
    }
    void deviceTypeByLastThreeCharacters() {
        QFETCH(QString, name);
        QFETCH(QString, type);
        ScriptedDesktop desk;
        const QString p = touch(name);
        PlayMciSound(p, "P1", false, 0);
        QStringList expected{"close " + A};
        if (!type.isEmpty())
            expected << "open \"" + p + "\" type " + type + " alias " + A + " wait"
                     << "stop " + A << "play " + A + " from 0";
        QCOMPARE(desk.mciCommands, expected);
    }

    void nothingSentForMissingEmptyHiddenOrFolder() {
        ScriptedDesktop desk;
        PlayMciSound(dir.filePath("missing.wav"), "P1", false, 0);
        PlayMciSound(QString(), "P1", false, 0);
        PlayMciSound(touch(".hidden.wav"), "P1", false, 0);
        QVERIFY(QDir(dir.path()).mkdir("folder.wav"));
        PlayMciSound(dir.filePath("folder.wav"), "P1", false, 0);
        QCOMPARE(desk.calls, QStringList());
    }

    void waitingPlayBlocksInsteadOfStopAndPlay() {
        ScriptedDesktop desk;
        const QString p = touch("w.wav");
        PlayMciSound(p, "P2", true, 5);
        const QString a2 = EXEName() + "P2";
        QCOMPARE(desk.mciCommands, QStringList({"close " + a2, "open \"" + p + "\" type waveaudio alias " + a2 + " wait",
                                                "play " + a2 + " from 0 wait"}));
    }

    void japanesePathIsSentInCodePage932() {
        ScriptedDesktop desk;
        const QString p = touch(QStringLiteral("音.wav"));
        PlayMciSound(p, "P1", false, 0);
        QCOMPARE(desk.mciBytes.size(), 4);
        const QByteArray expected =
            "open \"" + QFile::encodeName(dir.path()) + "/\x89\xB9.wav\" type waveaudio alias " + A.toLatin1() + " wait";
        // The folder part is ASCII in a temporary directory, so both encodings agree there.
        QCOMPARE(desk.mciBytes[1], expected);
    }

    // The file the existence test found is the one heard, also where code
    // page 932 loses the name: 〜 (U+301C) goes as 0x8160, which reads back
    // as ～ (U+FF5E), a file that may exist too; é and Hangul it has not at
    // all; and a quote in a name would end the quoted path.
    void theFileFoundIsTheFileHeard_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("lookAlike");  // exists beside it at 880 Hz
        QTest::newRow("wave dash alone") << QStringLiteral("テーマ\u301CA.wav") << QString();
        QTest::newRow("wave dash beside fullwidth tilde") << QStringLiteral("b\u301C.wav") << QStringLiteral("b\uFF5E.wav");
        QTest::newRow("accent") << QStringLiteral("caf\u00E9.wav") << QStringLiteral("caf?.wav");
        QTest::newRow("hangul") << QStringLiteral("\uC74C\uC545.wav") << QString();
        QTest::newRow("quote") << QStringLiteral("say \"hi\".wav") << QString();
    }
    void theFileFoundIsTheFileHeard() {
        QFETCH(QString, name);
        QFETCH(QString, lookAlike);
        const QString out = dir.filePath("out.raw");
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", out.toUtf8());
        const QString p = dir.filePath(name);
        QVERIFY(testmedia::writeToneWav(p, {{440, 0.3}}));
        if (!lookAlike.isEmpty()) QVERIFY(testmedia::writeToneWav(dir.filePath(lookAlike), {{880, 0.3}}));
        ScriptedDesktop desk;
        QList<int> results;
        desk.mci = [&](const QString& c) {
            results << MciService::instance().sendText(c);
            return results.last();
        };
        PlayMciSound(p, "P1", false, 0);
        QCOMPARE(results, QList<int>({263, 0, 0, 0}));  // close (not open yet), open, stop, play
        QThread::msleep(500);
        CloseMciSounds();
        MciService::instance().shutdown();
        const testmedia::DiskAudio audio = testmedia::DiskAudio::read(out);
        const qint64 first = audio.firstLoudFrame();
        QVERIFY(first >= 0);
        QVERIFY2(qAbs(audio.frequency(first, first + 8820) - 440) < 10, qPrintable(QString::number(audio.frequency(first, first + 8820))));
        QVERIFY(QFile::remove(out));
    }

    void unusablePathRaisesBeforeAnythingIsSent() {
        ScriptedDesktop desk;
        QVERIFY_THROWS_EXCEPTION(RuntimeError, PlayMciSound(QString::fromUtf16(u"a\0b.wav", 7), "P1", false, 0));
        QCOMPARE(desk.calls, QStringList());
    }

    void closeSoundsClosesBothChannelsAlways() {
        ScriptedDesktop desk;
        desk.mci = [](const QString&) { return 263; };
        CloseMciSounds();
        QCOMPARE(desk.mciCommands, QStringList({"close " + A, "close " + EXEName() + "P2"}));
    }
};

QTEST_GUILESS_MAIN(TestMdlSndApi)
#include "test_mdlsndapi.moc"
