#pragma once
// For tests that drive Qt's own modal dialogs and menus: `attempt` runs every
// 20 ms inside whatever event loop is running (a dialog's exec, a menu's)
// until it returns true, or stops after `ms` milliseconds.
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>

inline void whenReady(std::function<bool()> attempt, int ms = 10000) {
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, attempt = std::move(attempt), ms] {
        if (attempt() || clock->elapsed() > ms) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}
