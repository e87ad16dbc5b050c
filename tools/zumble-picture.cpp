// zumble-picture IN OUT.png: renders any picture the program loads (BMP, JPEG,
// GIF, WMF, EMF) to a PNG at its natural size.
#include "platform/Errors.h"
#include "platform/Picture.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: zumble-picture IN OUT.png\n");
        return 2;
    }
    QImage image;
    try {
        image = LoadPicture(args[1]);
    } catch (const RuntimeError& e) {
        std::fprintf(stderr, "%s: not a readable picture (error %d)\n", qPrintable(args[1]), e.number());
        return 1;
    }
    if (image.isNull()) {
        std::fprintf(stderr, "%s: empty picture\n", qPrintable(args[1]));
        return 1;
    }
    if (!image.save(args[2], "PNG")) {
        std::fprintf(stderr, "%s: cannot write the PNG\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
