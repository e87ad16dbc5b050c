// Presses at an eight-seat quiz table, each seat with its own kit (WAV, MP3
// and MIDI sounds), through the table's real buzzers: X key events sent with
// XTest to a private X server (so each key carries the server's own time and
// goes through the program's key filter), and buttons of an SDL virtual
// gamepad read by the table's input thread. Timed from the moment the input
// is sent:
//  - to the first non-silent sample the mixer produces (a post-mix hook on
//    the audio thread): the first press of a run (a fresh process that opens
//    the table as the program does and presses after a reaction time; the
//    runs go round the seats, by key and then by gamepad) and repeat presses
//    after リセット;
//  - to the pressed picture held by the X server (a pixel read back on a
//    thread of the bench's own), and to the end of the program's repaint;
//  - the UI thread's share: the table's handling of the input (from the
//    input reaching the UI thread to its handler's return: the decision, the
//    other seats locked out, the sound command, the picture, the host panel),
//    and the UI thread's CPU time from the input's arrival until the loop is
//    idle again after the repaint.
//
// Usage: bench_table_press [laps] [first-press runs] [reaction ms]   (8, 16, 500:
//        the reaction as bench_first_press assumes)
//        (SDL_AUDIODRIVER defaults to "dummy", which paces its periods in
//        real time like a sound card; Xvfb must be installed)
#include "app/Startup.h"
#include "button/frmBase.h"
#include "platform/QtDesktop.h"
#include "platform/mci/MciService.h"
#include "table/HostPanel.h"
#include "table/Table.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <SDL.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>

#include "TableBench.h"

using namespace tablebench;

namespace {

int64_t threadCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

// Milliseconds from the input being sent; -1 for what did not happen (within
// two seconds), which the figures count as infinitely late.
struct PressResult {
    double sound = -1, screen = -1, flushed = -1, arrived = -1, handler = -1, uiCpu = -1;
};

// Follows one press through the table: when the input reached the UI thread,
// when the table's handler returned, when the pressed seat's repaint was
// flushed and when the loop went idle after it.
class PressProbe : public QObject {
public:
    explicit PressProbe(table::Table& t) : table_(t) {
        // Installed after the table's own filter, so it sees a key first.
        qApp->installEventFilter(this);
        // Presses from the input thread arrive as calls queued to the inputs.
        t.inputs().installEventFilter(this);
        // Connected after the table: runs once the table has handled the input.
        connect(&t.inputs(), &table::Inputs::inputPressed, this, [this] {
            if (seat_ >= 0 && arrivedUs_ && !handledUs_) handledUs_ = monotonicUs();
        });
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (seat_ >= 0 && flushedUs_ && !idleCpuUs_) idleCpuUs_ = threadCpuUs();
        });
    }

    PressResult press(int seat, XClient& watcher, const std::function<void()>& inject) {
        frmBase& w = table_.seat(seat).Base();
        arrivedUs_ = handledUs_ = flushedUs_ = arrivedCpuUs_ = idleCpuUs_ = 0;
        seat_ = seat;
        PixelWatch watch(watcher, w.winId(), PictureWidth / 2, PictureHeight / 2, rgb(pressedColour(seat)));
        Ear::instance().arm();
        const int64_t sent = monotonicUs();
        inject();
        runUntil([&] { return Ear::instance().heardAt() && watch.when() && idleCpuUs_; }, 2000);
        seat_ = -1;
        const auto since = [sent](int64_t at) { return at ? double(at - sent) / 1000.0 : -1.0; };
        PressResult r;
        r.sound = since(Ear::instance().heardAt());
        r.screen = since(watch.when());
        r.flushed = since(flushedUs_);
        r.arrived = since(arrivedUs_);
        if (arrivedUs_ && handledUs_) r.handler = double(handledUs_ - arrivedUs_) / 1000.0;
        if (arrivedCpuUs_ && idleCpuUs_) r.uiCpu = double(idleCpuUs_ - arrivedCpuUs_) / 1000.0;
        return r;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (seat_ < 0) return false;
        const bool input = e->type() == QEvent::KeyPress || (e->type() == QEvent::MetaCall && watched == &table_.inputs());
        if (input && !arrivedUs_) {
            arrivedUs_ = monotonicUs();
            arrivedCpuUs_ = threadCpuUs();
        }
        frmBase& w = table_.seat(seat_).Base();
        if (e->type() == QEvent::Paint && watched == &w && w.Pressed() && !flushedUs_) {
            // The window's backing store is flushed right after the paint
            // events of one repaint; a zero timer runs once that is done.
            QTimer::singleShot(0, this, [this] {
                if (!flushedUs_) flushedUs_ = monotonicUs();
            });
        }
        return false;
    }

