#pragma once
// Parsing of media command strings into a Command. No side effects: the
// engine never sees a string, only a parsed command, and the parser never sees
// a device.
//
// Grammar (verbs and keywords are ASCII and case-insensitive; words are
// separated by spaces or tabs; a word that starts with a double quote runs to
// the next double quote followed by a blank or the end, or failing that to
// the next double quote; it may enclose spaces and, so, quotes):
//   open <element> [type <devtype>] [alias <name>] [wait] [notify]
//   play <name> [from <ms>] [to <ms>] [wait] [notify]
//   stop <name> [wait] [notify]
//   close <name> [wait] [notify]
// "notify" asks for a message to a callback window when the command is done;
// callers pass none, so it is accepted and changes nothing.
// The bytes are code page 932; quotes and spaces never occur inside a
// double-byte character, so splitting bytewise is safe.
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

namespace mci {

enum class Verb { Open, Play, Stop, Close };
enum class DeviceType { Unspecified, WaveAudio, MpegVideo, Sequencer };

struct Command {
    Verb verb = Verb::Close;
    QByteArray device;          // the alias, or for open the element (file path)
    QString element;            // open: the element as written, when the command came as text
    QByteArray alias;           // open: the alias (empty: the element names the device)
    DeviceType type = DeviceType::Unspecified;
    std::optional<uint32_t> fromMs;  // play: start position
    std::optional<uint32_t> toMs;    // play: where to stop
    bool wait = false;
    bool notify = false;
};

// Either a command or an error number from MciErrors.h.
using ParseResult = std::variant<Command, int>;

ParseResult parseCommand(const QByteArray& text);

// One word of a command string. A quoted word is never taken as a verb or
// keyword: it is always a name or a path.
struct Word {
    QByteArray text;  // quotes removed
    bool quoted = false;
};

// The words of a command string. Returns the error number when a quoted word
// has no closing quote.
std::variant<QList<Word>, int> tokenize(const QByteArray& text);

}  // namespace mci
