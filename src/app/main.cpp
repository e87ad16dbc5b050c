#include "app/Forms.h"
#include "app/SoundWarmUp.h"
#include "app/Startup.h"
#include "app/ZumbleApplication.h"
#include "button/frmBase.h"
#include "platform/QtDesktop.h"

int main(int argc, char** argv) {
    ZumbleApplication app(argc, argv);
    QtDesktop realDesktop;
    setDesktop(&realDesktop);
    setUpFonts();

    frmBase& button = Forms::Base();
    button.show();
    warmUpSoundInBackground();
    return app.exec();
}
