#pragma once
// Media command strings sent to the real service, answers checked in turn:
//   mciscript::expect({{"open ... alias A wait", 0}, {"play A from 0", 0}});
#include "platform/mci/MciService.h"

#include <QtTest>

#include <initializer_list>
#include <utility>

namespace mciscript {

inline int send(const QByteArray& command) { return MciService::instance().sendString(command); }

// The open command a press sends for `file` (UTF-8 names: the tests' folders).
inline QByteArray openCommand(const QString& file, const char* type, const char* alias) {
    return "open \"" + file.toUtf8() + "\" type " + type + " alias " + alias + " wait";
}

// A wrong answer fails the test, naming the command and what it got.
inline void expect(std::initializer_list<std::pair<QByteArray, int>> script) {
    for (const auto& [command, answer] : script) {
        const int got = send(command);
        QVERIFY2(got == answer, qPrintable(command + " answered " + QByteArray::number(got)));
    }
}

}  // namespace mciscript
