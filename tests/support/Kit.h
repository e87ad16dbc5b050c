#pragma once
// The pieces of a kit made on the spot: pictures of one colour, files of
// given bytes, and data files holding a record.
#include "datafile/SettingsRecord.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

namespace kit {

// A picture of one colour (RGB32, as a loaded BMP or PNG compares).
QImage solid(int width, int height, QColor colour);
// False when the file cannot be written whole.
bool write(const QString& path, const QByteArray& bytes);
// The file's bytes; "<unreadable>" when it cannot be read.
QByteArray read(const QString& path);
// The record's stored bytes; empty when it cannot be stored.
QByteArray record(const SettingsRecord& r);
inline bool writeRecord(const QString& path, const SettingsRecord& r) { return write(path, record(r)); }

}  // namespace kit
