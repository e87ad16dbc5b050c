// The audio device failing under the media-command service: no device at
// all, a device lost while the program runs, a device that stops mixing.
// Runs in its own process: each case opens and closes SDL's audio its own way.
#include "platform/mci/MciService.h"

#include "MciScript.h"
#include "TestMedia.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <SDL_mixer.h>

#include <atomic>
#include <unistd.h>

using mciscript::expect, mciscript::send;
using testmedia::DiskAudio;

namespace {


// Holds the audio thread inside one period for `freezeMs` when armed: a
// device that stops asking for audio.
std::atomic<int> freezeMs{0};
void SDLCALL freezeOnce(int, void*, int, void*) {
    if (const int ms = freezeMs.exchange(0)) QThread::msleep(ms);
}

}  // namespace

class TestMciDevice : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString tone_;

    QByteArray open(const char* alias) const { return mciscript::openCommand(tone_, "waveaudio", alias); }
    void useDiskFile(const QString& file) {
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", file.toUtf8());
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        tone_ = dir_.filePath("tone.wav");
        QVERIFY(testmedia::writeToneWav(tone_, {{440, 3.0}}));
    }
    void cleanup() {
        send("close all");
        MciService::instance().shutdown();
    }

    void noDeviceFailsWithoutATrace() {
        // No sound card on this machine: ALSA finds nothing. The open fails
        // with the hardware error, and nothing is printed on stderr.
        qputenv("SDL_AUDIODRIVER", "alsa");
        const QString errFile = dir_.filePath("stderr.txt");
        const int saved = dup(2);
        FILE* err = std::fopen(qPrintable(errFile), "w");
        QVERIFY(err);
        dup2(fileno(err), 2);
        const int opened = send(open("P1"));
        const int played = send("play P1 from 0");
        std::fflush(stderr);
        dup2(saved, 2);
        ::close(saved);
        std::fclose(err);
        if (QFile::exists("/dev/snd")) QSKIP("this machine has a sound card");
        QCOMPARE(opened, 262);
        QCOMPARE(played, 263);
        QFile printed(errFile);
        QVERIFY(printed.open(QIODevice::ReadOnly));
        QCOMPARE(printed.readAll(), QByteArray());
    }

    void lostDeviceIsReopenedByTheNextCommand_data() {
        QTest::addColumn<bool>("press");
        QTest::newRow("a press: close, open, stop, play") << true;
        QTest::newRow("a play on an alias opened before") << false;
    }
    void lostDeviceIsReopenedByTheNextCommand() {
        QFETCH(bool, press);
        // The driver cannot write (a full device): SDL declares it lost.
        useDiskFile(QStringLiteral("/dev/full"));
        expect({{open("P1"), 0}, {open("P2"), 0}, {"play P2 from 0", 0}});
        QThread::msleep(1000);  // the driver's first failed write, on a busy machine too
        // The next command finds the device gone and opens it again, on the
        // output that works now.
        const QString out = dir_.filePath(press ? "after-press.raw" : "after-play.raw");
        useDiskFile(out);
        if (press) expect({{"close P1", 0}, {open("P1"), 0}, {"stop P1", 0}});
        QCOMPARE(send("play P1 from 0"), 0);
        // Until the driver has written 0.3 s past its write buffer.
        QTRY_VERIFY_WITH_TIMEOUT(DiskAudio::framesIn(out) > 44100 * 3 / 10 + 2048, 5000);
        const DiskAudio audio = DiskAudio::read(out);
        QVERIFY2(audio.firstLoudFrame() >= 0 && audio.firstLoudFrame() < 44100 / 10, "the press was not heard");
        QVERIFY(qAbs(audio.frequency(audio.firstLoudFrame(), audio.firstLoudFrame() + 8820) - 440) < 5);
    }

    // A device that stops mixing (here every period of the disk driver
    // takes 1.5 s) is reopened on the service's own thread: closing it waits
    // for the period under way, and the command that found it does not.
    void stalledDeviceIsReopenedWithoutKeepingTheCallerWaiting() {
        useDiskFile(dir_.filePath("slow.raw"));
        qputenv("SDL_DISKAUDIODELAY", "1500");
        expect({{open("P1"), 0}, {"play P1 from 0", 0}});
        QThread::msleep(800);
        qunsetenv("SDL_DISKAUDIODELAY");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(send("play P1 from 0"), 262);
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(send("play P1 from 0"), 0, 5000);
    }

    void waitEndsWhenTheDeviceStopsMixing() {
        useDiskFile(dir_.filePath("stall.raw"));
        QCOMPARE(send(open("P1")), 0);
        Mix_RegisterEffect(MIX_CHANNEL_POST, freezeOnce, nullptr, nullptr);
        QThread* staller = QThread::create([] {
            QThread::msleep(300);
            freezeMs.store(3000);
        });
        staller->start();
        QElapsedTimer clock;
        clock.start();
        // A 3 s sound: the device stops mixing 0.3 s into it.
        QCOMPARE(send("play P1 from 0 wait"), 0);
        const qint64 waited = clock.elapsed();
        staller->wait();
        delete staller;
        QVERIFY2(waited > 300 && waited < 300 + 500 + 400, qPrintable(QString::number(waited)));
        QThread::msleep(3000);  // the frozen period passes before the device closes
    }
};

QTEST_GUILESS_MAIN(TestMciDevice)
#include "test_mci_device.moc"
