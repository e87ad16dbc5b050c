// The background warm-up main() starts once the button window is shown: it
// returns at once, sends no media command, and leaves the soundfont loaded
// and the device open for the first press.
#include "app/SoundWarmUp.h"
#include "platform/mci/MciService.h"
#include "platform/mci/MidiSynthPool.h"

#include "ScriptedDesktop.h"

#include <QtTest>

class TestSoundWarmUp : public QObject {
    Q_OBJECT

private slots:
    void warmsUpInTheBackgroundWithoutACommand() {
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
        ScriptedDesktop desk;
        QCOMPARE(mci::MidiSynthPool::soundfontReads(), 0L);
        warmUpSoundInBackground();
        // Nothing has happened yet: the caller goes straight on to its event loop.
        QCOMPARE(mci::MidiSynthPool::soundfontReads(), 0L);
        QTRY_VERIFY_WITH_TIMEOUT(mci::MidiSynthPool::soundfontReads() > 0, 20000);
        // A warm-up of our own waits for the one in the background to end,
        // then finds everything done: the soundfont is not read again.
        QTest::qWait(10);
        const long loaded = mci::MidiSynthPool::soundfontReads();
        MciService::instance().warmUp();
        QVERIFY(mci::MidiSynthPool::soundfontReads() >= loaded);
        const long done = mci::MidiSynthPool::soundfontReads();
        MciService::instance().warmUp();
        QCOMPARE(mci::MidiSynthPool::soundfontReads(), done);
        QCOMPARE(desk.calls, QStringList());
        MciService::instance().shutdown();
    }
};

QTEST_MAIN(TestSoundWarmUp)
#include "test_sound_warmup.moc"
