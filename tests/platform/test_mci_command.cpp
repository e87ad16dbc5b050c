// Media command strings: what the parser makes of them and what the service
// answers, with real files (the audio goes to SDL's disk driver).
#include "platform/CodePage932.h"
#include "platform/mci/MciCommand.h"
#include "platform/mci/MciService.h"
#include "platform/mci/MidiFile.h"

#include "MciScript.h"
#include "TestMedia.h"

#include <QTemporaryDir>
#include <QtTest>

using mci::Command;
using mci::DeviceType;
using mci::Verb;
using mciscript::expect, mciscript::send;

namespace {
QByteArray quoted(const QString& path) { return '"' + cp932::fromUnicode(path) + '"'; }
}  // namespace

class TestMciCommand : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString wav_, mid_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", dir_.filePath(QStringLiteral("out.raw")).toUtf8());
        wav_ = dir_.filePath(QStringLiteral("tone.wav"));
        mid_ = dir_.filePath(QStringLiteral("notes.mid"));
        QVERIFY(testmedia::writeToneWav(wav_, {{440, 0.2}}));
        QVERIFY(testmedia::writeMidi(mid_, 2, 0.1));
    }
    void cleanup() { send("close all"); }
    void cleanupTestCase() { MciService::instance().shutdown(); }

    void parsesTheCommandsTheProgramSends() {
        // A string parsed as an error number throws here, failing the test.
        Command c = std::get<Command>(mci::parseCommand("open \"C:\\My Sounds\\a b.wav\" type waveaudio alias Zumble1P1 wait"));
        QCOMPARE(c.verb, Verb::Open);
        QCOMPARE(c.device, QByteArray("C:\\My Sounds\\a b.wav"));
        QCOMPARE(c.alias, QByteArray("Zumble1P1"));
        QCOMPARE(c.type, DeviceType::WaveAudio);
        QVERIFY(c.wait);

        c = std::get<Command>(mci::parseCommand("  PLAY\tZumble1P1  From 0 WAIT "));
        QCOMPARE(c.verb, Verb::Play);
        QCOMPARE(c.device, QByteArray("Zumble1P1"));
        QCOMPARE(c.fromMs, std::optional<uint32_t>(0));
        QVERIFY(c.wait);

        c = std::get<Command>(mci::parseCommand("open x.mid TYPE Sequencer ALIAS a"));
        QCOMPARE(c.type, DeviceType::Sequencer);
        QVERIFY(!c.wait);
        c = std::get<Command>(mci::parseCommand("stop a"));
        QCOMPARE(c.verb, Verb::Stop);
        QVERIFY(!c.fromMs);
        // Valid keywords the program itself never sends.
        c = std::get<Command>(mci::parseCommand("play a from 10 to 500 notify wait"));
        QCOMPARE(c.fromMs, std::optional<uint32_t>(10));
        QCOMPARE(c.toMs, std::optional<uint32_t>(500));
        QVERIFY(c.notify && c.wait);
        QVERIFY(std::get<Command>(mci::parseCommand("open \"x y.wav\" alias a notify")).notify);
    }

    void badStringsGetWindowsErrorNumbers_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("error");
        QTest::newRow("empty") << QByteArray("") << 267;
        QTest::newRow("blanks") << QByteArray(" \t ") << 267;
        QTest::newRow("unknown verb") << QByteArray("jump A") << 261;
        QTest::newRow("verb in quotes") << QByteArray("\"play\" A") << 261;
        QTest::newRow("no alias") << QByteArray("close") << 292;
        QTest::newRow("empty alias") << QByteArray("close \"\"") << 292;
        QTest::newRow("no closing quote") << QByteArray("open \"C:\\a.wav type waveaudio alias A") << 294;
        QTest::newRow("open empty element") << QByteArray("open \"\" type waveaudio alias A") << 304;
        QTest::newRow("from without number") << QByteArray("play A from") << 270;
        QTest::newRow("from not a number") << QByteArray("play A from zero") << 270;
        QTest::newRow("from negative") << QByteArray("play A from -1") << 270;
        QTest::newRow("from too big") << QByteArray("play A from 4294967296") << 270;
        QTest::newRow("unknown keyword") << QByteArray("play A until 5") << 259;
        QTest::newRow("text after a quote") << QByteArray("open \"x.wav\"type waveaudio alias A") << 305;
        QTest::newRow("to without number") << QByteArray("play A to") << 270;
        QTest::newRow("to twice") << QByteArray("play A to 5 to 6") << 295;
        QTest::newRow("to on stop") << QByteArray("stop A to 5") << 259;
        QTest::newRow("notify twice") << QByteArray("close A notify notify") << 295;
        QTest::newRow("extra word") << QByteArray("stop A now") << 259;
        QTest::newRow("type on play") << QByteArray("play A type waveaudio") << 259;
        QTest::newRow("unknown type") << QByteArray("open \"x.wav\" type cdaudio alias A") << 263;
        QTest::newRow("type without value") << QByteArray("open \"x.wav\" type") << 269;
        QTest::newRow("alias without value") << QByteArray("open \"x.wav\" alias") << 269;
        QTest::newRow("two aliases") << QByteArray("open \"x.wav\" alias a alias b") << 295;
        QTest::newRow("wait twice") << QByteArray("play a wait wait") << 295;
    }
    void badStringsGetWindowsErrorNumbers() {
        QFETCH(QByteArray, command);
        QFETCH(int, error);
        const auto parsed = mci::parseCommand(command);
        QVERIFY(std::holds_alternative<int>(parsed));
        QCOMPARE(std::get<int>(parsed), error);
        QCOMPARE(send(command), error);
    }

    void midiFilesAreCheckedAndTimed() {
        // 4 notes of 1/4 s at 120 bpm.
        QByteArray smf = testmedia::midiBytes(4, 0.25);
        auto info = mci::inspectMidi(smf);
        QVERIFY(info);
        QCOMPARE(info->seconds, 1.0);
        QCOMPARE(info->tracks, 1);
        // Double the tempo (250000 µs per quarter): half the time.
        QByteArray fast = smf;
        fast.replace(QByteArray("\xFF\x51\x03\x07\xA1\x20", 6), QByteArray("\xFF\x51\x03\x03\xD0\x90", 6));
        QCOMPARE(mci::inspectMidi(fast)->seconds, 0.5);
        // Running status: a note-on without its status byte repeats the last one.
        QByteArray running("MThd\0\0\0\x06\0\0\0\x01\x01\xE0"
                           "MTrk\0\0\0\x0E\0\x90\x3C\x64\x83\x60\x3C\0\0\xFF\x2F\0\0\0",
                           36);
        QCOMPARE(mci::inspectMidi(running)->seconds, 0.5);

        // Two tracks announced, a track length one past the file's end, the end cut off, a data byte with
        // the top bit set (a broken event), zero division, format 3, a cut header.
        const auto patched = [&](qsizetype at, char to) { return QByteArray(smf).replace(at, 1, QByteArray(1, to)); };
        for (const QByteArray& bad : {patched(11, 2), patched(21, char(smf[21] + 1)), smf.chopped(4), patched(smf.indexOf("\x90\x3C") + 2, '\xE4'),
                                      QByteArray("MThd\0\0\0\x06\0\0\0\x01\0\0", 14), QByteArray("MThd\0\0\0\x06\0\x03\0\x01\0\x60", 14),
                                      QByteArray("MThd\0\0", 6)})
            QVERIFY(!mci::inspectMidi(bad));
    }

    void aliasLifecycle() {
        // The caller closes before every open; aliases compare without case, as on Windows; stopping what
        // does not play is fine; 5 s is past the end of 0.2 s.
        expect({{"close Zumble1P1", 263}, {"open " + quoted(wav_) + " type waveaudio alias Zumble1P1 wait", 0},
                {"open " + quoted(mid_) + " type sequencer alias zumble1p1 wait", 289},
                {"open " + quoted(mid_) + " type sequencer alias Zumble1P2 wait", 0}, {"stop ZUMBLE1P1", 0},
                {"play zumble1p1 from 0", 0}, {"play Zumble1P1 from 0", 0}, {"play Zumble1P1 from 5000", 282},
                {"stop Zumble1P1 wait", 0}, {"close Zumble1P1", 0}, {"close Zumble1P1", 263}, {"play Zumble1P1 from 0", 263},
                {"stop Zumble1P1", 263}, {"play Zumble1P2 from 0 wait", 0}, {"close all", 0}, {"close Zumble1P2", 263}});
    }

    void openFailures() {
        // A failed open leaves no alias behind.
        expect({{"open " + quoted(dir_.filePath(QStringLiteral("missing.wav"))) + " type waveaudio alias A wait", 275},
                {"open " + quoted(dir_.path()) + " type waveaudio alias A wait", 296},
                {"open " + quoted(wav_ + QChar(0)) + " type waveaudio alias A wait", 275}, {"close A", 263}});
    }

    void contentDecidesTheDecoder() {
        // A WAV opened as a sequencer, a MIDI file opened as wave audio: both play.
        expect({{"open " + quoted(wav_) + " type sequencer alias A", 0}, {"open " + quoted(mid_) + " type waveaudio alias B", 0},
                {"open " + quoted(wav_) + " alias C", 0}, {"play A from 0 wait", 0}, {"play B from 0 wait", 0}});
    }

    void japanesePathsInCodePage932() {
        // 表 is 0x95 0x5C in code page 932: its second byte is a backslash.
        const QString folder = dir_.filePath(QStringLiteral("効果音 表"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("/ピンポン表.wav");
        QVERIFY(testmedia::writeToneWav(file, {{880, 0.1}}));
        const QByteArray bytes = quoted(file);
        QVERIFY(bytes.contains("\x95\x5C"));
        // Alias 音.
        expect({{"open " + bytes + " type waveaudio alias \x89\xB9 wait", 0}, {"play \x89\xB9 from 0 wait", 0}, {"close \x89\xB9", 0}});
        // Windows separators are accepted too.
        QString windows = file;
        windows.replace(QLatin1Char('/'), QLatin1Char('\\'));
        QCOMPARE(send("open " + quoted(windows) + " type waveaudio alias W"), 0);
    }

    void withoutSoundfontMidiFailsAndWaveStillPlays() {
        MciService::instance().setSoundfont(dir_.filePath(QStringLiteral("none.sf2")));
        expect({{"open " + quoted(mid_) + " type sequencer alias M", 266}, {"open " + quoted(wav_) + " type waveaudio alias W", 0},
                {"play W from 0 wait", 0}});
        MciService::instance().setSoundfont(MciService::defaultSoundfont());
        QCOMPARE(send("open " + quoted(mid_) + " type sequencer alias M"), 0);
    }

    void withoutAudioDeviceOpenFails() {
        MciService::instance().shutdown();
        MciService::instance().shutdown();  // twice is harmless
        qputenv("SDL_AUDIODRIVER", "no-such-driver");
        MciService::instance().warmUp();
        expect({{"open " + quoted(wav_) + " type waveaudio alias A wait", 262}, {"play A from 0 wait", 263}, {"close A", 263}});
        qputenv("SDL_AUDIODRIVER", "disk");
        QCOMPARE(send("open " + quoted(wav_) + " type waveaudio alias A wait"), 0);
    }
};

QTEST_GUILESS_MAIN(TestMciCommand)
#include "test_mci_command.moc"
