// The program opening an eight-seat quiz table (`Zumble1 --table FILE`, the
// real executable) on a private X server, timed from the process start until
// every window is shown: each seat window showing its kit's picture and the
// host panel painted, as read back from the server. Then its memory: resident
// size once shown, and after a few presses (each seat pressed by its key and
// reset with Backspace, so every sound has played once) with its peak.
//
// Usage: bench_table_start [runs]   (SDL_AUDIODRIVER defaults to "dummy";
//        Xvfb must be installed)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <map>
#include <tuple>

#include "TableBench.h"

using namespace tablebench;

namespace {

struct Window {
    int64_t mappedUs = 0;
    int64_t shownUs = 0;
    bool seat = false;
};

// The scheduler's account of a thread (/proc/PID/task/TID/schedstat): ms on
// a CPU and ms ready to run but waiting for one.
std::pair<double, double> schedMs(pid_t pid, pid_t tid) {
    QFile f(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(tid));
    if (!f.open(QIODevice::ReadOnly)) return {-1, -1};
    const QList<QByteArray> v = f.readAll().trimmed().split(' ');
    return v.size() < 2 ? std::pair{-1.0, -1.0} : std::pair{v[0].toDouble() / 1e6, v[1].toDouble() / 1e6};
}

// A window's title as the program set it (_NET_WM_NAME, UTF-8).
QString windowTitle(Display* dpy, unsigned long window) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, window, XInternAtom(dpy, "_NET_WM_NAME", False), 0, 256, False,
                           XInternAtom(dpy, "UTF8_STRING", False), &type, &format, &count, &after, &data) != 0 ||
        !data)
        return {};
    const QString title = QString::fromUtf8(reinterpret_cast<const char*>(data), int(count));
    XFree(data);
    return title;
}

struct Run {
    double mainCpuMs = -1, mainWaitMs = -1;
    double mappedMs = -1, shownMs = -1, seatsShownMs = -1, panelShownMs = -1, rssShownMb = -1, rssPressedMb = -1, peakMb = -1;
    int pressesSeen = 0;
};