private:
    table::Table& table_;
    int seat_ = -1;
    int64_t arrivedUs_ = 0, handledUs_ = 0, flushedUs_ = 0, arrivedCpuUs_ = 0, idleCpuUs_ = 0;
};

// The host's リセット, then a moment of silence and an unpressed seat, and a
// random wait so that presses fall anywhere in the audio device's period.
void resetAndSettle(table::Table& t, int seat, XClient& x11) {
    static std::mt19937 random(23);
    t.panel().ResetButton->click();
    const unsigned long win = t.seat(seat).Base().winId();
    const long up = rgb(unpressedColour());
    runUntil([&] { return x11.pixel(win, PictureWidth / 2, PictureHeight / 2) == up; }, 2000);
    runUntil([] { return monotonicUs() - Ear::instance().lastLoudAt() > 40'000; }, 2000);
    const int64_t until = monotonicUs() + std::uniform_int_distribution<int>(0, 6000)(random);
    runUntil([until] { return monotonicUs() >= until; }, 100);
}

// Focuses a seat window (keys reach the table from any of its windows) and
// waits for the window system to say so.
bool focusSeat(table::Table& t, XClient& x11) {
    frmBase& w = t.seat(0).Base();
    x11.focus(w.winId());
    runUntil([&] { return QApplication::focusWindow() == w.windowHandle(); }, 2000);
    return QApplication::focusWindow() == w.windowHandle();
}

std::function<void()> keyDown(XClient& x11, int seat) {
    return [&x11, seat] { x11.key(digitKey(seat), true); };
}

// A virtual gamepad the table's input thread has picked up (as its first
// gamepad), or null.
SDL_Joystick* attachPad(table::Table& t, int& index) {
    index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0, SDL_CONTROLLER_BUTTON_MAX, 0);
    runUntil([&] { return !t.inputs().devices().isEmpty(); }, 5000);
    return SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
}

std::function<void()> padDown(SDL_Joystick* pad, int seat) {
    return [pad, seat] { SDL_JoystickSetVirtualButton(pad, seat, SDL_PRESSED); };
}

// A fresh process: opens the table as the program does, waits for the user's
// reaction, and presses `seat` by its key or its gamepad button. Prints one
// line of figures.
int child(int argc, char** argv) {
    const int seat = std::atoi(argv[2]);
    const int reactionMs = std::atoi(argv[3]);
    const bool byKey = std::strcmp(argv[5], "key") == 0;
    QApplication app(argc, argv);
    QtDesktop real;
    setDesktop(&real);
    setUpFonts();
    Ear::instance().listen();
    table::Table t;
    if (!t.open(QString::fromLocal8Bit(argv[4]))) return 1;
    XClient keys, watcher;
    if (!keys.ok() || !watcher.ok() || !focusSeat(t, keys)) return 1;
    int index = -1;
    SDL_Joystick* pad = byKey ? nullptr : attachPad(t, index);
    if (!byKey && !pad) return 1;
    PressProbe probe(t);
    runUntil([] { return false; }, reactionMs);
    const PressResult r = probe.press(seat, watcher, byKey ? keyDown(keys, seat) : padDown(pad, seat));
    // Let go: a key held on after this process ends would repeat into the next.
    if (byKey)
        keys.key(digitKey(seat), false);
    else
        SDL_JoystickSetVirtualButton(pad, seat, SDL_RELEASED);
    if (t.round().answering() != seat) {
        std::fprintf(stderr, "seat %d was pressed, but the round has %d answering\n", seat + 1, t.round().answering() + 1);
        _exit(1);
    }
    std::printf("%.3f %.3f %.3f %.3f %.3f %.3f %d\n", r.sound, r.screen, r.flushed, r.arrived, r.handler, r.uiCpu,
                Ear::instance().periodFrames());
    std::fflush(stdout);
    MciService::instance().shutdown();
    // Leaving through the table would ask the host; the figures are out.
    _exit(0);
}

struct Series {
    std::vector<double> sound, screen, flushed, arrived, handler, uiCpu;
    void add(const PressResult& r) {
        for (auto [v, x] : {std::pair{&sound, r.sound}, {&screen, r.screen}, {&flushed, r.flushed}, {&arrived, r.arrived},
                            {&handler, r.handler}, {&uiCpu, r.uiCpu}})
            v->push_back(x >= 0 ? x : std::numeric_limits<double>::infinity());
    }
};

}  // namespace

