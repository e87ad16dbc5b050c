#include "platform/Picture.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/metafile/Metafile.h"

#include <QBuffer>
#include <QImageReader>

#include <cerrno>

namespace {

[[noreturn]] void invalidPicture() { throw RuntimeError(ErrorNumber::InvalidPicture, "ピクチャが不正です。"); }

// libjpeg carries on over a cut-off or damaged file, fills what it could not
// decode with grey and says so only in a warning. While this thread decodes,
// those warnings are watched for; every message still goes on to the handler
// installed before.
thread_local bool* damageSeen = nullptr;
QtMessageHandler previousHandler = nullptr;

void watchDecoder(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (damageSeen && type == QtWarningMsg && context.category &&
        qstrcmp(context.category, "qt.gui.imageio.jpeg") == 0 &&
        (message.startsWith(QLatin1String("Corrupt JPEG data")) ||
         message.startsWith(QLatin1String("Premature end of JPEG file"))))
        *damageSeen = true;
    previousHandler(type, context, message);
}

// Decodes with the warnings watched; a null image when the decoder failed or
// reported the data cut off or damaged.
QImage readWatched(QImageReader& reader) {
    bool damaged = false;
    damageSeen = &damaged;
    previousHandler = qInstallMessageHandler(watchDecoder);
    QImage image = reader.read();
    qInstallMessageHandler(previousHandler);
    damageSeen = nullptr;
    return damaged ? QImage() : image;
}

}  // namespace

QImage LoadPicture(const QString& path) {
    if (path.isEmpty()) return {};

    // Only an ordinary file is read: a FIFO would hang the window and a
    // device would be read without end.
    QByteArray data;
    switch (readOrdinaryFile(path, MaxPictureFileBytes, Oversize::Refuse, data)) {
    case 0: break;
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG: throw RuntimeError(ErrorNumber::FileNotFound, "ファイルが見つかりません。");
    default: invalidPicture();
    }

    if (metafile::detect(data) != metafile::Kind::None) {
        QImage image = metafile::render(data);
        if (image.isNull()) invalidPicture();
        return image;
    }

    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > MaxPictureSide || size.height() > MaxPictureSide)) invalidPicture();
    QImage image = readWatched(reader);
    if (image.isNull()) invalidPicture();
    return image;
}