// Waits up to `ms` for `done`, looking every 2 ms: reading pixels back more
// often would load the X server the program is drawing through.
template <typename F>
bool within(int ms, F done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

Run startOnce(const QString& tablePath) {
    XClient x11;
    if (!x11.ok()) {
        std::fprintf(stderr, "bench_table_start: cannot connect to the private X server (%s)\n", std::strerror(errno));
        return {};
    }
    Display* dpy = x11.display();
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
    XSync(dpy, False);
    QProcess program;
    program.setProgram(QStringLiteral(ZUMBLE_PROGRAM));
    program.setArguments({QStringLiteral("--table"), tablePath});
    const int64_t t0 = monotonicUs();
    program.start();
    Run run;
    std::map<unsigned long, Window> windows;
    const long up = rgb(unpressedColour());
    // Eight seats and the host panel.
    const auto allShown = [&] {
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type != MapNotify || e.xmap.override_redirect) continue;
            // Seats by their titles (team names); sizes still change after the
            // map, as each seat's kit is applied.
            windows[e.xmap.window] = {monotonicUs(), 0, windowTitle(dpy, e.xmap.window).startsWith(u"チーム")};
        }
        int shown = 0;
        for (auto& [id, w] : windows) {
            if (!w.shownUs) {
                // A seat shows its picture; the panel anything but the black of
                // a window not painted yet.
                const long p = w.seat ? x11.pixel(id, PictureWidth / 2, PictureHeight / 2) : x11.pixel(id, 5, 5);
                if (w.seat ? p == up : p > 0) w.shownUs = monotonicUs();
            }
            shown += w.shownUs != 0;
        }
        return windows.size() == Seats + 1 && shown == Seats + 1;
    };
    if (!within(10000, allShown)) {
        std::printf("bench_table_start: only %zu windows came up\n", windows.size());
        program.kill();
        program.waitForFinished();
        return run;
    }
    int64_t mapped = 0, shown = 0, seatsShown = 0, panelShown = 0;
    for (const auto& [id, w] : windows) {
        mapped = std::max(mapped, w.mappedUs);
        shown = std::max(shown, w.shownUs);
        (w.seat ? seatsShown : panelShown) = std::max(w.seat ? seatsShown : panelShown, w.shownUs);
    }
    run.seatsShownMs = double(seatsShown - t0) / 1000.0;
    run.panelShownMs = double(panelShown - t0) / 1000.0;
    run.mappedMs = double(mapped - t0) / 1000.0;
    run.shownMs = double(shown - t0) / 1000.0;
    const pid_t pid = pid_t(program.processId());
    run.rssShownMb = procMemMb(pid, "VmRSS:");
    std::tie(run.mainCpuMs, run.mainWaitMs) = schedMs(pid, pid);

    // A moment for the sounds to get ready, as the host would take before the
    // first question, then every seat pressed once by its key.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::vector<unsigned long> seats;
    for (const auto& [id, w] : windows)
        if (w.seat) seats.push_back(id);
    if (seats.size() != Seats) {
        std::printf("bench_table_start: %zu seat windows, not %d\n", seats.size(), Seats);
        program.kill();
        program.waitForFinished();
        return {};
    }
    x11.focus(seats.front());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int seat = 0; seat < Seats; ++seat) {
        x11.key(digitKey(seat), true);
        x11.key(digitKey(seat), false);
        const long pressed = rgb(pressedColour(seat));
        const bool lit = within(1000, [&] {
            for (unsigned long id : seats)
                if (x11.pixel(id, PictureWidth / 2, PictureHeight / 2) == pressed) return true;
            return false;
        });
        run.pressesSeen += lit;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        x11.key(backspaceKey(), true);
        x11.key(backspaceKey(), false);
        within(1000, [&] {
            for (unsigned long id : seats)
                if (x11.pixel(id, PictureWidth / 2, PictureHeight / 2) != up) return false;
            return true;
        });
    }
    run.rssPressedMb = procMemMb(pid, "VmRSS:");
    run.peakMb = procMemMb(pid, "VmHWM:");
    program.terminate();
    if (!program.waitForFinished(3000)) {
        program.kill();
        program.waitForFinished();
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    XServer xvfb;
    if (!xvfb.ok()) {
        std::printf("bench_table_start: cannot start Xvfb\n");
        return 1;
    }
    // The program under test draws on that server.
    qputenv("QT_QPA_PLATFORM", "xcb");
    quietAudioDriver();
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = makeTable(dir.path());
    if (path.isEmpty()) {
        std::printf("bench_table_start: cannot make the table's kits\n");
        return 1;
    }
    std::vector<double> mainCpu, mainWait, mapped, shown, seatsShown, panelShown, rssShown, rssPressed, peak;
    int presses = 0;
    for (int i = 0; i < runs; ++i) {
        const Run r = startOnce(path);
        if (r.shownMs < 0) return 1;
        mapped.push_back(r.mappedMs);
        shown.push_back(r.shownMs);
        mainCpu.push_back(r.mainCpuMs);
        mainWait.push_back(r.mainWaitMs);
        seatsShown.push_back(r.seatsShownMs);
        panelShown.push_back(r.panelShownMs);
        rssShown.push_back(r.rssShownMb);
        rssPressed.push_back(r.rssPressedMb);
        peak.push_back(r.peakMb);
        presses += r.pressesSeen;
    }
    std::printf("bench_table_start: Zumble1 --table with 8 seats (WAV, MP3, MIDI kits), Xvfb, driver %s, %d runs\n",
                qPrintable(qEnvironmentVariable("SDL_AUDIODRIVER")), runs);
    std::printf("The machine is shared (2 cores, a VM): figures are noisy; the ratio is the median's.\n");
    printRow("process start -> all 9 windows mapped", mapped, 0);
    printRow("process start -> the 8 seats show their pictures", seatsShown, 0);
    printRow("process start -> the host panel painted", panelShown, 0);
    bool met = printRow("process start -> all 9 windows shown", shown, 300);
    // Read just after: a little later than the moment shown.
    printRow("  its UI thread until then: on a CPU", mainCpu, 0);
    printRow("  its UI thread until then: ready, waiting for a CPU", mainWait, 0);
    met &= printRow("resident memory once shown", rssShown, 80, "MB");
    met &= printRow("resident memory after 8 presses", rssPressed, 80, "MB");
    met &= printRow("peak resident memory (VmHWM)", peak, 80, "MB");
    std::printf("  presses seen lit on screen: %d of %d\n", presses, runs * Seats);
    return met && presses == runs * Seats ? 0 : 2;
}
