#pragma once
#include <QApplication>

// The single top-level handler for errors that no handler traps: it reports
// the error and ends the program, as an unhandled run-time error does.
class ZumbleApplication : public QApplication {
public:
    ZumbleApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Reports an untrapped error and ends the process.
[[noreturn]] void reportFatalError(int number, const QString& description);
