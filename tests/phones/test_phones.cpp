// Phones as buttons: what a page may send, how a phone's clock is learnt,
// and the real server on loopback with pages played by WebSocket clients: who
// may take a seat, what is refused, and a phone's press at a real table.
#include "ScriptedDesktop.h"
#include "TableKit.h"

#include "app/Seat.h"
#include "button/frmBase.h"
#include "phones/ClockSync.h"
#include "phones/PhoneProtocol.h"
#include "phones/PhoneServer.h"
#include "phones/QrCode.h"
#include "table/HostPanel.h"
#include "table/InputClock.h"
#include "table/Table.h"

#include <QtTest>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTreeWidget>
#include <QWebSocket>

#include <random>

using namespace phones;

namespace {

// A page whose clock runs `behindUs` behind the table's; it answers pings as
// buzzer.js does and keeps every other message.
class FakePhone : public QObject {
public:
    explicit FakePhone(const QString& url, int64_t behindUs = 3'000'000) : behind_(behindUs) {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
            const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
            if (m["t"] == "ping") send({{"t", "pong"}, {"s", m["s"]}, {"c", clockMs()}});
            else received << m;
        });
        socket.open(QUrl(url));
    }
    double clockMs() const { return double(table::monotonicUs() - behind_) / 1000.0; }
    void send(const QJsonObject& m) { socket.sendTextMessage(QJsonDocument(m).toJson(QJsonDocument::Compact)); }
    void hello(int seat, const QString& token) { send({{"t", "hello"}, {"token", token}, {"seat", seat}}); }
    bool open() const { return socket.state() == QAbstractSocket::ConnectedState; }
    // The newest message of a kind, or an empty object.
    QJsonObject last(const QString& kind) const {
        for (auto it = received.rbegin(); it != received.rend(); ++it)
            if ((*it)["t"] == kind) return *it;
        return {};
    }

    QWebSocket socket;
    QList<QJsonObject> received;

private:
    int64_t behind_;
};

QString socketUrl(const PhoneServer& server, const QString& room) {
    return QStringLiteral("ws://127.0.0.1:%1/ws?room=%2").arg(server.port()).arg(room);
}

// 0 when nothing answers.
int httpStatus(const QString& url) {
    QNetworkAccessManager net;
    std::unique_ptr<QNetworkReply> reply(net.get(QNetworkRequest(QUrl(url))));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    if (!done.wait(5000)) return -1;
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

const QString TokenA = QStringLiteral("page-a-0123456789");
const QString TokenB = QStringLiteral("page-b-0123456789");

}  // namespace

