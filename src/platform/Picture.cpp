#include "platform/Picture.h"

#include "platform/Errors.h"
#include "platform/metafile/Metafile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace {

[[noreturn]] void invalidPicture() { throw RuntimeError(ErrorNumber::InvalidPicture, "ピクチャが不正です。"); }

}  // namespace

QImage LoadPicture(const QString& path) {
    if (path.isEmpty()) return {};

    QFileInfo info(path);
    if (!info.exists() || info.isDir())
        throw RuntimeError(ErrorNumber::FileNotFound, "ファイルが見つかりません。");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) invalidPicture();
    const QByteArray data = file.readAll();

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
    QImage image = reader.read();
    if (image.isNull()) invalidPicture();
    return image;
}
