#pragma once
// What the quiz table benches share: a private X server (so that keys are
// real X key events with the server's own time, and a picture counts as shown
// only once the server holds its pixels), an eight-seat table made on the
// spot with a WAV, MP3 or MIDI kit per seat, a post-mix hook that hears the
// first non-silent sample, and small figures helpers.
//
// Include it after every Qt header: Xlib's macros (KeyPress, None, ...) are
// undefined again at its end.
#include "datafile/DataFile.h"
#include "datafile/SettingsRecord.h"
#include "table/InputClock.h"
#include "table/TableFile.h"

#include "Kit.h"
#include "MidiMaker.h"
#include "TestMedia.h"

#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QString>

#include <SDL_mixer.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace tablebench {

// Sound through the dummy driver unless the caller chose another; the disk
// driver, if chosen, writes nowhere.
inline void quietAudioDriver() {
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
    if (qEnvironmentVariable("SDL_AUDIODRIVER") == QLatin1String("disk") && qEnvironmentVariableIsEmpty("SDL_DISKAUDIOFILE"))
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
}

using table::monotonicUs;

// Runs the event loop, waking every millisecond to look at `done`. It waits
// for events rather than spinning: a spinning UI thread would hold one of the
// two cores the inputs, the server and the sound need.
inline void runUntil(const std::function<bool()>& done, int timeoutMs) {
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(1);
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

inline void sleepUntilUs(int64_t us) {
    const timespec at{time_t(us / 1'000'000), long(us % 1'000'000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// ---- Figures ------------------------------------------------------------------

inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1) + 0.5)];
}

// One row: median, p95 and max of `v` against `target` (ratio of the
// median; none when `target` is 0). Returns false for a target missed.
inline bool printRow(const char* what, const std::vector<double>& v, double target, const char* unit = "ms") {
    if (v.empty()) {
        std::printf("  %-48s  no samples\n", what);
        return target <= 0;
    }
    const double med = percentile(v, 0.5);
    std::printf("  %-48s n=%-4zu median %7.2f  p95 %7.2f  max %7.2f %s", what, v.size(), med, percentile(v, 0.95),
                percentile(v, 1.0), unit);
    // What never happened is counted as infinitely late.
    const auto none = std::count(v.begin(), v.end(), std::numeric_limits<double>::infinity());
    if (none) std::printf("  (%td never came)", none);
    if (target > 0)
        std::printf("  target <= %.2f: ratio %.2f %s", target, med / target, med <= target && !none ? "met" : "MISSED");
    std::printf("\n");
    return target <= 0 || (med <= target && none == 0);
}

// Resident memory of a process, from /proc: VmRSS or VmHWM (the peak), MB.
inline double procMemMb(pid_t pid, const char* field) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(int(std::strlen(field)) + 1).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}

// ---- A private X server --------------------------------------------------------

