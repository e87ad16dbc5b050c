#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {
QString baseName(const QString& program) { return QFileInfo(program).completeBaseName(); }
}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    // A quiz table instead of one button.
    const QCommandLineOption table(QStringLiteral("table"), QString(), QStringLiteral("file"));
    parser.addOption(table);
    // ... with phones as buttons from the start; --phones-loopback keeps the
    // server to this computer (for trying it out, and for the tests).
    const QCommandLineOption phones(QStringLiteral("phones"));
    const QCommandLineOption phonesLoopback(QStringLiteral("phones-loopback"));
    parser.addOption(phones);
    parser.addOption(phonesLoopback);
    // -dash.zm1 is one unknown option, not the letters d, a, s and h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Unknown options are no error here (a file manager may pass its own);
    // everything after "--" is a file name, even one that starts with "-".
    parser.parse(arguments);
    CommandLine line;
    if (parser.isSet(help)) line.action = CommandLine::Action::Help;
    else if (parser.isSet(version)) line.action = CommandLine::Action::Version;
    line.tableFile = parser.value(table);
    line.phonesLoopback = parser.isSet(phonesLoopback);
    line.phones = line.phonesLoopback || parser.isSet(phones);
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty()) line.dataFile = files.first();
    return line;
}

QString helpLine(const QString& program) {
    return QStringLiteral("使い方: %1 [データファイル.zm1] | --table 卓.zmt [--phones]  (--help この説明, --version 版数)").arg(baseName(program));
}

QString versionLine(const QString& program) {
    return QStringLiteral("%1 %2").arg(baseName(program), QStringLiteral(ZUMBLE_VERSION));
}
