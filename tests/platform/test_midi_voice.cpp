// The MIDI voice rendered straight into memory, period by period as the
// mixer would: where a sound ends, how loud it may get, and that playing
// never reads the soundfont from disk.
#include "platform/mci/MidiFile.h"
#include "platform/mci/MidiSynthPool.h"
#include "platform/mci/MidiVoice.h"
#include "platform/mci/Sound.h"

#include "MidiMaker.h"
#include "TestMedia.h"

#include <QFile>
#include <QtTest>

#include <cstdlib>
#include <vector>

using mci::MidiVoice;

namespace {

constexpr int Rate = mci::device::Rate;
constexpr int Period = mci::device::PeriodFrames;

std::shared_ptr<mci::Sound> midiSound(const QByteArray& bytes) {
    auto sound = std::make_shared<mci::Sound>(mci::Sound::Kind::Midi);
    sound->song = std::make_shared<const mci::MidiSong>(mci::readMidi(bytes).value());
    sound->midiSeconds = sound->song->info.seconds;
    return sound;
}

// Renders until the voice finishes (or `limitSeconds`); interleaved stereo.
std::vector<int16_t> renderAll(MidiVoice& voice, double limitSeconds = 20) {
    std::vector<int16_t> out;
    std::vector<int16_t> period(Period * 2);
    while (!voice.finished() && out.size() < size_t(limitSeconds * Rate * 2)) {
        std::fill(period.begin(), period.end(), 0);
        voice.render(reinterpret_cast<Uint8*>(period.data()), Period * 4);
        out.insert(out.end(), period.begin(), period.end());
    }
    return out;
}

double peakOf(const std::vector<int16_t>& s, size_t fromFrame, size_t toFrame) {
    int peak = 0;
    for (size_t i = fromFrame * 2; i < std::min(s.size(), toFrame * 2); ++i) peak = std::max(peak, std::abs(int(s[i])));
    return peak / 32768.0;
}

}  // namespace

class TestMidiVoice : public QObject {
    Q_OBJECT
    mci::MidiSynthPool pool_{QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2")};

    std::unique_ptr<MidiVoice> voiceFor(const QByteArray& bytes) {
        auto voice = MidiVoice::create(midiSound(bytes), pool_);
        if (voice && voice->seek(0) != 0) return nullptr;
        return voice;
    }

private slots:
    void initTestCase() { QVERIFY2(pool_.prepare(), "the General MIDI soundfont is missing"); }

    void soundEndsByTheFilesClock_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<double>("lastEvent");
        QTest::addColumn<double>("minEnd");
        QTest::addColumn<double>("maxEnd");
        // String Ensemble without a note-off: the synthesiser would hold it
        // for ever; it ends after the tail, faded.
        const double tail = double(MidiVoice::TailFrames) / Rate;
        QTest::newRow("held strings") << midimaker::chord(48, {60}, 0.5, false) << 0.5 << 0.5 + tail << 0.5 + tail;
        // Released piano notes end as soon as they have died away.
        QTest::newRow("released piano") << testmedia::midiBytes(4, 0.25) << 1.0 << 1.0 << 1.0 + tail;
        QTest::newRow("empty") << midimaker::chord(0, {}, 0.0) << 0.0 << 0.0 << 0.0;
        QTest::newRow("riff midi") << midimaker::rmid(midimaker::chord(48, {60}, 0.5, false)) << 0.5 << 0.5 + tail << 0.5 + tail;
        // SMPTE timing, 25 frames of 40 ticks a second: the chord's 480
        // ticks last 0.48 s, whatever its tempo event says.
        QByteArray smpte = midimaker::chord(48, {60}, 0.5, false);
        smpte.replace(12, 2, QByteArray("\xE7\x28", 2));
        QTest::newRow("smpte") << smpte << 0.48 << 0.48 + tail << 0.48 + tail;
    }
    void soundEndsByTheFilesClock() {
        QFETCH(QByteArray, file);
        QFETCH(double, lastEvent);
        QFETCH(double, minEnd);
        QFETCH(double, maxEnd);
        auto voice = voiceFor(file);
        QVERIFY(voice);
        const std::vector<int16_t> out = renderAll(*voice);
        QVERIFY(voice->finished());
        const double end = double(out.size() / 2) / Rate;
        // Ends in the period that holds its end, plus one to notice silence.
        QVERIFY2(end >= minEnd && end <= maxEnd + 2.0 * Period / Rate, qPrintable(QString::number(end)));
        if (lastEvent > 0) QVERIFY(peakOf(out, 0, size_t(lastEvent * Rate)) > 0.05);
        // No click at the cut: the last millisecond is near silence.
        QVERIFY(peakOf(out, out.size() / 2 - 44, out.size() / 2) < 0.01);
        // Rendering on after the end adds nothing.
        std::vector<int16_t> after(Period * 2, 0);
        voice->render(reinterpret_cast<Uint8*>(after.data()), Period * 4);
        QVERIFY(std::all_of(after.begin(), after.end(), [](int16_t s) { return s == 0; }));
    }

