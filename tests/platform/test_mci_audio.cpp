// Real audio through SDL's disk driver: what the media-command service plays
// is read back from the driver's output file and checked for sound, length,
// pitch and silence.
#include "platform/mci/MciService.h"

#include "MidiMaker.h"
#include "MciScript.h"
#include "TestMedia.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/stat.h>

#include <SDL_mixer.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

using mciscript::expect, mciscript::openCommand, mciscript::send;
using testmedia::DiskAudio;

namespace {

// What the mixer produces, counted in its own frames as it produces them, so
// the moment a call returns can be placed against the audio itself.
class MixTap {
public:
    static void install() { Mix_SetPostMix(hook, nullptr); }
    static void start() { armed_.store(false), frames_.store(0), armed_.store(true); }
    static size_t frames() { return frames_.load(); }
    // Last frame with any non-zero sample since start(), or -1.
    static qint64 lastSoundingFrame() {
        armed_.store(false);
        const size_t n = std::min(frames_.load() * 2, samples_.size());
        for (size_t i = n; i-- > 0;)
            if (samples_[i] != 0) return qint64(i / 2);
        return -1;
    }

private:
    static void SDLCALL hook(void*, Uint8* stream, int len) {
        if (!armed_.load()) return;
        const size_t at = frames_.load() * 2;
        if (at + size_t(len) / 2 <= samples_.size()) std::memcpy(&samples_[at], stream, size_t(len));
        frames_.fetch_add(size_t(len) / 4);
    }
    static inline std::vector<int16_t> samples_ = std::vector<int16_t>(44100 * 2 * 10);
    static inline std::atomic<bool> armed_{false};
    static inline std::atomic<size_t> frames_{0};
};

}  // namespace

