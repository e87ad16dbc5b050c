// Fair order across buzzers: two virtual gamepads pressed `gap` apart, over
// many trials, through the table's real input thread. Prints how often the
// order came out right against the target (>= 99 %) and the distribution of
// the error in the measured gap.
//
// Usage: bench_table_order [trials] [gap-us]   (offscreen platform)
#include "table/InputClock.h"
#include "table/Inputs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <SDL.h>

#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

using namespace table;

namespace {

// Sleeps rather than spins: on two cores a spinning injector would hold the
// very core the input thread needs to wake on, and measure the scheduler, not
// the table. The timer slack is cut so the sleep ends within microseconds.
void sleepUntil(int64_t us) {
    const timespec at{time_t(us / 1'000'000), long(us % 1'000'000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    prctl(PR_SET_TIMERSLACK, 1UL);
    const int trials = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int gapUs = argc > 2 ? std::atoi(argv[2]) : 1000;

    Inputs inputs;
    inputs.start();
    if (!inputs.gamepadsAvailable()) {
        std::printf("bench_table_order: no SDL game controller support\n");
        return 1;
    }
    const int a = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0, SDL_CONTROLLER_BUTTON_MAX, 0);
    const int b = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0, SDL_CONTROLLER_BUTTON_MAX, 0);
    QElapsedTimer wait;
    wait.start();
    while (inputs.devices().size() < 2 && wait.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    SDL_Joystick* first = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(a));
    SDL_Joystick* second = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(b));
    if (inputs.devices().size() < 2 || !first || !second) {
        std::printf("bench_table_order: the virtual gamepads did not appear\n");
        return 1;
    }

    std::vector<std::pair<QString, int64_t>> got;
    QObject::connect(&inputs, &Inputs::inputPressed,
                     [&](const QString& binding, qint64 time) { got.emplace_back(binding, time); });
    int right = 0, lost = 0;
    std::vector<double> errorsMs;
    for (int t = 0; t < trials; ++t) {
        // Alternate which pad goes first, so a bias toward one pad shows.
        SDL_Joystick* early = t % 2 ? second : first;
        SDL_Joystick* late = t % 2 ? first : second;
        const QString earlyName = QStringLiteral("gamepad:%1:button:0").arg(t % 2);
        got.clear();
        SDL_JoystickSetVirtualButton(early, 0, SDL_PRESSED);
        const int64_t pressedEarly = monotonicUs();
        sleepUntil(pressedEarly + gapUs);
        SDL_JoystickSetVirtualButton(late, 0, SDL_PRESSED);
        // The gap as injected, which the sleep may have stretched a little.
        const int64_t trueGap = monotonicUs() - pressedEarly;
        wait.restart();
        while (got.size() < 2 && wait.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        SDL_JoystickSetVirtualButton(early, 0, SDL_RELEASED);
        SDL_JoystickSetVirtualButton(late, 0, SDL_RELEASED);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        if (got.size() < 2) {
            ++lost;
            continue;
        }
        std::stable_sort(got.begin(), got.end(), [](const auto& x, const auto& y) { return x.second < y.second; });
        // Equal times keep arrival order, as the round does.
        if (got[0].first == earlyName) ++right;
        const int64_t measured = got[0].first == earlyName ? got[1].second - got[0].second : got[0].second - got[1].second;
        errorsMs.push_back(double(measured - trueGap) / 1000.0);
    }
    std::sort(errorsMs.begin(), errorsMs.end());
    const auto pct = [&](double p) { return errorsMs.empty() ? 0.0 : errorsMs[size_t(p * double(errorsMs.size() - 1))]; };
    const double share = 100.0 * right / std::max(1, trials);
    std::printf("bench_table_order: %d trials, presses %d us apart on two virtual gamepads\n", trials, gapUs);
    std::printf("  ordered right: %.1f %% (target >= 99 %%: ratio %.3f), lost: %d\n", share, share / 99.0, lost);
    std::printf("  gap error (measured - true), ms: min %.2f  p5 %.2f  median %.2f  p95 %.2f  max %.2f\n", pct(0),
                pct(0.05), pct(0.5), pct(0.95), pct(1));
    SDL_JoystickDetachVirtual(b);
    SDL_JoystickDetachVirtual(a);
    return 0;
}
