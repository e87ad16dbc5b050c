#include "app/CommandLine.h"

#include <QFileInfo>

namespace {
QString baseName(const QString& program) { return QFileInfo(program).completeBaseName(); }
}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"--help" || argument == u"-h") {
            line.action = CommandLine::Action::Help;
            return line;
        }
        if (argument == u"--version") {
            line.action = CommandLine::Action::Version;
            return line;
        }
        if (argument == u"--table" && i + 1 < arguments.size()) {
            line.tableFile = arguments[++i];
            continue;
        }
        if (argument.startsWith(u"--table=")) {
            line.tableFile = argument.mid(8);
            continue;
        }
        if (argument.startsWith(u'-') && argument != u"-") continue;
        if (line.dataFile.isEmpty()) line.dataFile = argument;
    }
    return line;
}

QString helpLine(const QString& program) {
    return QStringLiteral("使い方: %1 [データファイル.zm1] | --table 卓.zmt  (--help この説明, --version 版数)").arg(baseName(program));
}

QString versionLine(const QString& program) {
    return QStringLiteral("%1 %2").arg(baseName(program), QStringLiteral(ZUMBLE_VERSION));
}
