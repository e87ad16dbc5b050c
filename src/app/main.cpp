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
    // --help and --version are answered before the application exists: they
    // need no display.
    QStringList raw;
    for (int i = 0; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
    const CommandLine early = parseCommandLine(raw);
    if (early.action != CommandLine::Action::Run) {
        const QString text = early.action == CommandLine::Action::Help ? helpLine(raw[0]) : versionLine(raw[0]);
        std::printf("%s\n", text.toLocal8Bit().constData());
        return 0;
    }
    ZumbleApplication app(argc, argv);
    // The data file only once Qt has taken its own options: the value of
    // `-style fusion` is no file name.
    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    QtDesktop realDesktop;
    setDesktop(&realDesktop);
    setUpFonts();
    loadQtTranslations(QLocale::system());

    if (!line.tableFile.isEmpty()) {
        // A quiz table: its seats, host panel and buzzers instead of the one button.
        table::Table table;
        if (!table.open(line.tableFile)) return 1;
        if (line.phones) table.setPhones(true, line.phonesLoopback);
        return app.exec();
    }

    frmBase& button = Forms::Base();
    button.showOnScreen();
    keepSoundWarm(Forms::SetDlg().Text1[2]);
    // A file given at start (a double-clicked .zm1) opens once the window is
    // on the screen, as the Open command would, so its messages appear over
    // the button.
    if (!line.dataFile.isEmpty()) DataFileCommands::OpenStartupFile(line.dataFile);
    return app.exec();
}