int main(int argc, char** argv) {
    quietAudioDriver();
    if (argc > 5 && std::strcmp(argv[1], "--child") == 0) return child(argc, argv);
    const int laps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    const int runs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 16;
    const int reactionMs = argc > 3 ? std::max(0, std::atoi(argv[3])) : 500;

    XServer xvfb;
    if (!xvfb.ok()) {
        std::printf("bench_table_press: cannot start Xvfb\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QtDesktop real;
    setDesktop(&real);
    setUpFonts();
    QTemporaryDir dir;
    const QString path = makeTable(dir.path());
    if (path.isEmpty()) {
        std::printf("bench_table_press: cannot make the table's kits\n");
        return 1;
    }
    std::printf("bench_table_press: 8 seats (WAV, MP3, MIDI kits in turn), driver %s, X server Xvfb\n",
                qPrintable(qEnvironmentVariable("SDL_AUDIODRIVER")));

    // First press of a run, each in a process of its own: every seat by its
    // key, then every seat by its gamepad button, and so on.
    std::map<std::string, Series> firstByKey, firstByPad;
    int period = 0;
    for (int run = 0; run < runs; ++run) {
        const int seat = run % Seats;
        const bool byKey = run / Seats % 2 == 0;
        QProcess p;
        p.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), QString::number(seat), QString::number(reactionMs), path,
                 byKey ? QStringLiteral("key") : QStringLiteral("pad")});
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            std::printf("bench_table_press: first-press run failed: %s\n", p.readAllStandardError().constData());
            return 1;
        }
        const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
        if (f.size() != 7) return 1;
        PressResult r{f[0].toDouble(), f[1].toDouble(), f[2].toDouble(), f[3].toDouble(), f[4].toDouble(), f[5].toDouble()};
        period = std::max(period, f[6].toInt());
        auto& first = byKey ? firstByKey : firstByPad;
        first[soundKind(seat)].add(r);
        first["all"].add(r);
    }

    // Repeat presses in this process, by key and by gamepad, seat after seat.
    table::Table t;
    if (!t.open(path)) return 1;
    XClient keys, watcher;
    int pad = -1;
    SDL_Joystick* joystick = attachPad(t, pad);
    if (!keys.ok() || !watcher.ok() || !joystick || !focusSeat(t, keys)) {
        std::printf("bench_table_press: no XTest, no virtual gamepad, or the seat did not take the focus\n");
        return 1;
    }
    Ear::instance().listen();
    PressProbe probe(t);
    // A lap first that is not counted: every sound has been pressed once.
    for (int seat = 0; seat < Seats; ++seat) {
        resetAndSettle(t, seat, watcher);
        probe.press(seat, watcher, keyDown(keys, seat));
        keys.key(digitKey(seat), false);
    }
    std::map<std::string, Series> byKey, byPad;
    int wrongSeat = 0;
    for (int lap = 0; lap < laps; ++lap) {
        for (int seat = 0; seat < Seats; ++seat) {
            for (const bool key : {lap % 2 == 0, lap % 2 != 0}) {
                resetAndSettle(t, seat, watcher);
                const PressResult r = probe.press(seat, watcher, key ? keyDown(keys, seat) : padDown(joystick, seat));
                if (key)
                    keys.key(digitKey(seat), false);
                else
                    SDL_JoystickSetVirtualButton(joystick, seat, SDL_RELEASED);
                if (t.round().answering() != seat) ++wrongSeat;
                auto& series = key ? byKey : byPad;
                series[soundKind(seat)].add(r);
                series["all"].add(r);
            }
        }
    }
    period = std::max(period, Ear::instance().periodFrames());
    const double periodMs = period * 1000.0 / 44100.0;
    std::printf("audio period: %d frames at 44100 Hz = %.3f ms; sound target: one period + 1 ms = %.3f ms\n", period,
                periodMs, periodMs + 1.0);
    std::printf("The machine is shared (2 cores, a VM): figures are noisy; the ratio is the median's.\n");

    bool met = true;
    for (auto* first : {&firstByKey, &firstByPad}) {
        const char* input = first == &firstByKey ? "key" : "pad";
        std::printf("first press of a run by %s (a fresh process, pressed %d ms after the table opened; %d runs in all, "
                    "seat by seat):\n",
                    first == &firstByKey ? "X key (XTest)" : "virtual gamepad", reactionMs, runs);
        for (const char* kind : {"WAV", "MP3", "MIDI"})
            met &= printRow(qPrintable(QStringLiteral("%1 -> sound, first press, %2").arg(input, kind)), (*first)[kind].sound,
                            periodMs + 1.0);
        Series& all = (*first)["all"];
        met &= printRow(qPrintable(QStringLiteral("%1 -> sound, first press, all").arg(input)), all.sound, periodMs + 1.0);
        met &= printRow(qPrintable(QStringLiteral("%1 -> pressed picture on the X server").arg(input)), all.screen, 1000.0 / 60);
        printRow(qPrintable(QStringLiteral("%1 -> reached the UI thread").arg(input)), all.arrived, 0);
        met &= printRow("UI thread: table's handling of the input", all.handler, 5.0);
        met &= printRow("UI thread: CPU from input to idle after repaint", all.uiCpu, 5.0);
    }

    for (auto* series : {&byKey, &byPad}) {
        const char* input = series == &byKey ? "key" : "pad";
        std::printf("repeat presses after リセット by %s (%d laps of the 8 seats):\n",
                    series == &byKey ? "X key (XTest)" : "virtual gamepad", laps);
        for (const char* kind : {"WAV", "MP3", "MIDI"})
            met &= printRow(qPrintable(QStringLiteral("%1 -> sound, repeat, %2").arg(input, kind)), (*series)[kind].sound,
                     periodMs + 1.0);
        Series& all = (*series)["all"];
        met &= printRow(qPrintable(QStringLiteral("%1 -> sound, repeat, all").arg(input)), all.sound, periodMs + 1.0);
        met &= printRow(qPrintable(QStringLiteral("%1 -> pressed picture on the X server").arg(input)), all.screen, 1000.0 / 60);
        printRow(qPrintable(QStringLiteral("%1 -> repaint flushed by the program").arg(input)), all.flushed, 0);
        printRow(qPrintable(QStringLiteral("%1 -> reached the UI thread").arg(input)), all.arrived, 0);
        met &= printRow("UI thread: table's handling of the input", all.handler, 5.0);
        met &= printRow("UI thread: CPU from input to idle after repaint", all.uiCpu, 5.0);
    }
    std::printf("presses that lit another seat than the one pressed: %d\n", wrongSeat);

    SDL_JoystickDetachVirtual(pad);
    std::fflush(stdout);
    MciService::instance().shutdown();
    xvfb.stop();
    dir.remove();
    _exit(met && wrongSeat == 0 ? 0 : 2);
}
