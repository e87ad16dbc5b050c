// Press-to-sound latency of the media-command service: the command sequence
// one press sends ("close", "open ... wait", "stop", "play ... from 0"), timed
// from the first command to the first non-silent period the mixer produces
// (a post-mix hook timestamps it on the audio thread). For WAV, MP3 and MIDI,
// short (0.5 s) and long (60 s) files, first press of a sound not seen before
// and repeated press. Also prints the peak resident memory afterwards.
//
// Usage: bench_sound_latency [iterations]   (SDL_AUDIODRIVER defaults to
// "dummy", which paces its periods in real time like a sound card).
#include "platform/mci/MciService.h"

#include "TestMedia.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <SDL_mixer.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> armed{false};
std::atomic<int64_t> heardAt{0};  // steady_clock ticks, 0 = not yet
std::atomic<int64_t> lastMix{0};
std::atomic<int64_t> longestGap{0};  // longest time between two periods, ticks

void SDLCALL postMix(void*, Uint8* stream, int len) {
    const int64_t now = Clock::now().time_since_epoch().count();
    const int64_t previous = lastMix.exchange(now);
    if (previous && now - previous > longestGap.load()) longestGap.store(now - previous);
    if (!armed.load(std::memory_order_acquire)) return;
    const auto* samples = reinterpret_cast<const int16_t*>(stream);
    for (int i = 0; i < len / 2; ++i) {
        if (std::abs(int(samples[i])) > 2) {
            heardAt.store(Clock::now().time_since_epoch().count());
            armed.store(false);
            return;
        }
    }
}

// One press; returns milliseconds to the first sound, or -1 if none came.
double press(const QString& file, const char* type) {
    MciService& mci = MciService::instance();
    // Presses come at any moment relative to the device's periods.
    static std::mt19937 random(42);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 6000)(random)));
    heardAt.store(0);
    armed.store(true, std::memory_order_release);
    const auto start = Clock::now();
    mci.sendString("close A");
    const int opened = mci.sendString("open \"" + QFile::encodeName(file) + "\" type " + type + " alias A wait");
    mci.sendString("stop A");
    const int played = mci.sendString("play A from 0");
    if (opened || played) {
        std::fprintf(stderr, "open %d play %d for %s\n", opened, played, qPrintable(file));
        armed.store(false);
        return -1;
    }
    const auto deadline = start + std::chrono::seconds(2);
    while (heardAt.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::microseconds(200));
    armed.store(false);
    const int64_t at = heardAt.load();
    if (at == 0) return -1;
    const auto heard = Clock::time_point(Clock::duration(at));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    mci.sendString("stop A");
    return std::chrono::duration<double, std::milli>(heard - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
    if (qEnvironmentVariable("SDL_AUDIODRIVER") == QLatin1String("disk") && qEnvironmentVariableIsEmpty("SDL_DISKAUDIOFILE"))
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
    QCoreApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(1, atoi(argv[1])) : 11;

    QTemporaryDir dir;
    struct Kind {
        const char* name;
        const char* type;
        const char* ext;
        double seconds;
    };
    const Kind kinds[] = {{"WAV", "waveaudio", "wav", 0.5}, {"WAV", "waveaudio", "wav", 60},
                          {"MP3", "mpegvideo", "mp3", 0.5}, {"MP3", "mpegvideo", "mp3", 60},
                          {"MIDI", "sequencer", "mid", 0.5}, {"MIDI", "sequencer", "mid", 60}};
    // One copy per cold press: the cache is keyed by path, so each copy is a new sound.
    std::printf("making media...\n");
    for (const Kind& k : kinds) {
        const QString base = dir.filePath(QStringLiteral("%1-%2.%3").arg(k.name).arg(k.seconds).arg(QLatin1String(k.ext)));
        bool ok = true;
        if (k.ext == QLatin1String("wav")) ok = testmedia::writeToneWav(base, {{440, k.seconds}}, 44100, 2);
        else if (k.ext == QLatin1String("mid")) ok = testmedia::writeMidi(base, int(k.seconds * 4), 0.25);
        else ok = testmedia::makeMp3(base, k.seconds);
        if (!ok) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(base));
            return 1;
        }
        for (int i = 0; i < iterations; ++i) QFile::copy(base, base + QString::number(i));
    }

    MciService& mci = MciService::instance();
    const auto warmStart = Clock::now();
    mci.warmUp();
    const double warmMs = std::chrono::duration<double, std::milli>(Clock::now() - warmStart).count();
    Mix_SetPostMix(postMix, nullptr);
    int rate = 0, channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
    const double periodMs = 256 * 1000.0 / rate;

    std::printf("driver %s, %d Hz, period 256 frames = %.3f ms; warmUp %.1f ms; %d presses each\n",
                qPrintable(qEnvironmentVariable("SDL_AUDIODRIVER")), rate, periodMs, warmMs, iterations);
    std::printf("%-5s %6s  %-7s %9s %9s %9s  %s\n", "kind", "length", "press", "median", "max", "periods", "target");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bool allMet = true;
    for (const Kind& k : kinds) {
        const QString base = dir.filePath(QStringLiteral("%1-%2.%3").arg(k.name).arg(k.seconds).arg(QLatin1String(k.ext)));
        std::vector<double> cold, warm;
        longestGap.store(0);
        for (int i = 0; i < iterations; ++i) cold.push_back(press(base + QString::number(i), k.type));
        press(base, k.type);
        for (int i = 0; i < iterations; ++i) warm.push_back(press(base, k.type));
        mci.sendString("close A");
        const double gap = std::chrono::duration<double, std::milli>(Clock::duration(longestGap.load())).count();
        for (int pass = 0; pass < 2; ++pass) {
            const std::vector<double>& v = pass == 0 ? cold : warm;
            const bool failed = std::count(v.begin(), v.end(), -1.0) > 0;
            const double med = median(v);
            const double target = pass == 0 ? 30.0 : periodMs + 1.0;
            const bool met = !failed && med <= target;
            allMet = allMet && met;
            std::printf("%-5s %5.1fs  %-7s %7.2fms %7.2fms %9.2f  <= %.1f ms %-8s", k.name, k.seconds,
                        pass == 0 ? "first" : "repeat", med, *std::max_element(v.begin(), v.end()), med / periodMs,
                        target, failed ? "NO SOUND" : met ? "met" : "MISSED");
            if (pass == 0) std::printf("  longest period gap %.1f ms", gap);
            std::printf("\n");
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak RSS after playing the long files: %.1f MB\n", usage.ru_maxrss / 1024.0);
    mci.shutdown();
    return allMet ? 0 : 2;
}
