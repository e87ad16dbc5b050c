#include "app/CommandLine.h"
#include "app/Forms.h"
#include "app/SoundWarmUp.h"
#include "app/Startup.h"
#include "app/ZumbleApplication.h"
#include "button/frmBase.h"
#include "datafile/DataFileCommands.h"
#include "platform/QtDesktop.h"
#include "settings/frmSetDlg.h"
#include "table/Table.h"

#include <QLocale>

#include <cstdio>

int main(int argc, char** argv) {
    // Read before the application exists: --help and --version need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = parseCommandLine(arguments);
    if (line.action != CommandLine::Action::Run) {
        const QString text = line.action == CommandLine::Action::Help ? helpLine(arguments[0]) : versionLine(arguments[0]);
        std::printf("%s\n", text.toLocal8Bit().constData());
        return 0;
    }
    ZumbleApplication app(argc, argv);
    QtDesktop realDesktop;
    setDesktop(&realDesktop);
    setUpFonts();
    loadQtTranslations(QLocale::system());

    if (!line.tableFile.isEmpty()) {
        // A quiz table: its seats, host panel and buzzers instead of the one button.
        table::Table table;
        if (!table.open(line.tableFile)) return 1;
        return app.exec();
    }

    frmBase& button = Forms::Base();
    button.show();
    keepSoundWarm(Forms::SetDlg().Text1[2]);
    // A file given at start (a double-clicked .zm1) opens once the window is
    // up, as the Open command would, so its messages appear over the button.
    if (!line.dataFile.isEmpty()) DataFileCommands::OpenStartupFile(line.dataFile);
    return app.exec();
}
