#pragma once
// What the program was started with: `Zumble1 [FILE.zm1]`, a quiz table
// `Zumble1 --table FILE.zmt [--phones]`, or --help or --version. A desktop's file manager passes the file a user double-clicked.
#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Action { Run, Help, Version };
    Action action = Action::Run;
    QString dataFile;   // empty: start with the design settings
    QString tableFile;  // not empty: open this quiz table instead of one button
    bool phones = false;          // the table lets phones join from the start
    bool phonesLoopback = false;  // ... from this computer only
};

// `arguments` as QCoreApplication::arguments() gives them once the
// application has taken its own options (-style, -platform...), program
// first. The first argument that is not an option is the data file, and so is
// anything after "--"; further files and options the program does not know
// are ignored.
CommandLine parseCommandLine(const QStringList& arguments);

// The one line each of --help and --version prints, for the program started
// as `program` (argv[0]).
QString helpLine(const QString& program);
QString versionLine(const QString& program);
