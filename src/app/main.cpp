#include "app/Forms.h"
#include "app/Startup.h"
#include "app/ZumbleApplication.h"
#include "button/frmBase.h"
#include "platform/QtDesktop.h"

#include <QLocale>

int main(int argc, char** argv) {
    ZumbleApplication app(argc, argv);
    QtDesktop realDesktop;
    setDesktop(&realDesktop);
    setUpFonts();
    loadQtTranslations(QLocale::system());

    frmBase& button = Forms::Base();
    button.show();
    return app.exec();
}
