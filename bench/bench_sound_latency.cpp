// Press-to-sound latency of the media-command service: the command sequence
// one press sends ("close", "open ... wait", "stop", "play ... from 0"), timed
// from the first command to the first non-silent period the mixer produces
// (a post-mix hook timestamps it on the audio thread). For WAV, MP3 and MIDI,
// short (0.5 s), 60 s and, for WAV and MP3, 10-min and 60-min files (made in
// a temporary folder and deleted at the end; the 60-min WAV is 635 MB):
// first press of a sound not seen before, repeated press, and the time the
// caller's thread spends sending the four commands (the press handler's
// share). Also prints the peak resident memory afterwards.
//
// Then the peers, on the same files in the same run:
//  - SDL_mixer's floor: a minimal SDL_mixer program that preloads the file
//    as a chunk and plays it per press (not for the 60-min files: the chunk
//    alone would be 635 MB);
//  - a command-line player started per press: sox decoding the file to its
//    standard output, timed from the start of the process to its first
//    non-silent sample (what a script-based buzzer pays before any device).
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
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <SDL.h>
#include <SDL_mixer.h>
#include <sys/resource.h>
#include <unistd.h>

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

// Waits for the post-mix hook to hear something after `start`; ms or -1.
double heardAfter(Clock::time_point start) {
    const auto deadline = start + std::chrono::seconds(2);
    while (heardAt.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::microseconds(200));
    armed.store(false);
    const int64_t at = heardAt.load();
    return at == 0 ? -1 : std::chrono::duration<double, std::milli>(Clock::time_point(Clock::duration(at)) - start).count();
}

// One press; returns milliseconds to the first sound, or -1 if none came.
// `handlerMs` gets the time the four commands took on this thread.
double press(const QString& file, const char* type, double* handlerMs = nullptr) {
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
    if (handlerMs) *handlerMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (opened || played) {
        std::fprintf(stderr, "open %d play %d for %s\n", opened, played, qPrintable(file));
        armed.store(false);
        return -1;
    }
    const double heard = heardAfter(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    mci.sendString("stop A");
    return heard;
}

// SDL_mixer's floor: the file preloaded as a chunk, one press is one
// Mix_PlayChannel on the same device setup.
struct Floor {
    double loadMs = -1;
    std::vector<double> presses;
};
Floor sdlMixerFloor(const QString& file, int iterations) {
    Floor floor;
    const auto loadStart = Clock::now();
    Mix_Chunk* chunk = Mix_LoadWAV(QFile::encodeName(file).constData());
    floor.loadMs = std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count();
    if (!chunk) return floor;
    static std::mt19937 random(7);
    for (int i = 0; i < iterations; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 6000)(random)));
        heardAt.store(0);
        armed.store(true, std::memory_order_release);
        const auto start = Clock::now();
        Mix_HaltChannel(0);
        Mix_PlayChannel(0, chunk, 0);
        floor.presses.push_back(heardAfter(start));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    Mix_HaltChannel(0);
    Mix_FreeChunk(chunk);
    return floor;
}

