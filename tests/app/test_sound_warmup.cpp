// The background warm-up main() starts once the button window is shown, and
// again whenever the chosen sound changes: it returns at once, sends no media
// command, opens the device, and loads the MIDI soundfont only for a MIDI
// sound, so that a WAV or MP3 user never carries it.
#include "app/SoundWarmUp.h"
#include "platform/mci/MciService.h"
#include "platform/mci/MidiSynthPool.h"

#include "ScriptedDesktop.h"
#include "TestMedia.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <SDL_mixer.h>

class TestSoundWarmUp : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }
    static long reads() { return mci::MidiSynthPool::soundfontReads(); }
    // A warm-up of our own runs after the one in the background has ended.
    static void waitForBackground() { MciService::instance().warmUp(); }
    static bool deviceOpen() { return Mix_QuerySpec(nullptr, nullptr, nullptr) != 0; }

private slots:
    void initTestCase() {
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
        QVERIFY(testmedia::writeToneWav(path("tone.wav"), {{440, 0.5}}));
        QVERIFY(testmedia::makeMp3(path("tone.mp3"), 0.5));
        QVERIFY(testmedia::writeMidi(path("notes.mid")));
        // Named .wav, but MIDI inside: the content decides, as it does for a press.
        QVERIFY(QFile::copy(path("notes.mid"), path("midi-inside.wav")));
    }
    void cleanup() { MciService::instance().shutdown(); }

    void wavMp3AndNoSoundNeverLoadTheSoundfont() {
        ScriptedDesktop desk;
        QLineEdit box;
        box.setText(path("tone.wav"));
        keepSoundWarm(&box);
        // Nothing has happened yet: the caller goes straight on to its event loop.
        QVERIFY(!deviceOpen());
        QTRY_VERIFY_WITH_TIMEOUT(deviceOpen(), 20000);
        for (const char* other : {"tone.mp3", "missing.mid", ""}) {
            box.setText(path(other));
            QTest::qWait(600);  // past the settling time: the warm-up has started
            waitForBackground();
        }
        box.clear();
        QTest::qWait(600);
        waitForBackground();
        QCOMPARE(reads(), 0L);
        QCOMPARE(desk.calls, QStringList());
    }

    void aMidiSoundChosenLaterLoadsItAndItsPressReadsNoMore() {
        ScriptedDesktop desk;
        QLineEdit box;
        keepSoundWarm(&box);
        QTest::qWait(50);
        waitForBackground();
        QCOMPARE(reads(), 0L);
        // Set whole, as opening a data file sets it: warmed at once, not
        // after the pause that lets a typed name settle (the press may come
        // straight away).
        box.setText(path("midi-inside.wav"));
        QCoreApplication::processEvents();
        qApp->findChild<QThreadPool*>(QStringLiteral("soundWarmUp"))->waitForDone();
        QVERIFY(reads() > 0);
        const long loaded = reads();
        QCOMPARE(desk.calls, QStringList());
        // The press finds the synthesiser ready.
        const QByteArray open = "open \"" + path("midi-inside.wav").toLocal8Bit() + "\" type waveaudio alias W wait";
        QCOMPARE(MciService::instance().sendString(open), 0);
        QCOMPARE(MciService::instance().sendString("play W from 0"), 0);
        QCOMPARE(reads(), loaded);
        QCOMPARE(MciService::instance().sendString("close W"), 0);
    }
};

QTEST_MAIN(TestSoundWarmUp)
#include "test_sound_warmup.moc"
