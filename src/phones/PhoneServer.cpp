#include "phones/PhoneServer.h"

#include "phones/ClockSync.h"
#include "phones/PhoneProtocol.h"
#include "table/InputClock.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <deque>

namespace phones {

namespace {

constexpr int PingEveryMs = 200;
// A person presses a few times a second at most; a page sending more is a
// script, and is sent away.
constexpr int MaxPressesPerSecond = 12;
constexpr std::size_t MaxConnections = 400;
// Letters and digits no one misreads off a screen.
constexpr char RoomLetters[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";

QString newRoomCode() {
    QString code;
    for (int i = 0; i < 6; ++i)
        code += QChar(RoomLetters[QRandomGenerator::system()->bounded(int(sizeof RoomLetters) - 1)]);
    return code;
}

bool isPrivate(const QHostAddress& a) {
    if (a.protocol() != QAbstractSocket::IPv4Protocol) return false;
    return a.isInSubnet(QHostAddress(QStringLiteral("10.0.0.0")), 8) ||
           a.isInSubnet(QHostAddress(QStringLiteral("172.16.0.0")), 12) ||
           a.isInSubnet(QHostAddress(QStringLiteral("192.168.0.0")), 16) ||
           a.isInSubnet(QHostAddress(QStringLiteral("169.254.0.0")), 16);
}

// Every connection sends its small messages at once. With Nagle's algorithm
// a ping could wait for the phone's acknowledgement of the one before (tens
// of milliseconds where acknowledgements are delayed), which would lengthen
// round trips one way only and skew the clock estimate.
class LowDelayServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override {
        const int on = 1;
        setsockopt(int(descriptor), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        QTcpServer::incomingConnection(descriptor);
    }
};

QByteArray resource(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

QStringList listenAddresses(bool loopbackOnly) {
    QStringList addresses{QStringLiteral("127.0.0.1")};
    if (loopbackOnly) return addresses;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (!(i.flags() & QNetworkInterface::IsUp) || (i.flags() & QNetworkInterface::IsLoopBack)) continue;
        for (const QNetworkAddressEntry& e : i.addressEntries())
            if (isPrivate(e.ip()) && !addresses.contains(e.ip().toString())) addresses << e.ip().toString();
    }
    return addresses;
}

// Everything that touches the network, on the server's own thread.
class PhoneWorker : public QObject {
public:
    explicit PhoneWorker(PhoneServer& owner) : owner_(owner) {}
    ~PhoneWorker() override { close(); }

    struct Opened {
        QString error;
        quint16 port = 0;
        QStringList addresses;
    };
    Opened open(bool loopbackOnly, quint16 port, const QString& room);
    void close();
    void setSeats(const std::vector<SeatView>& seats);
    void releaseDisconnected();

private:
    struct Client {
        std::unique_ptr<QWebSocket> socket;
        QString token;
        int seat = -1;
        ClockSync clock;
        std::deque<int64_t> presses;  // arrival times in the last second
        bool gone = false;            // disconnected; removed once its signals are over
        uint64_t id = 0;
    };

    QHttpServerResponse page(const QHttpServerRequest& request) const;
    void accept();
    void receive(Client* client, const QString& text);
    void hello(Client* client, const PhoneMessage& m);
    void press(Client* client, double clientMs);
    void refuse(Client* client, const QString& why);
    void gone(Client* client);
    void ping();
    void sendSeat(Client* client) const;
    void sendSeatList(Client* client) const;
    void seatListLater();
    void report();

    PhoneServer& owner_;
    std::unique_ptr<QHttpServer> http_;
    std::unique_ptr<QTimer> pingTimer_;
    std::unique_ptr<QTimer> seatListTimer_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::vector<SeatView> seats_;
    std::vector<QString> holders_;  // each seat's phone token, empty when free
    std::vector<PhoneStatus> reported_;
    uint64_t lastId_ = 0;
    QString room_;
    QByteArray pageHtml_;
    QByteArray pageScript_;
};

PhoneWorker::Opened PhoneWorker::open(bool loopbackOnly, quint16 port, const QString& room) {
    close();
    room_ = room;
    pageHtml_ = resource(QStringLiteral(":/phones/index.html"));
    pageScript_ = resource(QStringLiteral(":/phones/buzzer.js"));
    http_ = std::make_unique<QHttpServer>();
    http_->route(QStringLiteral("/"), QHttpServerRequest::Method::Get,
                 [this](const QHttpServerRequest& request) { return page(request); });
    http_->route(QStringLiteral("/buzzer.js"), QHttpServerRequest::Method::Get, [this] {
        QHttpServerResponse r("text/javascript; charset=utf-8", pageScript_);
        r.setHeader("Cache-Control", "no-store");
        return r;
    });
    // Qt's server turns a request into a WebSocket only when a route has
    // taken it; the route must then write nothing. Anything else there is
    // not found, as everywhere but the page and its script.
    http_->route(QStringLiteral("/ws"), QHttpServerRequest::Method::Get,
                 [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                     if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) != 0)
                         responder.write(QHttpServerResponder::StatusCode::NotFound);
                 });
    QObject::connect(http_.get(), &QHttpServer::newWebSocketConnection, this, [this] { accept(); });
    Opened opened;
    for (const QString& address : listenAddresses(loopbackOnly)) {
        auto* tcp = new LowDelayServer(http_.get());
        // Every address on the same port, so that one address names them all.
        if (!tcp->listen(QHostAddress(address), opened.port ? opened.port : port)) {
            if (opened.addresses.isEmpty()) {
                opened.error = tcp->errorString();
                http_.reset();
                return opened;
            }
            delete tcp;
            continue;
        }
        opened.port = tcp->serverPort();
        opened.addresses << address;
        http_->bind(tcp);
    }
    pingTimer_ = std::make_unique<QTimer>();
    QObject::connect(pingTimer_.get(), &QTimer::timeout, this, [this] { ping(); });
    pingTimer_->start(PingEveryMs);
    seatListTimer_ = std::make_unique<QTimer>();
    seatListTimer_->setSingleShot(true);
    QObject::connect(seatListTimer_.get(), &QTimer::timeout, this, [this] {
        for (auto& c : clients_)
            if (!c->gone && c->seat < 0 && c->socket->state() == QAbstractSocket::ConnectedState) sendSeatList(c.get());
    });
    return opened;
}

void PhoneWorker::close() {
    pingTimer_.reset();
    seatListTimer_.reset();
    for (auto& c : clients_) {
        QObject::disconnect(c->socket.get(), nullptr, this, nullptr);
        c->socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    }
    clients_.clear();
    http_.reset();
    std::fill(holders_.begin(), holders_.end(), QString());
    report();
}

QHttpServerResponse PhoneWorker::page(const QHttpServerRequest& request) const {
    if (QUrlQuery(request.url()).queryItemValue(QStringLiteral("room")) != room_) {
        return QHttpServerResponse("text/plain; charset=utf-8",
                                   QStringLiteral("部屋の番号が違います。司会の画面の QR コードを読み取ってください。\n").toUtf8(),
                                   QHttpServerResponse::StatusCode::Forbidden);
    }
    QHttpServerResponse r("text/html; charset=utf-8", pageHtml_);
    r.setHeader("Cache-Control", "no-store");
    // The page needs nothing from anywhere else, and may not take it.
    r.setHeader("Content-Security-Policy", "default-src 'self'; connect-src 'self' ws:; style-src 'unsafe-inline'");
    return r;
}

void PhoneWorker::accept() {
    while (http_ && http_->hasPendingWebSocketConnections()) {
        auto client = std::make_unique<Client>();
        client->id = ++lastId_;
        client->socket = http_->nextPendingWebSocketConnection();
        if (!client->socket) continue;
        QWebSocket* socket = client->socket.get();
        socket->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
        socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        Client* c = client.get();
        clients_.push_back(std::move(client));
        QObject::connect(socket, &QWebSocket::textMessageReceived, this, [this, c](const QString& t) { receive(c, t); });
        QObject::connect(socket, &QWebSocket::binaryMessageReceived, this,
                         [this, c] { refuse(c, QStringLiteral("送られてきたものが読めません")); });
        QObject::connect(socket, &QWebSocket::disconnected, this, [this, c] { gone(c); });
        const QUrl url = socket->requestUrl();
        if (url.path() != u"/ws" || QUrlQuery(url).queryItemValue(QStringLiteral("room")) != room_) {
            refuse(c, QStringLiteral("部屋の番号が違います"));
        } else if (clients_.size() > MaxConnections) {
            refuse(c, QStringLiteral("満員です"));
        } else {
            socket->sendTextMessage(QString::fromUtf8(pingMessage(table::monotonicUs())));
        }
    }
}

void PhoneWorker::receive(Client* client, const QString& text) {
    const std::optional<PhoneMessage> m = parsePhoneMessage(text.toUtf8());
    if (!m) return refuse(client, QStringLiteral("送られてきたものが読めません"));
    switch (m->kind) {
    case PhoneMessage::Hello: return hello(client, *m);
    case PhoneMessage::Pong: {
        const int64_t now = table::monotonicUs();
        // Only an answer to a ping of ours, sent in the last few seconds, teaches the clock.
        if (m->serverUs <= now && now - m->serverUs < 5'000'000) client->clock.addSample(m->serverUs, m->clientMs, now);
        return;
    }
    case PhoneMessage::Press: return press(client, m->clientMs);
    }
}

void PhoneWorker::hello(Client* client, const PhoneMessage& m) {
    if (client->seat >= 0) return refuse(client, QStringLiteral("このページはもう席についています"));
    client->token = m.token;
    // A phone coming back (a reload, or Wi-Fi lost for a moment) takes its
    // seat again, whatever it asks for; an older connection of it is closed.
    for (std::size_t i = 0; i < holders_.size(); ++i) {
        if (holders_[i] != m.token) continue;
        for (auto& other : clients_)
            if (other.get() != client && !other->gone && other->seat == int(i)) {
                other->seat = -1;
                refuse(other.get(), QStringLiteral("ほかのページがこの席につきました"));
            }
        client->seat = int(i);
        sendSeat(client);
        return report();
    }
    if (m.seat < 0) return sendSeatList(client);
    if (m.seat >= int(seats_.size())) return refuse(client, QStringLiteral("その席はありません"));
    if (!holders_[std::size_t(m.seat)].isEmpty()) return refuse(client, QStringLiteral("この席はほかのスマホが使っています"));
    holders_[std::size_t(m.seat)] = m.token;
    client->seat = m.seat;
    sendSeat(client);
    seatListLater();
    report();
}

void PhoneWorker::press(Client* client, double clientMs) {
    const int64_t now = table::monotonicUs();
    while (!client->presses.empty() && now - client->presses.front() > 1'000'000) client->presses.pop_front();
    client->presses.push_back(now);
    if (client->presses.size() > std::size_t(MaxPressesPerSecond))
        return refuse(client, QStringLiteral("押す間隔が短すぎます"));
    if (client->seat < 0) return;
    // A page's time is believed only so far: a press is never later than its
    // arrival, and never earlier than the longest the table waits for one.
    const int64_t at = client->clock.toTableUs(clientMs).value_or(now);
    const int64_t timeUs = std::clamp(at, now - MaxWindowUs, now);
    const int seat = client->seat;
    PhoneServer* owner = &owner_;
    QMetaObject::invokeMethod(owner, [owner, seat, timeUs] { emit owner->pressed(seat, timeUs); }, Qt::QueuedConnection);
}

void PhoneWorker::refuse(Client* client, const QString& why) {
    QWebSocket* socket = client->socket.get();
    if (socket->state() != QAbstractSocket::ConnectedState) return;
    socket->sendTextMessage(QString::fromUtf8(refusedMessage(why)));
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
}

void PhoneWorker::gone(Client* client) {
    if (client->gone) return;
    client->gone = true;
    QObject::disconnect(client->socket.get(), nullptr, this, nullptr);
    report();
    // Removed later: this may run inside the socket's own signal, or while
    // another client's message walks the list.
    QMetaObject::invokeMethod(this, [this, id = client->id] {
        const auto it = std::find_if(clients_.begin(), clients_.end(), [id](const auto& c) { return c->id == id; });
        if (it == clients_.end()) return;
        (*it)->socket.release()->deleteLater();
        clients_.erase(it);
    }, Qt::QueuedConnection);
}

void PhoneWorker::ping() {
    const QString message = QString::fromUtf8(pingMessage(table::monotonicUs()));
    for (auto& c : clients_)
        if (c->socket->state() == QAbstractSocket::ConnectedState) c->socket->sendTextMessage(message);
    report();
}

void PhoneWorker::sendSeat(Client* client) const {
    const SeatView& s = seats_.at(std::size_t(client->seat));
    client->socket->sendTextMessage(QString::fromUtf8(encode({{QStringLiteral("t"), QStringLiteral("you")},
                                                              {QStringLiteral("seat"), client->seat},
                                                              {QStringLiteral("name"), s.name},
                                                              {QStringLiteral("color"), s.color},
                                                              {QStringLiteral("state"), s.state},
                                                              {QStringLiteral("rank"), s.rank},
                                                              {QStringLiteral("place"), s.place}})));
}

void PhoneWorker::sendSeatList(Client* client) const {
    QJsonArray list;
    for (std::size_t i = 0; i < seats_.size(); ++i)
        list.append(QJsonObject{{QStringLiteral("name"), seats_[i].name},
                                {QStringLiteral("color"), seats_[i].color},
                                {QStringLiteral("free"), holders_[i].isEmpty()}});
    client->socket->sendTextMessage(
        QString::fromUtf8(encode({{QStringLiteral("t"), QStringLiteral("seats")}, {QStringLiteral("seats"), list}})));
}

void PhoneWorker::setSeats(const std::vector<SeatView>& seats) {
    const bool sameSeats = seats.size() == seats_.size();
    std::vector<bool> changed(seats.size(), true);
    for (std::size_t i = 0; sameSeats && i < seats.size(); ++i) changed[i] = !(seats[i] == seats_[i]);
    seats_ = seats;
    holders_.resize(seats_.size());
    for (auto& c : clients_) {
        if (c->socket->state() != QAbstractSocket::ConnectedState) continue;
        if (c->seat >= 0 && c->seat < int(seats_.size()) && changed[std::size_t(c->seat)]) sendSeat(c.get());
        if (c->seat < 0 && !sameSeats) sendSeatList(c.get());
    }
    report();
}

void PhoneWorker::releaseDisconnected() {
    bool released = false;
    for (std::size_t i = 0; i < holders_.size(); ++i) {
        const bool connected =
            std::any_of(clients_.begin(), clients_.end(), [i](const auto& c) { return !c->gone && c->seat == int(i); });
        if (!connected && !holders_[i].isEmpty()) {
            holders_[i].clear();
            released = true;
        }
    }
    if (!released) return;
    seatListLater();
    report();
}

// The pages still choosing are told which seats are free, once for all the
// seats taken in the next tenth of a second: as a room joins, each page is
// sent a few lists, not one per phone that sat down.
void PhoneWorker::seatListLater() {
    if (seatListTimer_ && !seatListTimer_->isActive()) seatListTimer_->start(100);
}

void PhoneWorker::report() {
    std::vector<PhoneStatus> status(holders_.size());
    for (std::size_t i = 0; i < holders_.size(); ++i) status[i].held = !holders_[i].isEmpty();
    for (auto& c : clients_) {
        if (c->gone || c->seat < 0 || c->seat >= int(status.size())) continue;
        status[std::size_t(c->seat)].connected = true;
        status[std::size_t(c->seat)].oneWayUs = c->clock.oneWayUs();
    }
    bool connections = status.size() != reported_.size();
    for (std::size_t i = 0; !connections && i < status.size(); ++i)
        connections = status[i].held != reported_[i].held || status[i].connected != reported_[i].connected;
    reported_ = status;
    {
        QMutexLocker lock(&owner_.statusLock_);
        owner_.status_ = std::move(status);
    }
    if (connections) {
        PhoneServer* owner = &owner_;
        QMetaObject::invokeMethod(owner, [owner] { emit owner->statusChanged(); }, Qt::QueuedConnection);
    }
}

PhoneServer::PhoneServer() : thread_(std::make_unique<QThread>()), worker_(new PhoneWorker(*this)) {
    thread_->setObjectName(QStringLiteral("phones"));
    worker_->moveToThread(thread_.get());
    thread_->start();
}

PhoneServer::~PhoneServer() {
    PhoneWorker* worker = worker_;
    QMetaObject::invokeMethod(worker, [worker] { delete worker; }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

bool PhoneServer::start(bool loopbackOnly, quint16 port) {
    stop();
    const QString room = newRoomCode();
    PhoneWorker::Opened opened;
    QMetaObject::invokeMethod(worker_, [&] { opened = worker_->open(loopbackOnly, port, room); },
                              Qt::BlockingQueuedConnection);
    error_ = opened.error;
    if (opened.addresses.isEmpty()) return false;
    room_ = room;
    port_ = opened.port;
    onNetwork_ = opened.addresses.size() > 1;
    // Phones are given the local network's address; loopback only when there is none.
    address_ = QStringLiteral("http://%1:%2/?room=%3").arg(opened.addresses.value(1, opened.addresses.front())).arg(port_).arg(room_);
    return true;
}

void PhoneServer::stop() {
    QMetaObject::invokeMethod(worker_, [this] { worker_->close(); }, Qt::BlockingQueuedConnection);
    address_.clear();
    room_.clear();
    port_ = 0;
    onNetwork_ = false;
}

void PhoneServer::setSeats(const std::vector<SeatView>& seats) {
    QMetaObject::invokeMethod(worker_, [this, seats] { worker_->setSeats(seats); }, Qt::QueuedConnection);
}

void PhoneServer::releaseDisconnected() {
    QMetaObject::invokeMethod(worker_, [this] { worker_->releaseDisconnected(); }, Qt::QueuedConnection);
}

std::vector<PhoneStatus> PhoneServer::status() const {
    QMutexLocker lock(&statusLock_);
    return status_;
}

}  // namespace phones
