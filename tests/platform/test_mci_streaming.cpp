// Sounds that stream from disk, heard through SDL's disk driver: long files
// play to their ends with a fixed memory footprint, repeated presses replay
// the opening samples exactly, files that vanish or shrink while they play
// end in silence, MP3 in its common wrappings plays, and a file replaced on
// disk is never served from the cache.
#include "platform/mci/MciService.h"

#include "Kit.h"
#include "MciScript.h"
#include "TestMedia.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <SDL.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>

using mciscript::expect, mciscript::openCommand, mciscript::send;
using testmedia::DiskAudio;

namespace {

// Resident memory of this process now, in MB.
double residentMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}

// The largest step between neighbouring samples of channel 0: a half-scale
// 440 Hz sine moves at most about 1030 per sample, a cut-off sound jumps.
int largestStep(const DiskAudio& audio, qint64 from, qint64 to) {
    int step = 0;
    for (qint64 f = std::max<qint64>(from, 1); f < to; ++f) step = std::max(step, std::abs(audio.sample(f) - audio.sample(f - 1)));
    return step;
}

// Where `frames` frames of `reference` from `refFrom` on appear in `audio`
// sample for sample (both channels, each within `tolerance`), searching from
// `from`; -1 when nowhere.
qint64 findSamples(const DiskAudio& audio, qint64 from, const DiskAudio& reference, qint64 refFrom, qint64 frames, int tolerance) {
    const auto near = [&](qint64 at, qint64 i, int c) { return std::abs(audio.sample(at + i, c) - reference.sample(refFrom + i, c)) <= tolerance; };
    for (qint64 at = from; at + frames <= audio.frames(); ++at) {
        qint64 i = 0;
        while (i < frames && near(at, i, 0) && near(at, i, 1)) ++i;
        if (i == frames) return at;
    }
    return -1;
}

QByteArray le32(uint32_t v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

}  // namespace

