// zumble-picture [--zoom Z] IN OUT.png: renders any picture the program loads
// (BMP, JPEG, GIF, WMF, EMF) to a PNG at its natural size, or Z times it for
// a closer look at a small metafile.
#include "platform/Errors.h"
#include "platform/Picture.h"
#include "platform/metafile/Metafile.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments();
    double zoom = 1.0;
    if (args.size() == 5 && args[1] == u"--zoom") {
        bool ok = false;
        zoom = args[2].toDouble(&ok);
        if (!ok || !(zoom > 0 && zoom <= metafile::MaxZoom)) {
            std::fprintf(stderr, "zoom must be a number above 0 and at most %g\n", metafile::MaxZoom);
            return 2;
        }
        args.remove(1, 2);
    }
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: zumble-picture [--zoom Z] IN OUT.png\n");
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
    if (zoom != 1.0) {
        QFile file(args[1]);
        QByteArray data;
        if (file.open(QIODevice::ReadOnly)) data = file.readAll();
        if (metafile::detect(data) != metafile::Kind::None)
            image = metafile::render(data, nullptr, zoom);
        else
            image = image.scaled(image.size() * zoom, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (image.isNull()) {
            std::fprintf(stderr, "%s: too large at that zoom\n", qPrintable(args[1]));
            return 1;
        }
    }
    if (!image.save(args[2], "PNG")) {
        std::fprintf(stderr, "%s: cannot write the PNG\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