// Xvfb on a display number of its own choosing, its root black (the colour
// of a window not painted yet). DISPLAY is set for this process and its
// children; the server ends with the object.
class XServer {
public:
    XServer() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            // Ends with the bench, even one that crashed or left by _exit().
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(fds[0]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24", "-br", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c;
        while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return;
        display_ = ":" + number;
        setenv("DISPLAY", display_.c_str(), 1);
    }
    ~XServer() { stop(); }
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    bool ok() const { return !display_.empty(); }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// A connection of the bench's own to the X server: keys through XTest, and
// pixels read back from the server. A window that went away is no error.
class XClient {
public:
    XClient() {
        // A server busy with a client that just went may not take the next
        // connection at once.
        for (int attempt = 0; attempt < 5 && !dpy_; ++attempt) {
            if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            dpy_ = XOpenDisplay(nullptr);
        }
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        // Xlib fetches the keyboard map, and XTest its extension, on first
        // use: done now, so that no key waits for those round trips.
        if (dpy_) {
            int event, error, major, minor;
            XTestQueryExtension(dpy_, &event, &error, &major, &minor);
            XKeysymToKeycode(dpy_, XK_1);
        }
    }
    ~XClient() {
        if (dpy_) XCloseDisplay(dpy_);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;
    bool ok() const {
        int event, error, major, minor;
        return dpy_ && XTestQueryExtension(dpy_, &event, &error, &major, &minor);
    }
    Display* display() const { return dpy_; }

    void focus(unsigned long window) {
        XSetInputFocus(dpy_, window, RevertToPointerRoot, CurrentTime);
        XSync(dpy_, False);
    }
    // The key goes to the focused window, stamped by the server as it takes it.
    void key(KeySym sym, bool down) {
        XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, sym), down ? True : False, CurrentTime);
        XFlush(dpy_);
    }
    // 0xRRGGBB of one pixel of a window as the server holds it; -1 when it cannot be read.
    long pixel(unsigned long window, int x, int y) {
        XImage* image = XGetImage(dpy_, window, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return -1;
        const long value = long(XGetPixel(image, 0, 0) & 0xFFFFFF);
        XDestroyImage(image);
        return value;
    }

private:
    Display* dpy_ = nullptr;
};

inline KeySym digitKey(int seat) { return XK_1 + seat; }
inline KeySym backspaceKey() { return XK_BackSpace; }

// Watches one pixel of a window on a thread of its own, through a
// connection opened beforehand (opening one takes milliseconds), until it
// turns `colour`; when() is the monotonic time it was first seen so, or 0.
class PixelWatch {
public:
    PixelWatch(XClient& x11, unsigned long window, int x, int y, long colour) {
        thread_ = std::thread([=, this, &x11] {
            while (!stop_.load()) {
                if (x11.pixel(window, x, y) == colour) {
                    seen_.store(monotonicUs());
                    return;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    ~PixelWatch() {
        stop_.store(true);
        thread_.join();
    }
    int64_t when() const { return seen_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> seen_{0};
    std::thread thread_;
};

// ---- Hearing --------------------------------------------------------------------

// The post-mix hook: the first non-silent sample after arm(), on the audio
// thread's clock reading as the period is mixed; also how long ago the mix
// was last loud, to press only into silence.
class Ear {
public:
    static Ear& instance() {
        static Ear ear;
        return ear;
    }
    void listen() { Mix_SetPostMix(&Ear::postMix, this); }
    void arm() {
        heard_.store(0);
        armed_.store(true, std::memory_order_release);
    }
    int64_t heardAt() const { return heard_.load(); }
    int64_t lastLoudAt() const { return lastLoud_.load(); }
    int periodFrames() const { return periodFrames_.load(); }

private:
    static void SDLCALL postMix(void* self, Uint8* stream, int len) {
        auto* ear = static_cast<Ear*>(self);
        ear->periodFrames_.store(len / 4);  // the device is 16-bit stereo
        const auto* samples = reinterpret_cast<const int16_t*>(stream);
        for (int i = 0; i < len / 2; ++i) {
            if (std::abs(int(samples[i])) > 2) {
                const int64_t now = monotonicUs();
                ear->lastLoud_.store(now);
                if (ear->armed_.exchange(false)) ear->heard_.store(now);
                return;
            }
        }
    }
    std::atomic<bool> armed_{false};
    std::atomic<int64_t> heard_{0};
    std::atomic<int64_t> lastLoud_{0};
    std::atomic<int> periodFrames_{0};
};

// ---- The table ------------------------------------------------------------------

constexpr int Seats = 8;
// The seat windows' pictures: 165 x 278 px, as the sample kit.
constexpr int PictureWidth = 165, PictureHeight = 278;
inline QColor unpressedColour() { return QColor(40, 40, 60); }
inline QColor pressedColour(int seat) { return QColor::fromHsv(seat * 360 / Seats, 255, 255); }
inline long rgb(QColor c) { return long(c.rgb() & 0xFFFFFF); }
inline const char* soundKind(int seat) {
    static const char* kinds[] = {"WAV", "MP3", "MIDI"};
    return kinds[seat % 3];
}

// An eight-seat table in `dir`: each seat its own colour and its own sound
// (WAV, MP3 and MIDI in turn, each at its own pitch or instrument), bound to
// the keys 1-8 and to buttons 0-7 of the first gamepad. The windows stand in
// a row below the host panel's corner, where a screen without a window
// manager puts the panel: pixels of a covered window cannot be read back.
// Returns the table file, or an empty string.
inline QString makeTable(const QString& dir) {
    if (!QDir(dir).mkpath(QStringLiteral("kits"))) return {};
    table::TableConfig config;
    for (int i = 0; i < Seats; ++i) {
        const QString stem = dir + QStringLiteral("/kits/%1").arg(i + 1);
        const QString sound = stem + QLatin1String(i % 3 == 0 ? ".wav" : i % 3 == 1 ? ".mp3" : ".mid");
        const double pitch = 330.0 * (1.0 + 0.125 * i);
        const bool made = i % 3 == 0   ? testmedia::writeToneWav(sound, {{pitch, 0.5}}, 44100, 2)
                          : i % 3 == 1 ? testmedia::makeMp3(sound, 0.5, pitch)
                                       : kit::write(sound, midimaker::chord((i / 3) * 11, {60 + i, 64 + i, 67 + i}, 0.5));
        if (!made || !kit::solid(PictureWidth, PictureHeight, unpressedColour()).save(stem + "_up.png") ||
            !kit::solid(PictureWidth, PictureHeight, pressedColour(i)).save(stem + "_down.png"))
            return {};
        SettingsRecord r;
        r.WindowWidth = PictureWidth * 15;  // twips
        r.WindowHeight = PictureHeight * 15;
        r.AreaWidth = r.WindowWidth;
        r.AreaHeight = r.WindowHeight;
        r.UnpressedImagePath = stem + "_up.png";
        r.PressedImagePath = stem + "_down.png";
        r.SoundPath = sound;
        if (!kit::writeRecord(stem + ".zm1", r)) return {};
        config.seats.push_back({QStringLiteral("チーム%1").arg(i + 1), QStringLiteral("kits/%1.zm1").arg(i + 1),
                                QPoint(40 + i * (PictureWidth + 16), 440),
                                {QStringLiteral("key:%1").arg(i + 1), QStringLiteral("gamepad:0:button:%1").arg(i)}});
    }
    const QString path = dir + QStringLiteral("/quiz.zmt");
    try {
        table::saveTableFile(path, config);
    } catch (const table::TableFileError&) {
        return {};
    }
    return path;
}

}  // namespace tablebench

// Xlib's macros clash with Qt's names (QEvent::KeyPress, ...).
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef Expose
#undef None
#undef Bool
#undef Status
#undef Unsorted
#undef CursorShape
#undef FontChange
#undef GrayScale
#undef Always
#undef Success