class TestMciStreaming : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString out_;

    QString path(const QString& name) const { return dir_.filePath(name); }
    qint64 mark() const { return DiskAudio::mark(out_); }
    DiskAudio since(qint64 from) const { return DiskAudio::since(out_, from); }
    // What was written since `from` once it has ended in at least 0.3 s of
    // silence (the disk driver's pace follows the machine's load, so a
    // fixed sleep is not enough), waiting at most `limitMs`.
    DiskAudio untilQuiet(qint64 from, int limitMs) const {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const DiskAudio audio = since(from);
            const qint64 last = audio.lastLoudFrame();
            if (clock.elapsed() > limitMs || (last >= 0 && audio.frames() - last > audio.rate() * 3 / 10)) return audio;
        }
    }
    // Plays `alias` from `fromMs` to its end; returns what was heard and how
    // long the waiting play took.
    DiskAudio playToEnd(const char* alias, uint32_t fromMs, qint64* waitedMs = nullptr) {
        const qint64 from = mark();
        QElapsedTimer clock;
        clock.start();
        const int result = send(QByteArray("play ") + alias + " from " + QByteArray::number(fromMs) + " wait");
        if (waitedMs) *waitedMs = clock.elapsed();
        if (result != 0) qWarning("play %s from %u: %d", alias, fromMs, result);
        return since(from);
    }

    // Forwards SDL's allocations, noting the largest single request.
    struct Watch {
        static inline SDL_malloc_func malloc_ = nullptr;
        static inline SDL_calloc_func calloc_ = nullptr;
        static inline SDL_realloc_func realloc_ = nullptr;
        static inline SDL_free_func free_ = nullptr;
        static inline size_t largest = 0;
        static void* SDLCALL malloc(size_t n) { return largest = std::max(largest, n), malloc_(n); }
        static void* SDLCALL calloc(size_t count, size_t n) { return largest = std::max(largest, count * n), calloc_(count, n); }
        static void* SDLCALL realloc(void* p, size_t n) { return largest = std::max(largest, n), realloc_(p, n); }
    };

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        out_ = path(QStringLiteral("out.raw"));
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(out_));
        MciService::instance().warmUp();
    }
    void cleanupTestCase() { MciService::instance().shutdown(); }
    // A failed check must not leave its alias open for the next.
    void cleanup() { send("close all"); }

    // Ten minutes of WAV (106 MB decoded) and of MP3, and 40 of ADPCM
    // (9.6 MB, 423 MB decoded), play to their last seconds through the
    // stream, and the reported length is the file's: a play from just
    // before the end is accepted, one past it refused.
    void longFilesPlayToTheirEndsInBoundedMemory_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QStringList>("format");
        QTest::addColumn<int>("seconds");
        QTest::newRow("10-min wav") << "long.wav" << QByteArray("waveaudio") << QStringList{"-r", "44100", "-c", "2", "-b", "16"} << 600;
        QTest::newRow("10-min mp3") << "long.mp3" << QByteArray("mpegvideo") << QStringList{"-r", "44100", "-c", "1"} << 600;
        QTest::newRow("40-min IMA ADPCM") << "long-ima.wav" << QByteArray("waveaudio") << QStringList{"-r", "8000", "-c", "1", "-e", "ima-adpcm"} << 2400;
    }
    void longFilesPlayToTheirEndsInBoundedMemory() {
        QFETCH(QString, name);
        QFETCH(QByteArray, type);
        QFETCH(QStringList, format);
        QFETCH(int, seconds);
        const QString file = path(name);
        QVERIFY(testmedia::makeSoxTone(file, seconds, format));
        const double before = residentMb();
        QCOMPARE(send(openCommand(file, type.constData(), "L")), 0);
        // From the start for a while: the head, then the stream behind it.
        QCOMPARE(send("play L from 0"), 0);
        QThread::msleep(1500);
        // Memory while it plays: the head and one ring buffer, nowhere near
        // the decoded file (106 MB). The bound leaves room for the mixer's
        // and the decoder's own buffers.
        const double growth = residentMb() - before;
        QVERIFY2(growth < 12, qPrintable(QStringLiteral("grew by %1 MB").arg(growth)));

        QCOMPARE(send("stop L"), 0);
        qint64 waited = 0;
        const DiskAudio end = playToEnd("L", uint32_t(seconds - 2) * 1000, &waited);
        const qint64 first = end.firstLoudFrame();
        // Silence until the reader has found the place and buffered a little.
        QVERIFY2(first >= 0 && first < end.rate(), qPrintable(QString::number(first)));
        const double heard = double(end.lastLoudFrame() - first) / end.rate();
        QVERIFY2(heard > 1.9 && heard < 2.1, qPrintable(QString::number(heard)));
        QVERIFY(end.longestQuietRun(first, end.lastLoudFrame()) < 100);
        QVERIFY(qAbs(end.frequency(first + 4410, first + 4410 + 44100) - 440) < 3);
        // The disk driver runs about 15% fast (it sleeps whole milliseconds).
        QVERIFY2(waited > 1600 && waited < 4000, qPrintable(QString::number(waited)));

        expect({{"play L from " + QByteArray::number((seconds + 1) * 1000), 282}, {"close L", 0}});
    }

    // Three presses of a 4 s sound, each while the one before is deep in
    // the stream: each replays the first's opening samples exactly, across
    // the join of the head and the stream (at 0.5 s), where a low-rate MP3
    // comes out of a plain decoder seek with a long silence.
    void repeatedPressReplaysTheOpeningSamples_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QStringList>("format");
        QTest::newRow("wav") << "repeat.wav" << QByteArray("waveaudio") << QStringList{"-r", "44100", "-c", "2"};
        QTest::newRow("resampled wav") << "repeat22.wav" << QByteArray("waveaudio") << QStringList{"-r", "22050", "-c", "1"};
        QTest::newRow("mp3") << "repeat.mp3" << QByteArray("mpegvideo") << QStringList{"-r", "44100", "-c", "1"};
        QTest::newRow("22 kHz VBR mp3") << "repeat22.mp3" << QByteArray("mpegvideo") << QStringList{"-r", "22050", "-c", "1", "-C", "-6"};
        QTest::newRow("IMA ADPCM") << "repeat-ima.wav" << QByteArray("waveaudio") << QStringList{"-r", "44100", "-c", "2", "-e", "ima-adpcm"};
    }
    void repeatedPressReplaysTheOpeningSamples() {
        QFETCH(QString, name);
        QFETCH(QByteArray, type);
        QFETCH(QStringList, format);
        const int tolerance = 0;
        const QString file = path(name);
        QVERIFY(testmedia::makeSoxTone(file, 4, format, 440));
        const QByteArray open = openCommand(file, type.constData(), "R");
        QCOMPARE(send(open), 0);
        const qint64 from = mark();
        QCOMPARE(send("play R from 0"), 0);
        QThread::msleep(2000);
        for (int press = 0; press < 2; ++press) {
            expect({{"close R", 0}, {open, 0}, {"stop R", 0}, {"play R from 0", 0}});
            QThread::msleep(2000);
        }
        QCOMPARE(send("close R"), 0);
        const DiskAudio audio = since(from);
        const qint64 first = audio.firstLoudFrame(0);
        QVERIFY(first >= 0);
        // 0.9 s from the first press, found again twice further on.
        const qint64 length = audio.rate() * 9 / 10;
        const qint64 second = findSamples(audio, first + audio.rate(), audio, first, length, tolerance);
        QVERIFY2(second > first, "the second press did not replay the opening");
        QVERIFY2(findSamples(audio, second + audio.rate(), audio, first, length, tolerance) > second, "nor did the third");
    }

    // A file cut short, or written over with full-scale noise, while it
    // plays: what was read before plays, then a short fade, then silence,
    // and the waiting play ends. The ring buffer holds up to 3 s read
    // ahead, so the end comes within that of the change. Played again, the
    // alias has only its head from before the change.
    void fileChangedWhilePlayingFadesToSilence_data() {
        QTest::addColumn<bool>("overwrite");
        QTest::newRow("cut short") << false;
        QTest::newRow("written over") << true;
    }
    void fileChangedWhilePlayingFadesToSilence() {
        QFETCH(bool, overwrite);
        const QString file = path(QStringLiteral("changed.wav"));
        QVERIFY(testmedia::writeToneWav(file, {{440, 10}}, 44100, 2));
        QCOMPARE(send(openCommand(file, "waveaudio", "T")), 0);
        const qint64 from = mark();
        QCOMPARE(send("play T from 0"), 0);
        QThread::msleep(700);
        if (overwrite) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(44));
            QByteArray noise(int(f.size() - 44), '\0');
            for (qsizetype i = 0; i < noise.size(); ++i) noise[i] = "\xFF\x7F\x00\x80"[i % 4];
            QCOMPARE(f.write(noise), noise.size());
        } else {
            QVERIFY(QFile::resize(file, 44 + 44100 * 4));
        }
        const DiskAudio audio = untilQuiet(from, 15000);
        const qint64 first = audio.firstLoudFrame();
        const double heard = audio.loudSeconds();  // -1 when silent
        QVERIFY2(heard > 0.7 && heard < 4.0, qPrintable(QString::number(heard)));
        QVERIFY2(largestStep(audio, first, audio.frames()) < 1100, "the sound was cut off or noise, not faded");
        QVERIFY(since(mark()).silent());
        qint64 waited = 0;
        const DiskAudio again = playToEnd("T", 0, &waited);
        QVERIFY2(waited > 300 && waited < 1500, qPrintable(QString::number(waited)));
        QVERIFY(!again.silent() && again.peak() < 0.55);
        QCOMPARE(send("close T"), 0);
    }

    // A file deleted while it plays: the alias playing it keeps its open
    // file and plays on to the end. Another alias, pressed meanwhile, must
    // open the file again and cannot: it plays its decoded head, fades and
    // ends. A new open is refused. (The file is longer than the read-ahead,
    // so the first alias still holds its file when the second plays.)
    void fileDeletedWhilePlayingEndsInSilence() {
        const QString file = path(QStringLiteral("gone.wav"));
        QVERIFY(testmedia::writeToneWav(file, {{440, 6}}, 44100, 2));
        expect({{openCommand(file, "waveaudio", "D1"), 0}, {openCommand(file, "waveaudio", "D2"), 0}});
        const qint64 from = mark();
        QCOMPARE(send("play D1 from 0"), 0);
        QThread::msleep(200);
        QVERIFY(QFile::remove(file));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(send("play D2 from 0 wait"), 0);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        const DiskAudio audio = untilQuiet(from, 20000);
        const qint64 first = audio.firstLoudFrame();
        QVERIFY2(qAbs(audio.loudSeconds() - 6) < 0.05, qPrintable(QString::number(audio.loudSeconds())));
        // Two tones of the same pitch add up to one of at most twice the
        // size; a head cut off would jump by far more.
        QVERIFY2(largestStep(audio, first, audio.frames()) < 2200, "the head was cut off, not faded");
        QVERIFY(audio.longestQuietRun(first, audio.lastLoudFrame()) < 100);
        QCOMPARE(send(openCommand(file, "waveaudio", "D3")), 275);
    }

    // MP3 as it comes in the wild: after a large ID3v2 tag, after junk, and
    // inside a RIFF WAVE with format tag 0x55. Each must play its tone.
    void mp3InItsCommonWrappingsPlays_data() {
        QTest::addColumn<QString>("wrapping");
        QTest::newRow("id3v2 tag of 300 KB") << "id3";
        QTest::newRow("leading junk") << "junk";
        QTest::newRow("1 MB of leading junk") << "bigjunk";
        QTest::newRow("riff wave 0x55") << "riff";
    }
    void mp3InItsCommonWrappingsPlays() {
        QFETCH(QString, wrapping);
        const QString plain = path(QStringLiteral("plain.mp3"));
        if (!QFile::exists(plain)) QVERIFY(testmedia::makeMp3(plain, 1.0, 440));
        const QByteArray mp3 = kit::read(plain);
        QByteArray wrapped;
        if (wrapping == QLatin1String("id3")) {
            const int size = 300000;  // syncsafe: 7 bits a byte
            wrapped = QByteArray("ID3\x03\x00\x00", 6);
            for (int shift = 21; shift >= 0; shift -= 7) wrapped.append(char((size >> shift) & 0x7F));
            wrapped.append("TIT2", 4).append(le32(0)).append(QByteArray(size - 8, '\0')).append(mp3);
        } else if (wrapping.endsWith(QLatin1String("junk"))) {
            QByteArray junk;
            while (junk.size() < (wrapping == QLatin1String("junk") ? 5000 : 1000000)) junk.append("not audio \xFF\xFB at all; ");
            wrapped = junk + mp3;
        } else {
            QByteArray fmt;
            fmt.append("\x55\x00\x01\x00", 4).append(le32(44100)).append(le32(16000)).append("\x01\x00\x00\x00", 4);
            fmt.append("\x0C\x00\x01\x00\x02\x00\x00\x00\xA1\x01\x01\x00\x71\x05", 14);  // MPEGLAYER3WAVEFORMAT tail
            QByteArray body = QByteArray("WAVEfmt ") + le32(uint32_t(fmt.size())) + fmt + "data" + le32(uint32_t(mp3.size())) + mp3;
            if (mp3.size() % 2) body.append('\0');
            wrapped = "RIFF" + le32(uint32_t(body.size())) + body;
        }
        const QString file = path(wrapping + QStringLiteral(".mp3"));
        QVERIFY(testmedia::writeBytes(file, wrapped));
        // The extension and device type do not decide: content does.
        QCOMPARE(send(openCommand(file, wrapping == QLatin1String("riff") ? "waveaudio" : "mpegvideo", "W")), 0);
        const DiskAudio audio = playToEnd("W", 0);
        QCOMPARE(send("close W"), 0);
        const qint64 first = audio.firstLoudFrame();
        QVERIFY2(qAbs(audio.loudSeconds() - 1) < 0.05, qPrintable(QString::number(audio.loudSeconds())));
        QVERIFY(qAbs(audio.frequency(first + 4410, first + 4410 + 22050) - 440) < 3);
    }

    // WAV sample formats other than the device's are converted as they stream.
    void wavFormatsPlayTheirTone_data() {
        QTest::addColumn<QStringList>("format");
        // A recording that never finished: its header says no data follows.
        QTest::newRow("data size 0") << QStringList{"-r", "44100", "-c", "2"};
        QTest::newRow("22050 Hz mono") << QStringList{"-r", "22050", "-c", "1", "-b", "16"};
        QTest::newRow("48 kHz 24-bit stereo") << QStringList{"-r", "48000", "-c", "2", "-b", "24"};
        QTest::newRow("8-bit unsigned") << QStringList{"-r", "11025", "-c", "1", "-b", "8"};
        QTest::newRow("mu-law") << QStringList{"-r", "8000", "-c", "1", "-e", "u-law"};
        QTest::newRow("a-law") << QStringList{"-r", "8000", "-c", "1", "-e", "a-law"};
        QTest::newRow("64-bit float") << QStringList{"-r", "44100", "-c", "1", "-e", "floating-point", "-b", "64"};
        QTest::newRow("MS ADPCM") << QStringList{"-r", "22050", "-c", "1", "-e", "ms-adpcm"};
        QTest::newRow("IMA ADPCM stereo") << QStringList{"-r", "16000", "-c", "2", "-e", "ima-adpcm"};
    }
    void wavFormatsPlayTheirTone() {
        QFETCH(QStringList, format);
        const QString file = path(QStringLiteral("format-%1.wav").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
        QVERIFY(testmedia::makeSoxTone(file, 1.5, format, 440));
        if (QTest::currentDataTag() == QLatin1String("data size 0")) {
            QByteArray bytes = kit::read(file);
            const qsizetype data = bytes.indexOf("data");
            QVERIFY(data > 0 && kit::write(file, bytes.replace(data + 4, 4, le32(0))));
        }
        QCOMPARE(send(openCommand(file, "waveaudio", "F")), 0);
        const DiskAudio audio = playToEnd("F", 0);
        QCOMPARE(send("close F"), 0);
        const qint64 first = audio.firstLoudFrame();
        QVERIFY2(qAbs(audio.loudSeconds() - 1.5) < 0.05, qPrintable(QString::number(audio.loudSeconds())));
        QVERIFY(audio.longestQuietRun(first, audio.lastLoudFrame()) < 30);
        QVERIFY2(qAbs(audio.frequency(first + 4410, audio.lastLoudFrame() - 4410) - 440) < 3,
                 qPrintable(QString::number(audio.frequency(first + 4410, audio.lastLoudFrame() - 4410))));
        QVERIFY2(audio.peak() > 0.45 && audio.peak() < 0.55, qPrintable(QString::number(audio.peak())));
    }

    // ADPCM streams block by block, and comes out sample for sample as
    // SDL's own decoder makes it of the whole file.
    void adpcmPlaysAsSdlDecodesIt_data() {
        QTest::addColumn<QString>("codec");
        QTest::newRow("IMA") << "ima-adpcm";
        QTest::newRow("MS") << "ms-adpcm";
    }
    void adpcmPlaysAsSdlDecodesIt() {
        QFETCH(QString, codec);
        const QString file = path(codec + QStringLiteral(".wav"));
        QVERIFY(testmedia::makeSoxTone(file, 1.5, {"-r", "44100", "-c", "2", "-e", codec}, 440));
        SDL_AudioSpec spec{};
        Uint8* buffer = nullptr;
        Uint32 length = 0;
        QVERIFY(SDL_LoadWAV(QFile::encodeName(file).constData(), &spec, &buffer, &length));
        const QString decoded = path(codec + QStringLiteral(".raw"));
        QVERIFY(testmedia::writeBytes(decoded, QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(length))));
        SDL_FreeWAV(buffer);
        QVERIFY(spec.format == AUDIO_S16SYS && spec.channels == 2 && spec.freq == 44100);
        const DiskAudio reference = DiskAudio::read(decoded);
        QCOMPARE(send(openCommand(file, "waveaudio", "A")), 0);
        const DiskAudio audio = playToEnd("A", 0);
        QCOMPARE(send("close A"), 0);
        QVERIFY(reference.frames() > 66000);
        QVERIFY(findSamples(audio, 0, reference, 0, reference.frames(), 0) >= 0);
    }

    // A WAV whose data chunk claims 2 GB in a file of a few kilobytes: the
    // loader must not ask for what the header claims (the largest single
    // request SDL makes is watched through its allocator).
    void lyingDataLengthCostsOnlyWhatTheFileHolds() {
        const QString file = path(QStringLiteral("lying.wav"));
        QVERIFY(testmedia::makeSoxTone(file, 0.3, {"-r", "22050", "-c", "1", "-e", "ms-adpcm"}, 440));
        QByteArray bytes = kit::read(file);
        const qsizetype data = bytes.indexOf("data");
        QVERIFY(data > 0 && kit::write(file, bytes.replace(data + 4, 4, le32(0x7FFFFFF0))));

        SDL_GetMemoryFunctions(&Watch::malloc_, &Watch::calloc_, &Watch::realloc_, &Watch::free_);
        Watch::largest = 0;
        SDL_SetMemoryFunctions(&Watch::malloc, &Watch::calloc, &Watch::realloc, Watch::free_);
        const int opened = send(openCommand(file, "waveaudio", "L"));
        SDL_SetMemoryFunctions(Watch::malloc_, Watch::calloc_, Watch::realloc_, Watch::free_);
        QCOMPARE(opened, 0);
        QVERIFY2(Watch::largest < 16u * 1024 * 1024, qPrintable(QString::number(Watch::largest)));
        const DiskAudio audio = playToEnd("L", 0);
        QVERIFY(audio.firstLoudFrame() >= 0);
    }

    // A file replaced by one of the same size with its modification time
    // put back (a copy that keeps times, a coarse file system) is a new
    // file: its own audio plays, not the cached one.
    void sameSizeReplacementWithTheOldTimeIsOpenedAgain_data() {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("renamed over") << false;
        QTest::newRow("rewritten in place") << true;
    }
    void sameSizeReplacementWithTheOldTimeIsOpenedAgain() {
        QFETCH(bool, inPlace);
        const QString file = path(QStringLiteral("same.wav"));
        QVERIFY(testmedia::writeToneWav(file, {{440, 0.3}}));
        struct stat old {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &old), 0);
        expect({{openCommand(file, "waveaudio", "S"), 0}, {"play S from 0 wait", 0}, {"close S", 0}});

        if (inPlace) {
            QVERIFY(testmedia::writeToneWav(file, {{880, 0.3}}));
        } else {
            const QString other = path(QStringLiteral("same.new"));
            QVERIFY(testmedia::writeToneWav(other, {{880, 0.3}}));
            QCOMPARE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(file).constData()), 0);
        }
        const timespec times[2] = {old.st_atim, old.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
        struct stat now {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &now), 0);
        QVERIFY(now.st_size == old.st_size && now.st_mtim.tv_nsec == old.st_mtim.tv_nsec);

        QCOMPARE(send(openCommand(file, "waveaudio", "S")), 0);
        const DiskAudio audio = playToEnd("S", 0);
        QCOMPARE(send("close S"), 0);
        const qint64 first = audio.firstLoudFrame();
        QVERIFY(first >= 0);
        QVERIFY2(qAbs(audio.frequency(first, first + 8820) - 880) < 10, qPrintable(QString::number(audio.frequency(first, first + 8820))));
    }
};

QTEST_GUILESS_MAIN(TestMciStreaming)
#include "test_mci_streaming.moc"
