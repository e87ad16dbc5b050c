#pragma once
// The quiz table file (.zmt): a JSON document naming the seats (team name,
// button kit, window place, input bindings) and the round's rules. Reading
// and writing are pure functions over bytes; loading and saving sit on top.
// docs/table-file.md describes the format.
#include "table/Round.h"

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>
#include <vector>

namespace table {

constexpr int FormatVersion = 1;
constexpr int MaxSeats = 16;

// A table file that cannot be used. reason() is a Japanese sentence naming
// the problem.
class TableFileError : public std::runtime_error {
public:
    explicit TableFileError(const QString& reason) : std::runtime_error(reason.toStdString()), reason_(reason) {}
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

struct SeatConfig {
    QString name;                  // チーム名
    QString kit;                   // .zm1 path as written: absolute, or relative to the table file
    std::optional<QPoint> place;   // window position; none lets the table lay seats out
    QStringList inputs;            // bindings in their written form ("key:1", "gamepad:0:button:0", "midi:note:36")
};

struct TableRules {
    Lockout lockout = Lockout::FirstOnly;
    int lit = 1;          // with Lockout::Order, how many presses light
    QString correctSound; // 正解
    QString wrongSound;   // 誤答
};

struct TableConfig {
    TableRules rules;
    std::vector<SeatConfig> seats;
};

// A binding's canonical form ("key:F1", "midi:10:note:36"), or nothing when
// the text names no input this program knows.
std::optional<QString> canonicalBinding(const QString& text);

// Throws TableFileError naming the problem.
TableConfig parseTable(const QByteArray& json);
QByteArray writeTable(const TableConfig& table);

// A kit or sound path from the file, made absolute against the table file's folder.
QString resolvePath(const QString& tableFile, const QString& path);

// Whole files. Reading takes ordinary files only; saving replaces the file
// atomically or leaves the old one untouched. Both throw TableFileError.
TableConfig readTableFile(const QString& path);
void saveTableFile(const QString& path, const TableConfig& table);

}  // namespace table
