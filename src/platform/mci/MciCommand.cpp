#include "platform/mci/MciCommand.h"

#include "platform/mci/MciErrors.h"

namespace mci {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool equalsAscii(const QByteArray& word, const char* keyword) {
    return word.compare(QByteArray(keyword), Qt::CaseInsensitive) == 0;
}

bool isKeyword(const Word& word, const char* keyword) { return !word.quoted && equalsAscii(word.text, keyword); }

std::optional<Verb> verbOf(const Word& word) {
    if (isKeyword(word, "open")) return Verb::Open;
    if (isKeyword(word, "play")) return Verb::Play;
    if (isKeyword(word, "stop")) return Verb::Stop;
    if (isKeyword(word, "close")) return Verb::Close;
    return std::nullopt;
}

std::optional<DeviceType> deviceTypeOf(const QByteArray& word) {
    if (equalsAscii(word, "waveaudio")) return DeviceType::WaveAudio;
    if (equalsAscii(word, "mpegvideo")) return DeviceType::MpegVideo;
    if (equalsAscii(word, "sequencer")) return DeviceType::Sequencer;
    return std::nullopt;
}

// Plain decimal digits only, as the Windows parser takes them; anything that
// does not fit 32 bits is refused rather than wrapped.
std::optional<uint32_t> parseUnsigned(const QByteArray& word) {
    if (word.isEmpty() || word.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value > UINT32_MAX) return std::nullopt;
    return uint32_t(value);
}

}  // namespace

std::variant<QList<Word>, int> tokenize(const QByteArray& text) {
    QList<Word> words;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        if (isBlank(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '"') {
            // A file name here may hold a quote itself: the quote that closes
            // the word is the first one a blank or the end follows.
            qsizetype close = text.indexOf('"', i + 1);
            for (qsizetype q = close; q >= 0; q = text.indexOf('"', q + 1)) {
                if (q + 1 == n || isBlank(text[q + 1])) {
                    close = q;
                    break;
                }
            }
            if (close < 0) return mcierr::NoClosingQuote;
            // A quoted word ends where its quote closes: "x.wav"type is one
            // word too many run together.
            if (close + 1 < n && !isBlank(text[close + 1])) return mcierr::ExtraCharacters;
            words.append({text.mid(i + 1, close - i - 1), true});
            i = close + 1;
            continue;
        }
        qsizetype end = i;
        while (end < n && !isBlank(text[end])) ++end;
        words.append({text.mid(i, end - i), false});
        i = end;
    }
    return words;
}

ParseResult parseCommand(const QByteArray& text) {
    auto tokenized = tokenize(text);
    if (const int* error = std::get_if<int>(&tokenized)) return *error;
    const QList<Word>& words = std::get<QList<Word>>(tokenized);
    if (words.isEmpty()) return mcierr::MissingCommandString;

    const std::optional<Verb> verb = verbOf(words[0]);
    if (!verb) return mcierr::UnrecognizedCommand;
    if (words.size() < 2) return mcierr::MissingDeviceName;

    Command command;
    command.verb = *verb;
    command.device = words[1].text;
    bool haveType = false;
    bool haveAlias = false;

    for (qsizetype i = 2; i < words.size(); ++i) {
        const Word& word = words[i];
        const bool hasValue = i + 1 < words.size();
        if (isKeyword(word, "wait")) {
            if (command.wait) return mcierr::DuplicateFlags;
            command.wait = true;
        } else if (isKeyword(word, "notify")) {
            if (command.notify) return mcierr::DuplicateFlags;
            command.notify = true;
        } else if (command.verb == Verb::Open && isKeyword(word, "type")) {
            if (haveType) return mcierr::DuplicateFlags;
            if (!hasValue) return mcierr::MissingStringArgument;
            const std::optional<DeviceType> type = deviceTypeOf(words[++i].text);
            if (!type) return mcierr::InvalidDeviceName;
            command.type = *type;
            haveType = true;
        } else if (command.verb == Verb::Open && isKeyword(word, "alias")) {
            if (haveAlias) return mcierr::DuplicateFlags;
            if (!hasValue || words[i + 1].text.isEmpty()) return mcierr::MissingStringArgument;
            command.alias = words[++i].text;
            haveAlias = true;
        } else if (command.verb == Verb::Play && (isKeyword(word, "from") || isKeyword(word, "to"))) {
            std::optional<uint32_t>& position = isKeyword(word, "from") ? command.fromMs : command.toMs;
            if (position) return mcierr::DuplicateFlags;
            const std::optional<uint32_t> ms = hasValue ? parseUnsigned(words[++i].text) : std::nullopt;
            if (!ms) return mcierr::BadInteger;
            position = ms;
        } else {
            return mcierr::UnrecognizedKeyword;
        }
    }
    if (command.device.isEmpty())
        return command.verb == Verb::Open ? mcierr::FilenameRequired : mcierr::MissingDeviceName;
    return command;
}

}  // namespace mci
