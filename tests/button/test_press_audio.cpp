// A press through the button window with real audio: the media-command
// service mixes through SDL's disk driver and the output is read back.
#include "FreshWindows.h"
#include "TestMedia.h"
#include "app/Forms.h"
#include "button/frmBase.h"
#include "platform/mci/MciService.h"
#include "settings/frmSetDlg.h"
#include "sound/mdlSndAPI.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

using testmedia::DiskAudio;

class TestPressAudio : public WindowTest {
    Q_OBJECT
    QTemporaryDir dir;
    QString out;

    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    void setSound(const QString& p) { Forms::SetDlg().Text1[2]->setText(p); }
    DiskAudio heardSince(qint64 from, int ms) {
        QThread::msleep(ms);
        return DiskAudio::read(out, from);
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        out = path("mixed.raw");
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", out.toUtf8());
        QVERIFY(testmedia::writeToneWav(path("press.wav"), {{440, 0.4}}));
        QVERIFY(testmedia::makeMp3(path("press.mp3"), 0.4));
        QVERIFY(testmedia::writeMidi(path("press.mid"), 3, 0.2));
        QVERIFY(testmedia::writeBytes(path("garbage.wav"), QByteArray(4000, '\x5a')));
        QVERIFY(testmedia::writeBytes(path("garbage.mp3"), QByteArray("ID3") + QByteArray(3000, '\x01')));
        QVERIFY(testmedia::writeBytes(path("garbage.mid"), testmedia::midiBytes().left(30)));
        QVERIFY(testmedia::writeBytes(path("empty.wav"), QByteArray()));
    }
    void cleanupTestCase() { MciService::instance().shutdown(); }

    void init() {
        show = false;
        WindowTest::init();
        desk->useRealMci();
        // Silence whatever an earlier case left playing, so each case hears only itself.
        CloseMciSounds();
        QThread::msleep(100);
    }

    void pressSoundsEachFormat_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("wav") << "press.wav";
        QTest::newRow("mp3") << "press.mp3";
        QTest::newRow("midi") << "press.mid";
    }
    void pressSoundsEachFormat() {
        QFETCH(QString, file);
        setSound(dir.filePath(file));
        const qint64 from = DiskAudio::framesIn(out);
        QTest::keyClick(w, Qt::Key_Space);
        QVERIFY(w->Pressed());
        const DiskAudio heard = heardSince(from, 700);
        QVERIFY2(!heard.silent(), qPrintable(file + " produced no sound"));
        QVERIFY(heard.peak() > 0.1);
    }

    void brokenFilesAreSilentAndHarmless() {
        for (const char* name : {"garbage.wav", "garbage.mp3", "garbage.mid", "empty.wav"}) {
            w->PressReset();
            setSound(path(name));
            const qint64 from = DiskAudio::framesIn(out);
            w->Label1_Click();
            // The press itself goes on: the picture and the latch do not depend on the sound.
            QVERIFY(w->Pressed());
            QVERIFY2(heardSince(from, 300).silent(), name);
            QVERIFY(!desk->calls.join('\n').contains("MsgBox"));
        }
    }
};

QTEST_MAIN(TestPressAudio)
#include "test_press_audio.moc"