class TestPhones : public QObject {
    Q_OBJECT
private slots:
    void pageMessages_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("kind");  // PhoneMessage::Kind, or -1 for refused
        QTest::newRow("hello") << QByteArray(R"({"t":"hello","token":"abcdefgh","seat":2})") << int(PhoneMessage::Hello);
        QTest::newRow("hello, no seat yet") << QByteArray(R"({"t":"hello","token":"abc-DEF_123","seat":-1})") << int(PhoneMessage::Hello);
        QTest::newRow("pong") << QByteArray(R"({"t":"pong","s":123456789,"c":1500.25})") << int(PhoneMessage::Pong);
        QTest::newRow("press") << QByteArray(R"({"t":"press","at":98765.4321})") << int(PhoneMessage::Press);
        QTest::newRow("short token") << QByteArray(R"({"t":"hello","token":"abc","seat":0})") << -1;
        QTest::newRow("token with markup") << QByteArray(R"({"t":"hello","token":"<script>x</script>","seat":0})") << -1;
        QTest::newRow("token not ASCII") << QByteArray(R"({"t":"hello","token":"ａｂｃｄｅｆｇｈ","seat":0})") << -1;
        QTest::newRow("seat fraction") << QByteArray(R"({"t":"hello","token":"abcdefgh","seat":1.5})") << -1;
        QTest::newRow("seat below -1") << QByteArray(R"({"t":"hello","token":"abcdefgh","seat":-2})") << -1;
        QTest::newRow("seat as text") << QByteArray(R"({"t":"hello","token":"abcdefgh","seat":"0"})") << -1;
        QTest::newRow("press before the page") << QByteArray(R"({"t":"press","at":-1})") << -1;
        QTest::newRow("press in a year") << QByteArray(R"({"t":"press","at":4e10})") << -1;
        QTest::newRow("press without time") << QByteArray(R"({"t":"press"})") << -1;
        QTest::newRow("pong, fraction of ours") << QByteArray(R"({"t":"pong","s":1.5,"c":1})") << -1;
        QTest::newRow("pong, beyond a double") << QByteArray(R"({"t":"pong","s":1e300,"c":1})") << -1;
        QTest::newRow("unknown kind") << QByteArray(R"({"t":"ping","s":1})") << -1;
        QTest::newRow("array") << QByteArray(R"([{"t":"press","at":1}])") << -1;
        QTest::newRow("cut short") << QByteArray(R"({"t":"press","at":1)") << -1;
        QTest::newRow("too long") << (QByteArray(R"({"t":"press","at":1,"x":")") + QByteArray(300, 'x') + "\"}") << -1;
        QTest::newRow("empty") << QByteArray() << -1;
    }
    void pageMessages() {
        QFETCH(QByteArray, text);
        QFETCH(int, kind);
        const std::optional<PhoneMessage> m = parsePhoneMessage(text);
        QCOMPARE(m ? int(m->kind) : -1, kind);
        if (kind == PhoneMessage::Pong) QCOMPARE(m->serverUs, 123456789);
        if (kind == PhoneMessage::Press) QCOMPARE(m->clientMs, 98765.4321);
    }

    // Two phones with clocks seconds apart, one drifting, on links that take
    // 0-40 ms each way at random, press 10 ms apart: ordered by their own
    // times through the learnt offsets, the first is first in all but a few
    // of a thousand trials. Ordered by arrival, it is often not.
    void clockOrdersPressesOverAJitteryLink() {
        std::mt19937 random(7);
        std::uniform_int_distribution<int64_t> delay(0, 40'000);
        int rightByClock = 0, rightByArrival = 0;
        int64_t worstErrorUs = 0;
        for (int trial = 0; trial < 1000; ++trial) {
            const int64_t offsets[2] = {4'000'000'000, 9'500'000};
            const double drift[2] = {1.0, 1.0001};  // the second clock runs 100 ppm fast
            ClockSync clocks[2];
            int64_t now = 100'000'000;
            for (int ping = 0; ping < int(ClockSync::Kept); ++ping, now += 200'000)
                for (int p = 0; p < 2; ++p) {
                    const int64_t there = now + delay(random);
                    clocks[p].addSample(now, double(there - offsets[p]) * drift[p] / 1000.0, there + delay(random));
                }
            QVERIFY(clocks[0].oneWayUs() > 20'000 && clocks[0].oneWayUs() <= 40'000);
            const int64_t pressed[2] = {now, now + 10'000};
            int64_t mapped[2], arrived[2];
            for (int p = 0; p < 2; ++p) {
                mapped[p] = *clocks[p].toTableUs(double(pressed[p] - offsets[p]) * drift[p] / 1000.0);
                arrived[p] = pressed[p] + delay(random);
                worstErrorUs = std::max(worstErrorUs, std::abs(mapped[p] - pressed[p]));
            }
            rightByClock += mapped[0] < mapped[1];
            rightByArrival += arrived[0] < arrived[1];
        }
        QVERIFY2(rightByClock >= 990, qPrintable(QString::number(rightByClock)));
        QVERIFY2(rightByArrival < 900, qPrintable(QString::number(rightByArrival)));
        // Not only the order: each press lands within a few milliseconds of when it was made.
        QVERIFY2(worstErrorUs < 5'000, qPrintable(QString::number(worstErrorUs)));
    }

    // Refused: a wrong room, any other path, a held seat, a malformed or
    // oversized message, presses faster than a hand. Each ends that page's
    // connection; the server goes on for the others.
    void serverRefusesWhatAPageMayNotDo() {
        PhoneServer server;
        server.setSeats({{"チームA", "#ff0000", "armed", 0}, {"チームB", "#0000ff", "armed", 0}});
        QVERIFY(server.start(true));
        QVERIFY(server.address().startsWith(QStringLiteral("http://127.0.0.1:%1/?room=").arg(server.port())));
        QCOMPARE(server.room().size(), 6);
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
        QCOMPARE(httpStatus(server.address()), 200);
        QCOMPARE(httpStatus(base + "/buzzer.js"), 200);
        QCOMPARE(httpStatus(base + "/?room=AAAAAA"), 403);
        QCOMPARE(httpStatus(base + "/"), 403);
        QCOMPARE(httpStatus(base + "/index.html?room=" + server.room()), 404);
        QCOMPARE(httpStatus(base + "/../../etc/passwd"), 404);
        QCOMPARE(httpStatus(base + "/ws?room=" + server.room()), 404);  // not as a WebSocket

        FakePhone stranger(socketUrl(server, "AAAAAA"));
        QTRY_COMPARE(stranger.last("refused")["why"].toString(), QStringLiteral("部屋の番号が違います"));
        QTRY_VERIFY(!stranger.open());

        FakePhone a(socketUrl(server, server.room()));
        QTRY_VERIFY(a.open());
        a.hello(-1, TokenA);
        QTRY_COMPARE(a.last("seats")["seats"].toArray().size(), 2);
        a.hello(0, TokenA);
        QTRY_COMPARE(a.last("you")["name"].toString(), QStringLiteral("チームA"));
        QCOMPARE(a.last("you")["color"].toString(), QStringLiteral("#ff0000"));
        QTRY_VERIFY(server.status().at(0).connected);

        const QList<std::function<void(FakePhone&)>> misdeeds{
            [](FakePhone& p) { p.hello(0, TokenB); },  // a seat another phone holds
            [](FakePhone& p) { p.socket.sendTextMessage(QStringLiteral("{\"t\":")); },
            [](FakePhone& p) { p.socket.sendTextMessage(QString(2000, u'x')); },
            [](FakePhone& p) { p.socket.sendBinaryMessage("\x01\x02"); },
            [](FakePhone& p) {
                p.hello(1, TokenB);
                for (int i = 0; i < 20; ++i) p.send({{"t", "press"}, {"at", p.clockMs()}});
            },
        };
        for (int i = 0; i < misdeeds.size(); ++i) {
            FakePhone b(socketUrl(server, server.room()));
            QTRY_VERIFY(b.open());
            misdeeds[i](b);
            QTRY_VERIFY2(!b.open(), qPrintable(QString::number(i)));
        }
        // The page that kept to the rules is still there and still pinged.
        const int seen = a.received.size();
        a.hello(-1, TokenA);  // already seated: refused
        QTRY_VERIFY(a.received.size() > seen);
        QCOMPARE(a.last("refused")["why"].toString(), QStringLiteral("このページはもう席についています"));

        // Turning phones off closes every connection and frees the seats.
        FakePhone c(socketUrl(server, server.room()));
        QTRY_VERIFY(c.open());
        server.stop();
        QTRY_VERIFY(!c.open());
        QCOMPARE(httpStatus(server.address()), 0);
    }

    // A phone at a four-seat table: it takes チームB, and its press, made 5 ms
    // before a key's but arriving after it, wins once the window has passed.
    // Losing its connection keeps its seat and press; it comes back to them.
    void phonePressAtTheTable() {
        QTemporaryDir dir;
        ScriptedDesktop desk;
        table::Table t;
        QVERIFY(t.open(tablekit::fourSeats(dir)));
        QCOMPARE(t.adjudicationWindowUs(), 0);
        t.panel().PhonesCheck->setChecked(true);
        phones::PhoneServer* server = t.phones();
        QVERIFY(server && server->running());
        QVERIFY(t.panel().PhonesLabel->text().startsWith(server->address()));
        QVERIFY(!t.panel().PhonesQr->pixmap().isNull());
        t.panel().PhonesSeat->setCurrentIndex(3);  // the host gives チームC its own code
        QCOMPARE(t.panel().PhonesQr->toolTip(), server->address() + "&seat=2");
        t.panel().PhonesSeat->setCurrentIndex(0);

        auto phone = std::make_unique<FakePhone>(socketUrl(*server, server->room()));
        QTRY_VERIFY(phone->open());
        phone->hello(1, TokenA);
        QTRY_COMPARE(phone->last("you")["state"].toString(), QStringLiteral("armed"));
        QTRY_VERIFY(t.adjudicationWindowUs() >= 10'000);
        QVERIFY(t.adjudicationWindowUs() <= MaxWindowUs);
        QTRY_VERIFY(t.panel().SeatList->topLevelItem(1)->text(3).startsWith(QStringLiteral("接続中")));

        const double phoneTime = phone->clockMs();
        QTest::qWait(5);
        t.press(0, -1);  // the key: later, but here first
        QVERIFY(!t.seat(0).Base().Pressed());  // held for the phones' window
        phone->send({{"t", "press"}, {"at", phoneTime}});
        QTRY_VERIFY(t.seat(1).Base().Pressed());
        QVERIFY(!t.seat(0).Base().Pressed());
        QCOMPARE(t.panel().OrderList->item(0)->text(), QStringLiteral("1 チームB"));
        QVERIFY(t.panel().OrderList->item(1)->text().startsWith(QStringLiteral("2 チームA +")));
        QTRY_COMPARE(phone->last("you")["state"].toString(), QStringLiteral("lit"));
        QCOMPARE(phone->last("you")["rank"].toInt(), 1);

        phone.reset();  // Wi-Fi lost
        QTRY_COMPARE(t.panel().SeatList->topLevelItem(1)->text(3), QStringLiteral("切断"));
        FakePhone back(socketUrl(*server, server->room()));
        QTRY_VERIFY(back.open());
        back.hello(-1, TokenA);
        QTRY_COMPARE(back.last("you")["state"].toString(), QStringLiteral("lit"));
        QCOMPARE(back.last("you")["name"].toString(), QStringLiteral("チームB"));
        QVERIFY(t.seat(1).Base().Pressed());

        t.panel().PhonesCheck->setChecked(false);
        QVERIFY(!server->running());
        QTRY_VERIFY(!back.open());
        QCOMPARE(t.adjudicationWindowUs(), 0);
        QVERIFY(t.panel().PhonesQr->isHidden());
    }

    // The address as a QR code: the finder pattern's rings sit where a reader
    // looks for them, after the quiet zone.
    void qrCodeOfTheAddress() {
        const QImage code = qrCode(QStringLiteral("http://192.168.1.20:41355/?room=MP8PQE"), 3);
        QVERIFY(!code.isNull() && code.width() == code.height());
        const auto dark = [&](int moduleX, int moduleY) { return qGray(code.pixel(moduleX * 3 + 1, moduleY * 3 + 1)) < 128; };
        QVERIFY(!dark(3, 3));                  // quiet zone
        QVERIFY(dark(4, 4) && dark(10, 4));    // outer ring
        QVERIFY(!dark(5, 5) && !dark(9, 9));   // white ring
        QVERIFY(dark(6, 6) && dark(8, 8));     // centre
        QVERIFY(qrCode(QString(4000, u'x'), 3).isNull());
    }
};

QTEST_MAIN(TestPhones)
#include "test_phones.moc"