    void denseChordStaysUnderFullScale() {
        // Seven sustained string notes at full velocity, then an organ chord:
        // the synthesiser's sum goes far over full scale, the output must not.
        for (int program : {48, 16}) {
            auto voice = voiceFor(midimaker::chord(program, {48, 52, 55, 60, 64, 67, 72}, 2.0));
            QVERIFY(voice);
            const std::vector<int16_t> out = renderAll(*voice);
            const auto clipped = std::count_if(out.begin(), out.end(), [](int16_t s) { return s == 32767 || s == -32768; });
            QCOMPARE(clipped, 0);
            const double peak = peakOf(out, 0, out.size() / 2);
            QVERIFY2(peak > 0.3 && peak <= MidiVoice::Ceiling + 0.001, qPrintable(QString::number(peak)));
        }
    }

    void playingNeverReadsTheSoundfont() {
        const long beforeAnyPlay = mci::MidiSynthPool::soundfontReads();
        QVERIFY(beforeAnyPlay > 0);  // loading it was counted
        // New instruments, a replay from the start (which resets the
        // synthesiser) and a synthesiser handed back and taken again.
        for (int program : {48, 19, 56, 0}) {
            auto voice = voiceFor(midimaker::chord(program, {60, 64}, 0.2));
            QVERIFY(voice);
            renderAll(*voice);
            QCOMPARE(voice->seek(0), 0);
            renderAll(*voice);
        }
        QCOMPARE(mci::MidiSynthPool::soundfontReads(), beforeAnyPlay);
    }

    void riffWrapperIsOpenedAndCheckedLikeThePlainFile() {
        const QByteArray smf = midimaker::chord(0, {60}, 0.75);
        const QByteArray wrapped = midimaker::rmid(smf);
        QVERIFY(mci::isRiffMidi(wrapped));
        QCOMPARE(mci::unwrapRiffMidi(wrapped), smf);
        QCOMPARE(mci::inspectMidi(wrapped)->seconds, mci::inspectMidi(smf)->seconds);
        // A list chunk before the data is skipped; a wrapper cut short or an
        // odd MIDI inside it are refused.
        QByteArray withInfo = wrapped;
        withInfo.insert(12, QByteArray("LIST\x03\x00\x00\x00" "abc\0", 12));
        withInfo[4] = char(withInfo[4] + 12);
        QCOMPARE(mci::unwrapRiffMidi(withInfo), smf);
        QVERIFY(!mci::inspectMidi(wrapped.left(wrapped.size() - 3)));
        QByteArray broken = midimaker::rmid(smf.left(20));
        QVERIFY(!mci::inspectMidi(broken));
        QVERIFY(!mci::isRiffMidi(QByteArray("RIFF\0\0\0\0WAVE", 12)));
    }
};

QTEST_GUILESS_MAIN(TestMidiVoice)
#include "test_midi_voice.moc"
