#pragma once
// What a phone's page and the table say to each other over the WebSocket:
// small JSON objects, one a message. What a phone sends is read here and
// nowhere else, so that anything it can send is checked in one place (and
// fuzzed): a message that is too long, malformed or carries values out of
// range is refused whole.
#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace phones {

// Longer messages are refused before they are parsed.
constexpr int MaxMessageBytes = 256;

struct PhoneMessage {
    enum Kind { Hello, Pong, Press } kind = Hello;
    QString token;          // Hello: the page's own random name, kept across reconnections
    int seat = -1;          // Hello: the seat asked for, -1 for none yet
    int64_t serverUs = 0;   // Pong: the server time its ping carried
    double clientMs = 0;    // Pong: the page's clock when it answered; Press: the press's own time
};

// Nothing when the message is not one a page sends.
std::optional<PhoneMessage> parsePhoneMessage(const QByteArray& text);

// What the table sends: every message is one object with a "t" field.
QByteArray encode(const QJsonObject& message);
QByteArray pingMessage(int64_t serverUs);
QByteArray refusedMessage(const QString& why);

}  // namespace phones