class TestMciAudio : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString out_;
    QString wav_, twoTone_, mp3_, mp3Long_, mid_, rmid_, heldNote_, emptyMidi_;

    QString path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }
    qint64 mark() const { return DiskAudio::mark(out_); }
    DiskAudio since(qint64 from) const { return DiskAudio::since(out_, from); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        out_ = path("out.raw");
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", out_.toUtf8());
        wav_ = path("tone.wav"), twoTone_ = path("two.wav"), mp3_ = path("tone.mp3"), mp3Long_ = path("long.mp3");
        mid_ = path("notes.mid"), rmid_ = path("notes.rmi"), heldNote_ = path("held.mid"), emptyMidi_ = path("empty.mid");
        QVERIFY(testmedia::writeToneWav(wav_, {{440, 0.5}}));
        QVERIFY(testmedia::writeToneWav(twoTone_, {{440, 0.3}, {880, 1.7}}, 22050, 2));
        QVERIFY(testmedia::makeMp3(mp3_, 0.5));
        // Longer than the 2 s decoded while opening.
        QVERIFY(testmedia::makeMp3(mp3Long_, 4.0, 440, 320));
        QVERIFY(testmedia::writeMidi(mid_, 4, 0.25));
        QVERIFY(testmedia::writeBytes(rmid_, midimaker::rmid(testmedia::midiBytes(4, 0.25))));
        QVERIFY(testmedia::writeBytes(heldNote_, midimaker::chord(48, {60}, 0.5, false)));
        QVERIFY(testmedia::writeBytes(emptyMidi_, midimaker::chord(0, {}, 0.0)));
        MciService::instance().warmUp();
        MciService::instance().warmUp();
    }
    void cleanupTestCase() { MciService::instance().shutdown(); }
    void cleanup() { Mix_SetPostMix(nullptr, nullptr), send("close W"); }

    void eachFormatPlaysItsSound_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("hz");
        QTest::newRow("wav") << wav_ << QByteArray("waveaudio") << 0.5 << 440.0;
        QTest::newRow("mp3") << mp3_ << QByteArray("mpegvideo") << 0.5 << 440.0;
        QTest::newRow("midi") << mid_ << QByteArray("sequencer") << 1.0 << 0.0;
        QTest::newRow("riff midi") << rmid_ << QByteArray("sequencer") << 1.0 << 0.0;
    }
    void eachFormatPlaysItsSound() {
        QFETCH(QString, file);
        QFETCH(QByteArray, type);
        QFETCH(double, seconds);
        QFETCH(double, hz);
        QCOMPARE(send(openCommand(file, type.constData(), "Zumble1P1")), 0);
        const qint64 from = mark();
        expect({{"play Zumble1P1 from 0 wait", 0}, {"close Zumble1P1", 0}});
        const DiskAudio audio = since(from);

        const qint64 first = audio.firstLoudFrame();
        QVERIFY2(first >= 0, "nothing was heard");
        QVERIFY2(first < audio.rate() / 10, qPrintable(QString::number(first)));
        const double heard = double(audio.lastLoudFrame() - first) / audio.rate();
        // MIDI notes ring on after their release; PCM ends with its last sample.
        QVERIFY2(heard > seconds * 0.9 && heard < seconds + (hz > 0 ? 0.05 : 1.5), qPrintable(QString::number(heard)));
        if (hz > 0) QVERIFY(qAbs(audio.frequency(first, first + audio.rate() * 4 / 10) - hz) < 5);
        // The half-scale tones must come out at half scale. One MIDI piano
        // note peaks near -19 dBFS (music's chords and drums add up from
        // there); at FluidSynth's default gain it would be near -29 dBFS.
        const double peak = audio.peak();
        QVERIFY2(peak > (hz > 0 ? 0.45 : 0.09) && peak < (hz > 0 ? 0.55 : 1.0), qPrintable(QString::number(peak)));
    }

    void waitReturnsWithinAPeriodOfTheEnd_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("wav") << wav_ << QByteArray("waveaudio");
        QTest::newRow("mp3") << mp3_ << QByteArray("mpegvideo");
        QTest::newRow("midi") << mid_ << QByteArray("sequencer");
        QTest::newRow("held midi note") << heldNote_ << QByteArray("sequencer");
        QTest::newRow("empty midi") << emptyMidi_ << QByteArray("sequencer");
    }
    void waitReturnsWithinAPeriodOfTheEnd() {
        QFETCH(QString, file);
        QFETCH(QByteArray, type);
        QCOMPARE(send(openCommand(file, type.constData(), "W")), 0);
        MixTap::install();
        // Several times: the press lands anywhere in a period, and the
        // machine may hold up the waiting thread now and then.
        std::vector<qint64> lateness;
        for (int i = 0; i < 5; ++i) {
            MixTap::start();
            QCOMPARE(send("play W from 0 wait"), 0);
            const qint64 returnedAt = qint64(MixTap::frames());
            QThread::msleep(40);
            const qint64 last = MixTap::lastSoundingFrame();
            QVERIFY2(last >= 0 || file == emptyMidi_, "nothing was heard");
            // Never before the last sample was mixed, never a second late.
            const qint64 late = returnedAt - (last + 1);
            QVERIFY2(late >= 0 && late < 44100, qPrintable(QStringLiteral("%1 frames after the end").arg(late)));
            lateness.push_back(late);
        }
        // Typically before the mixer has produced a whole period beyond the
        // one that held the end. An MP3 decoder ends with up to one MPEG
        // frame (1152 samples) of digital silence that still belongs to the
        // sound.
        std::sort(lateness.begin(), lateness.end());
        const qint64 allowed = 2 * 256 + (type == "mpegvideo" ? 1152 : 0);
        QVERIFY2(lateness[2] < allowed, qPrintable(QStringLiteral("median %1 frames after the end").arg(lateness[2])));
    }

    void repeatedPressRestartsFromTheBeginning() {
        // 440 Hz for 0.3 s, then 880 Hz: a restart is heard as 440 Hz again.
        const QByteArray open = openCommand(twoTone_, "waveaudio", "P2");
        expect({{open, 0}, {"play P2 from 0", 0}});
        QThread::msleep(600);
        const qint64 from = mark();
        // The press: close, open, stop, play.
        expect({{"close P2", 0}, {open, 0}, {"stop P2", 0}, {"play P2 from 0", 0}});
        // Until the driver has written 0.4 s (a busy machine slows it down).
        QTRY_VERIFY_WITH_TIMEOUT(DiskAudio::framesIn(out_) > from + 44100 * 4 / 10 + 2048, 5000);
        QCOMPARE(send("close P2"), 0);
        const DiskAudio audio = since(from);
        // Find where 880 Hz gives way to 440 Hz, and check the tail is 880 again.
        qint64 restart = -1;
        for (qint64 f = 0; restart < 0 && f + 882 < audio.frames(); f += 441)
            if (qAbs(audio.frequency(f, f + 882) - 440) < 20) restart = f;
        QVERIFY2(restart >= 0, "the start of the sound was not heard again");
        QVERIFY(qAbs(audio.frequency(restart + 44100 * 35 / 100, restart + 44100 * 38 / 100) - 880) < 30);
        // No gap: a press cuts straight from one sound to the other.
        QVERIFY(audio.longestQuietRun(0, restart + 4410) < 441);
    }

    void playToStopsThereAndGoesOnFromThere() {
        // 440 Hz for 0.3 s, then 880 Hz.
        expect({{openCommand(twoTone_, "waveaudio", "W"), 0}, {"play W from 200 to 100", 282}});
        MixTap::install();
        MixTap::start();
        QCOMPARE(send("play W from 0 to 300 wait"), 0);
        const qint64 returnedAt = qint64(MixTap::frames());
        qint64 last = MixTap::lastSoundingFrame();
        QVERIFY2(qAbs(last - 13230) < 256 && returnedAt > last, qPrintable(QString::number(last)));
        // No "from": on from 0.3 s, where the 880 Hz part begins.
        const qint64 from = mark();
        QCOMPARE(send("play W to 600 wait"), 0);
        const DiskAudio audio = since(from);
        const qint64 first = audio.firstLoudFrame();
        QVERIFY(first >= 0);
        QVERIFY(qAbs(audio.frequency(first, first + 8820) - 880) < 10);
        const double heard = double(audio.lastLoudFrame() - first) / audio.rate();
        QVERIFY2(qAbs(heard - 0.3) < 0.02, qPrintable(QString::number(heard)));
    }

    void longMp3PlaysOnPastItsFirstPart() {
        // The first 2 s are decoded while opening, the rest in the
        // background; the tone must run through the join without a gap.
        QCOMPARE(send(openCommand(mp3Long_, "mpegvideo", "P3")), 0);
        const qint64 from = mark();
        expect({{"play P3 from 0 wait", 0}, {"close P3", 0}});
        const DiskAudio audio = since(from);
        const qint64 first = audio.firstLoudFrame();
        const double heard = audio.loudSeconds();  // -1 when silent
        QVERIFY2(heard > 3.9 && heard < 4.1, qPrintable(QString::number(heard)));
        QVERIFY(audio.longestQuietRun(first, audio.lastLoudFrame()) < 100);
        for (qint64 f = first + 4410; f + 44100 / 4 < audio.lastLoudFrame(); f += 44100 / 4)
            QVERIFY2(qAbs(audio.frequency(f, f + 44100 / 4) - 440) < 3, qPrintable(QString::number(f)));
    }

    void brokenFilesAreRefusedAndSilent_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("type");
        QByteArray truncated = testmedia::midiBytes(8, 0.25);
        truncated.chop(10);
        QByteArray badEvent = testmedia::midiBytes(2, 0.25);
        badEvent[22 + 3] = '\xF4';  // an undefined status byte inside the track
        QTest::newRow("garbage wav") << "g.wav" << QByteArray("this is not a sound file at all") << QByteArray("waveaudio");
        QTest::newRow("garbage mp3") << "g.mp3" << QByteArray(4096, '\x5A') << QByteArray("mpegvideo");
        QTest::newRow("garbage mid") << "g.mid" << QByteArray("MThd garbage") << QByteArray("sequencer");
        QTest::newRow("truncated mid") << "t.mid" << truncated << QByteArray("sequencer");
        QTest::newRow("bad midi event") << "e.mid" << badEvent << QByteArray("sequencer");
        QTest::newRow("empty wav") << "empty.wav" << QByteArray() << QByteArray("waveaudio");
        QTest::newRow("wav header only") << "h.wav" << QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16) << QByteArray("waveaudio");
        // Not ordinary files: an open of a FIFO would wait for a writer, a
        // device would be read for ever.
        QTest::newRow("fifo") << "fifo.wav" << QByteArray() << QByteArray("waveaudio");
        QTest::newRow("device") << "/dev/zero" << QByteArray() << QByteArray("waveaudio");
    }
    void brokenFilesAreRefusedAndSilent() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, type);
        const QString file = name.startsWith(QLatin1Char('/')) ? name : dir_.filePath(name);
        if (name.startsWith(QLatin1String("fifo")))
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        else if (!name.startsWith(QLatin1Char('/')))
            QVERIFY(testmedia::writeBytes(file, bytes));
        const qint64 from = mark();
        expect({{openCommand(file, type.constData(), "Bad"), 296}, {"play Bad from 0", 263}, {"close Bad", 263}});
        QVERIFY(since(from).silent());
    }

    void stopSilencesAndKeepsTheAliasOpen() {
        expect({{openCommand(mid_, "sequencer", "P4"), 0}, {"play P4 from 0", 0}});
        QThread::msleep(200);
        QCOMPARE(send("stop P4"), 0);
        QThread::msleep(50);
        const qint64 from = mark();
        QThread::msleep(300);
        QVERIFY(since(from).silent());
        QCOMPARE(send("play P4 from 0"), 0);
        QThread::msleep(300);
        QVERIFY(!since(from).silent());
        // Closing a playing alias silences it at once too.
        QCOMPARE(send("close P4"), 0);
        QVERIFY(since(mark()).silent());
    }
};

QTEST_GUILESS_MAIN(TestMciAudio)
#include "test_mci_audio.moc"
