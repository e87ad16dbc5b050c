// Fair order across buzzers, through the table's real inputs, over many
// trials with alternating order: two virtual gamepads pressed `gap` apart
// (the input thread), then a key and a gamepad 2 ms apart. The key is a real
// X key event sent with XTest to a private X server, so it carries the
// server's own time and goes through the program's key filter and its clock
// mapping. Prints how often the order came out right against the target
// (>= 99 %) and the distribution of the error in the measured gap.
//
// Usage: bench_table_order [trials] [gap-us] [key-gap-us]   (Xvfb for the key race;
//        without it only the gamepads race, offscreen)
#include "table/InputClock.h"
#include "table/Inputs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <SDL.h>

#include <sys/prctl.h>

#include <functional>
#include <memory>

#include "TableBench.h"

using namespace table;
using tablebench::sleepUntilUs;

namespace {

// How one race came out over its trials.
struct Outcome {
    int right[2] = {0, 0};  // by which input went first
    int trials[2] = {0, 0};
    int lost = 0;
    std::vector<double> errorsMs;  // measured gap - true gap
};

// Inputs 0 and 1 pressed `gapUs` apart, alternating which goes first. The
// injector sleeps rather than spins: on two cores a spinning injector would
// hold the very core the input thread needs to wake on, and measure the
// scheduler, not the table.
Outcome race(Inputs& inputs, int trials, int gapUs, const QString (&names)[2],
             const std::function<void(int, bool)>& press) {
    std::vector<std::pair<QString, int64_t>> got;
    QObject context;
    QObject::connect(&inputs, &Inputs::inputPressed, &context,
                     [&](const QString& binding, qint64 time) { got.emplace_back(binding, time); });
    Outcome out;
    QElapsedTimer wait;
    for (int t = 0; t < trials; ++t) {
        const int early = t % 2, late = 1 - early;
        got.clear();
        press(early, true);
        const int64_t pressedEarly = monotonicUs();
        sleepUntilUs(pressedEarly + gapUs);
        press(late, true);
        // The gap as injected, which the sleep may have stretched a little.
        const int64_t trueGap = monotonicUs() - pressedEarly;
        wait.restart();
        while (got.size() < 2 && wait.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        press(early, false);
        press(late, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        QCoreApplication::processEvents();
        ++out.trials[early];
        if (got.size() < 2) {
            ++out.lost;
            continue;
        }
        // Equal times keep arrival order, as the round does.
        std::stable_sort(got.begin(), got.end(), [](const auto& x, const auto& y) { return x.second < y.second; });
        const bool right = got[0].first == names[early];
        out.right[early] += right;
        const int64_t measured = right ? got[1].second - got[0].second : got[0].second - got[1].second;
        out.errorsMs.push_back(double(measured - trueGap) / 1000.0);
    }
    return out;
}

// Prints the outcome; returns whether the order target was met.
bool report(const Outcome& o, const char* first, const char* second) {
    const int trials = o.trials[0] + o.trials[1];
    const double share = 100.0 * (o.right[0] + o.right[1]) / std::max(1, trials);
    std::printf("  ordered right: %.1f %% (target >= 99 %%: ratio %.3f, %s), lost: %d\n", share, 99.0 / std::max(share, 0.1),
                share >= 99.0 ? "met" : "MISSED", o.lost);
    std::printf("    %s first: %d of %d right; %s first: %d of %d right\n", first, o.right[0], o.trials[0], second, o.right[1],
                o.trials[1]);
    const auto& e = o.errorsMs;
    const auto pct = [&](double p) { return tablebench::percentile(e, p); };
    std::printf("  gap error (measured - true), ms: min %.2f  p1 %.2f  p5 %.2f  median %.2f  p95 %.2f  p99 %.2f  max %.2f\n",
                pct(0), pct(0.01), pct(0.05), pct(0.5), pct(0.95), pct(0.99), pct(1));
    return share >= 99.0;
}

SDL_Joystick* attachPad(Inputs& inputs, int& index) {
    const int before = int(inputs.devices().size());
    index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0, SDL_CONTROLLER_BUTTON_MAX, 0);
    QElapsedTimer wait;
    wait.start();
    while (int(inputs.devices().size()) <= before && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
}

}  // namespace

int main(int argc, char** argv) {
    const int trials = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int gapUs = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int keyGapUs = argc > 3 ? std::atoi(argv[3]) : 2000;
    // Keys need a real X server; the gamepads race on any platform.
    auto xvfb = std::make_unique<tablebench::XServer>();
    if (xvfb->ok())
        qputenv("QT_QPA_PLATFORM", "xcb");
    else
        xvfb.reset();
    QApplication app(argc, argv);
    prctl(PR_SET_TIMERSLACK, 1UL);

    Inputs inputs;
    inputs.start();
    if (!inputs.gamepadsAvailable()) {
        std::printf("bench_table_order: no SDL game controller support\n");
        return 1;
    }
    int a = -1, b = -1;
    SDL_Joystick* first = attachPad(inputs, a);
    SDL_Joystick* second = attachPad(inputs, b);
    if (inputs.devices().size() < 2 || !first || !second) {
        std::printf("bench_table_order: the virtual gamepads did not appear\n");
        return 1;
    }

    const QString padNames[2] = {QStringLiteral("gamepad:0:button:0"), QStringLiteral("gamepad:1:button:0")};
    const Outcome pads = race(inputs, trials, gapUs, padNames, [&](int which, bool down) {
        SDL_JoystickSetVirtualButton(which ? second : first, 0, down ? SDL_PRESSED : SDL_RELEASED);
    });
    std::printf("bench_table_order: %d trials, presses %d us apart on two virtual gamepads\n", trials, gapUs);
    const bool padsMet = report(pads, "pad 0", "pad 1");

    if (!xvfb) {
        std::printf("bench_table_order: no Xvfb, so no key race (a key must come from a real X server to carry its time)\n");
        return padsMet ? 0 : 2;
    }
    // Keys reach the table from whichever of its windows has the focus.
    QWidget window;
    window.resize(200, 200);
    window.show();
    tablebench::XClient x11;
    if (!x11.ok()) {
        std::printf("bench_table_order: no XTest on the private X server\n");
        return 1;
    }
    x11.focus(window.winId());
    QElapsedTimer wait;
    wait.start();
    while (QApplication::focusWindow() != window.windowHandle() && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    inputs.setKeyFilter([](const QString& binding) { return binding == QLatin1String("key:1"); });
    const QString keyPadNames[2] = {QStringLiteral("key:1"), padNames[0]};
    const Outcome keyPad = race(inputs, trials, keyGapUs, keyPadNames, [&](int which, bool down) {
        if (which == 0)
            x11.key(tablebench::digitKey(0), down);
        else
            SDL_JoystickSetVirtualButton(first, 0, down ? SDL_PRESSED : SDL_RELEASED);
    });
    std::printf("bench_table_order: %d trials, a key (XTest on Xvfb) and a virtual gamepad %d us apart\n", trials,
                keyGapUs);
    const bool keyMet = report(keyPad, "key", "pad");
    SDL_JoystickDetachVirtual(b);
    SDL_JoystickDetachVirtual(a);
    return padsMet && keyMet ? 0 : 2;
}
