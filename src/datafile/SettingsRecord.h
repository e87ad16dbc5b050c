#pragma once
// One complete set of the current settings as stored in a data file (.zm1):
// eleven fields, little-endian, no header and no padding. Strings are a 16-bit
// byte count followed by that many code page 932 bytes. The functions here
// work on bytes only; file access and the windows are elsewhere, so tests,
// fuzzers and build tools call them directly.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

struct SettingsRecord {
    int16_t WindowWidth = 0;
    int16_t WindowHeight = 0;
    uint32_t BackgroundColor = 0;  // 0x00BBGGRR
    int16_t AreaLeft = 0;
    int16_t AreaTop = 0;
    int16_t AreaWidth = 0;
    int16_t AreaHeight = 0;
    QString UnpressedImagePath;
    QString PressedImagePath;
    QString SoundPath;
    int16_t AlwaysOnTop = 0;  // check box value: 0 off, 1 on (2 greyed)

    bool operator==(const SettingsRecord&) const = default;
};

// A record with three empty paths.
constexpr qsizetype MinRecordSize = 24;
// Three strings of the longest count the 16-bit field can hold.
constexpr qsizetype MaxRecordSize = 24 + 3 * 0xFFFF;
// The longest string stored: its count must stay a non-negative 16-bit value.
constexpr qsizetype MaxStoredPathBytes = 0x7FFF;

// Why a path cannot be stored faithfully.
enum class PathProblem { None, Unrepresentable, TooLong };

// The stored bytes of one path, or nothing when reading them back would not
// give the same file: a character code page 932 has no form for, or a form
// of 32,768 bytes or more. Characters that convert but read back as others
// (〜 as ～) are stored by their bytes.
std::optional<QByteArray> encodePath(const QString& path, PathProblem* problem = nullptr);

// The record's bytes, or nothing when one of its paths cannot be stored.
std::optional<QByteArray> encodeRecord(const SettingsRecord& record);

// Reads a record from the start of `data`. Bytes after the record are
// ignored; input that ends inside the record gives nothing. Never reads
// beyond data + size. `used`, when given, receives the record's length.
std::optional<SettingsRecord> decodeRecord(const char* data, size_t size, size_t* used = nullptr);
std::optional<SettingsRecord> decodeRecord(const QByteArray& bytes, size_t* used = nullptr);
