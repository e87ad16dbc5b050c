#pragma once
// Reading and writing data files on disk. Reading never creates a file;
// writing never leaves a half-written one behind where it can avoid it.
#include <QByteArray>
#include <QString>

#include <stdexcept>

// A data file could not be read or written. reason() is a short Japanese
// sentence a user can act on ("フォルダが見つかりません。").
class DataFileError : public std::runtime_error {
public:
    DataFileError(int err, const QString& reason)
        : std::runtime_error(reason.toStdString()), errorCode_(err), reason_(reason) {}
    int errorCode() const { return errorCode_; }  // errno
    const QString& reason() const { return reason_; }

private:
    int errorCode_;
    QString reason_;
};

// The clear Japanese reason for an errno value met while writing.
QString dataFileReason(int err);
// The same for reading: a file not found, a folder or a device that is no
// data file, access denied.
QString dataFileReadReason(int err);

// The leading bytes of an existing ordinary file, at most one record's worth.
// A missing file, a folder, a device or a FIFO is an error with its reading
// reason: nothing is created and nothing blocks.
QByteArray readDataFile(const QString& path);

// Writes `record` at the start of the file `path`, creating it when missing.
// The bytes left on disk are those an in-place write leaves: the record, then
// the old file's bytes beyond it when the old file was longer. An ordinary
// file is replaced through a temporary file in the same folder (flushed, then
// renamed, keeping the old permissions), so a failure leaves it untouched.
// Written in place instead: a device or FIFO; a file with other hard links or
// another owner (it keeps its identity); a target beside which no temporary
// file can be made; and a file the rename may not replace (another user's
// file in a sticky shared folder). Throws DataFileError.
void writeDataFile(const QString& path, const QByteArray& record);
