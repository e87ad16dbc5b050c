// libFuzzer target: any bytes through the metafile player. A crash, a hang, a
// sanitizer report or runaway memory is a bug; a refusal is fine.
#include "platform/metafile/Metafile.h"

#include <QByteArray>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_metafile";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);  // fonts need a GUI application, made once
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const QImage image = metafile::render(bytes, &error);
    // A picture is either refused with a reason or drawn within the size cap.
    if (image.isNull() && error.isEmpty()) std::abort();
    if (image.width() > 8192 || image.height() > 8192) std::abort();
    return 0;
}
