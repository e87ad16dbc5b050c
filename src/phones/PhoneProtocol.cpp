#include "phones/PhoneProtocol.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>

namespace phones {

namespace {

// A page's clock (performance.now(), or an event's timeStamp) counts
// milliseconds since the page opened: never negative, and a page is not open
// for a year.
constexpr double MaxClientMs = 366.0 * 24 * 3600 * 1000;

bool validToken(const QString& token) {
    if (token.size() < 8 || token.size() > 64) return false;
    for (QChar c : token)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'_') return false;
    return true;
}

std::optional<double> clientTime(const QJsonValue& v) {
    if (!v.isDouble()) return std::nullopt;
    const double ms = v.toDouble();
    if (!std::isfinite(ms) || ms < 0 || ms > MaxClientMs) return std::nullopt;
    return ms;
}

}  // namespace

std::optional<PhoneMessage> parsePhoneMessage(const QByteArray& text) {
    if (text.size() > MaxMessageBytes) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    const QString kind = o.value(u"t").toString();
    PhoneMessage m;
    if (kind == u"hello") {
        m.kind = PhoneMessage::Hello;
        m.token = o.value(u"token").toString();
        const QJsonValue seat = o.value(u"seat");
        const double s = seat.toDouble(-2);
        if (!validToken(m.token) || !seat.isDouble() || s != std::floor(s) || s < -1 || s > 1000) return std::nullopt;
        m.seat = int(s);
        return m;
    }
    if (kind == u"pong") {
        m.kind = PhoneMessage::Pong;
        const double s = o.value(u"s").toDouble(-1);
        const auto c = clientTime(o.value(u"c"));
        // The server's own microseconds come back as they went out: a whole,
        // non-negative number a double holds exactly.
        if (!c || s < 0 || s > 9007199254740991.0 || s != std::floor(s)) return std::nullopt;
        m.serverUs = int64_t(s);
        m.clientMs = *c;
        return m;
    }
    if (kind == u"press") {
        m.kind = PhoneMessage::Press;
        const auto at = clientTime(o.value(u"at"));
        if (!at) return std::nullopt;
        m.clientMs = *at;
        return m;
    }
    return std::nullopt;
}

QByteArray encode(const QJsonObject& message) {
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

QByteArray pingMessage(int64_t serverUs) {
    return encode({{QStringLiteral("t"), QStringLiteral("ping")}, {QStringLiteral("s"), double(serverUs)}});
}

QByteArray refusedMessage(const QString& why) {
    return encode({{QStringLiteral("t"), QStringLiteral("refused")}, {QStringLiteral("why"), why}});
}

}  // namespace phones