// A command-line player started per press: process start to its first
// non-silent decoded sample on its standard output, or -1.
double soxPress(const QString& file) {
    QProcess sox;
    const auto start = Clock::now();
    sox.start(QStringLiteral("sox"), {QStringLiteral("-q"), file, QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-e"),
                                      QStringLiteral("signed"), QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("-c"),
                                      QStringLiteral("2"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-")});
    QByteArray pending;
    double heard = -1;
    while (heard < 0 && sox.state() != QProcess::NotRunning && Clock::now() - start < std::chrono::seconds(5)) {
        sox.waitForReadyRead(5);
        pending += sox.readAllStandardOutput();
        const auto* samples = reinterpret_cast<const int16_t*>(pending.constData());
        for (qsizetype i = 0; i < pending.size() / 2; ++i) {
            if (std::abs(int(samples[i])) > 2) {
                heard = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                break;
            }
        }
        pending.remove(0, pending.size() / 2 * 2);
    }
    sox.kill();
    sox.waitForFinished(2000);
    return heard;
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
    const Kind kinds[] = {{"WAV", "waveaudio", "wav", 0.5},  {"WAV", "waveaudio", "wav", 60},
                          {"WAV", "waveaudio", "wav", 600},  {"WAV", "waveaudio", "wav", 3600},
                          {"MP3", "mpegvideo", "mp3", 0.5},  {"MP3", "mpegvideo", "mp3", 60},
                          {"MP3", "mpegvideo", "mp3", 600},  {"MP3", "mpegvideo", "mp3", 3600},
                          {"MIDI", "sequencer", "mid", 0.5}, {"MIDI", "sequencer", "mid", 60}};
    const auto baseName = [&](const Kind& k) {
        return dir.filePath(QStringLiteral("%1-%2.%3").arg(QLatin1String(k.name)).arg(k.seconds).arg(QLatin1String(k.ext)));
    };
    // One name per cold press: the cache knows a sound by its path, so each
    // hard link is a new sound (links, because copies of the 60-min WAV
    // would fill the disk).
    std::printf("making media (the long files take a while)...\n");
    for (const Kind& k : kinds) {
        const QString base = baseName(k);
        bool ok = true;
        if (k.ext == QLatin1String("wav") && k.seconds > 60)
            ok = testmedia::makeSoxTone(base, k.seconds, {QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16")});
        else if (k.ext == QLatin1String("wav")) ok = testmedia::writeToneWav(base, {{440, k.seconds}}, 44100, 2);
        else if (k.ext == QLatin1String("mid")) ok = testmedia::writeMidi(base, int(k.seconds * 4), 0.25);
        else ok = testmedia::makeMp3(base, k.seconds);
        if (!ok) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(base));
            return 1;
        }
        for (int i = 0; i < iterations; ++i)
            ok = ok && ::link(QFile::encodeName(base).constData(), QFile::encodeName(base + QString::number(i)).constData()) == 0;
        if (!ok) return 1;
    }

    MciService& mci = MciService::instance();
    // As the program does once a MIDI file is the chosen sound (the others
    // do not need the soundfont, and the first press of each still reads
    // its own file here).
    const auto warmStart = Clock::now();
    mci.warmUp(baseName(kinds[std::size(kinds) - 1]));
    const double warmMs = std::chrono::duration<double, std::milli>(Clock::now() - warmStart).count();
    Mix_SetPostMix(postMix, nullptr);
    int rate = 0, channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
    const double periodMs = 256 * 1000.0 / rate;

    std::printf("driver %s, %d Hz, period 256 frames = %.3f ms; warmUp %.1f ms; %d presses each\n",
                qPrintable(qEnvironmentVariable("SDL_AUDIODRIVER")), rate, periodMs, warmMs, iterations);
    std::printf("The machine is shared: figures are medians and still noisy.\n");
    std::printf("%-5s %7s  %-7s %9s %9s %7s  %-14s %s\n", "kind", "length", "press", "median", "max", "ratio", "target", "");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bool allMet = true;
    struct Ours {
        double first, repeat;
    };
    std::vector<Ours> ours;
    for (const Kind& k : kinds) {
        const QString base = baseName(k);
        std::vector<double> cold, warm, handler;
        longestGap.store(0);
        for (int i = 0; i < iterations; ++i) {
            double ms = 0;
            cold.push_back(press(base + QString::number(i), k.type, &ms));
            handler.push_back(ms);
        }
        press(base, k.type);
        for (int i = 0; i < iterations; ++i) {
            double ms = 0;
            warm.push_back(press(base, k.type, &ms));
            handler.push_back(ms);
        }
        mci.sendString("close A");
        const double gap = std::chrono::duration<double, std::milli>(Clock::duration(longestGap.load())).count();
        for (int pass = 0; pass < 3; ++pass) {
            const std::vector<double>& v = pass == 0 ? cold : pass == 1 ? warm : handler;
            const bool failed = std::count(v.begin(), v.end(), -1.0) > 0;
            const double med = median(v);
            const double target = pass == 0 ? 30.0 : pass == 1 ? periodMs + 1.0 : 5.0;
            const bool met = !failed && med <= target;
            allMet = allMet && met;
            std::printf("%-5s %6.1fs  %-7s %7.2fms %7.2fms %7.2f  <= %5.2f ms %-8s", k.name, k.seconds,
                        pass == 0 ? "first" : pass == 1 ? "repeat" : "handler", med, *std::max_element(v.begin(), v.end()),
                        med / target, target, failed ? "NO SOUND" : met ? "met" : "MISSED");
            if (pass == 0) std::printf("  longest period gap %.1f ms", gap);
            std::printf("\n");
        }
        ours.push_back({median(cold), median(warm)});
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak RSS after playing every file above, 60-min ones included: %.1f MB\n", usage.ru_maxrss / 1024.0);
    mci.shutdown();

    // The peers, on the same files.
    std::printf("\npeers (ratio = ours / theirs; below 1 is faster than the peer)\n");
    std::printf("%-5s %7s  %-34s %9s  %s\n", "kind", "length", "peer", "median", "ratio first / repeat");
    SDL_Init(SDL_INIT_AUDIO);
    const bool mixer = Mix_OpenAudioDevice(44100, AUDIO_S16SYS, 2, 256, nullptr, 0) == 0;
    if (mixer) {
        Mix_AllocateChannels(1);
        Mix_SetPostMix(postMix, nullptr);
    }
    const bool haveSox = !QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty();
    for (size_t i = 0; i < std::size(kinds); ++i) {
        const Kind& k = kinds[i];
        if (k.ext == QLatin1String("mid")) continue;  // neither peer plays MIDI as a chunk or by sox
        if (mixer && k.seconds <= 600) {
            const Floor floor = sdlMixerFloor(baseName(k), iterations);
            const double med = median(floor.presses);
            std::printf("%-5s %6.1fs  %-34s %7.2fms  %.2f / %.2f   (preloading took %.0f ms)\n", k.name, k.seconds,
                        "SDL_mixer, preloaded chunk", med, ours[i].first / med, ours[i].repeat / med, floor.loadMs);
        }
        if (haveSox) {
            std::vector<double> v;
            for (int n = 0; n < std::min(iterations, 5); ++n) v.push_back(soxPress(baseName(k)));
            const double med = median(v);
            std::printf("%-5s %6.1fs  %-34s %7.2fms  %.2f / %.2f\n", k.name, k.seconds, "sox started per press (to stdout)", med,
                        ours[i].first / med, ours[i].repeat / med);
        }
    }
    if (mixer) Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return allMet ? 0 : 2;
}
