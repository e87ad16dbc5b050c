// Phones as buttons, measured on loopback through a proxy that delays every
// chunk 0-40 ms at random in each direction (keeping each direction's order,
// as a network does). Phones are WebSocket clients whose clocks run seconds
// apart from the table's; they answer the table's pings and press as the page
// does, with their own clock's time of the press.
//
// - Order: two phones press 10 ms apart, which goes first alternating, over
//   many trials at a real eight-seat table. Printed: how often the table's
//   order is right, beside the order the presses arrived in (what a server
//   that orders by arrival would decide), and the error of the corrected time.
// - Decision: from the press to the round's decision (Table::litAtUs()), less
//   the slowest armed phone's one-way delay estimate (target <= 12 ms).
// - Sound: from the decision to the first non-silent sample (target <= one
//   audio period + 1 ms).
// - Load: 200 phones (another process) join one seat each of a server of
//   200 seats, stay connected and press five times each: no press lost, the
//   UI thread never held up by work more than 5 ms, RSS growth <= 50 MB.
//
// Usage: bench_table_phones [trials]   (offscreen; sound through the dummy driver;
//        BENCH_PHONES=N phones in the load test instead of 200)
#include "app/Startup.h"
#include "phones/PhoneServer.h"
#include "platform/QtDesktop.h"
#include "platform/mci/MciService.h"
#include "table/Table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <deque>
#include <map>
#include <numeric>
#include <memory>
#include <mutex>
#include <random>

#include "TableBench.h"

using namespace tablebench;

namespace {

// Forwards TCP connections to `port`, each chunk held back 0-40 ms at random
// but never overtaking the chunk before it in the same direction.
class DelayProxy : public QObject {
public:
    explicit DelayProxy(quint16 port) : target_(port) {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* in = server_.nextPendingConnection()) {
                auto* out = new QTcpSocket(in);
                // A network hop does not hold small messages back (no Nagle).
                in->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                // What the client sends first waits in its socket until the
                // way on is open.
                connect(out, &QTcpSocket::connected, in, [this, in, out] {
                    out->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                    pipe(in, out);
                    pipe(out, in);
                    if (in->bytesAvailable()) emit in->readyRead();
                });
                connect(in, &QTcpSocket::disconnected, in, &QObject::deleteLater);
                connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
                out->connectToHost(QHostAddress::LocalHost, target_);
            }
        });
        server_.listen(QHostAddress::LocalHost);
    }
    quint16 port() const { return server_.serverPort(); }

private:
    // One direction: chunks wait in a queue in their order, each until its
    // time, and one timer lets out those that are due.
    void pipe(QTcpSocket* from, QTcpSocket* to) {
        struct Queue {
            std::deque<std::pair<int64_t, QByteArray>> chunks;
            QTimer timer;
        };
        auto* q = new Queue;
        connect(to, &QObject::destroyed, [q] { delete q; });
        q->timer.setSingleShot(true);
        q->timer.setTimerType(Qt::PreciseTimer);
        const auto arm = [q] {
            if (!q->chunks.empty())
                q->timer.start(int(std::max<int64_t>(0, (q->chunks.front().first - monotonicUs() + 999) / 1000)));
        };
        connect(&q->timer, &QTimer::timeout, to, [q, to, arm] {
            while (!q->chunks.empty() && q->chunks.front().first <= monotonicUs()) {
                if (to->state() == QAbstractSocket::ConnectedState) to->write(q->chunks.front().second);
                q->chunks.pop_front();
            }
            arm();
        });
        connect(from, &QTcpSocket::readyRead, to, [this, from, q, arm] {
            const int64_t earliest = q->chunks.empty() ? 0 : q->chunks.back().first;
            q->chunks.emplace_back(std::max(earliest, monotonicUs() + delay_(random_)), from->readAll());
            if (!q->timer.isActive()) arm();
        });
    }
    QTcpServer server_;
    quint16 target_;
    std::mt19937 random_{1};
    std::uniform_int_distribution<int64_t> delay_{0, 40'000};
};

// A phone: its clock runs `behindUs` behind the table's; it answers pings and
// presses with its own time, as the page does.
class Phone : public QObject {
public:
    Phone(const QString& url, int seat, int64_t behindUs) : behind_(behindUs) {
        connect(&socket_, &QWebSocket::connected, this, [this, seat] {
            // As a browser's WebSocket does, no Nagle (Qt's socket is the
            // WebSocket's child).
            for (QTcpSocket* tcp : socket_.findChildren<QTcpSocket*>()) tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            send({{"t", "hello"}, {"token", QStringLiteral("bench-phone-%1").arg(seat)}, {"seat", seat}});
        });
        connect(&socket_, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
            const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
            if (m["t"] == "ping") send({{"t", "pong"}, {"s", m["s"]}, {"c", clockMs()}});
            if (m["t"] == "you") seated = true;
            if (m["t"] == "refused") refused = true;
        });
        socket_.open(QUrl(url));
    }
    // Presses now; returns the true time of the press on the table's clock.
    int64_t press() {
        const int64_t now = monotonicUs();
        send({{"t", "press"}, {"at", double(now - behind_) / 1000.0}});
        // Out now, not when this thread next goes back to its event loop.
        socket_.flush();
        return now;
    }
    std::atomic<bool> seated{false}, refused{false};

private:
    double clockMs() const { return double(monotonicUs() - behind_) / 1000.0; }
    void send(const QJsonObject& m) { socket_.sendTextMessage(QJsonDocument(m).toJson(QJsonDocument::Compact)); }
    QWebSocket socket_;
    int64_t behind_;
};

// A thread with its own event loop, for the proxy and for the phones: neither
// may wait on the table's UI thread, nor on each other.
class Loop {
public:
    Loop() {
        context_.moveToThread(&thread_);
        thread_.start();
    }
    ~Loop() {
        thread_.quit();
        thread_.wait();
    }
    template <typename F>
    auto run(F f) {
        decltype(f()) result{};
        QMetaObject::invokeMethod(&context_, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
    QObject* context() { return &context_; }
    QThread thread_;
    QObject context_;
    Loop(const Loop&) = delete;
};

QString socketUrl(quint16 port, const QString& room) { return QStringLiteral("ws://127.0.0.1:%1/ws?room=%2").arg(port).arg(room); }

template <typename T>
void destroyOn(Loop& loop, std::vector<T*>& objects) {
    loop.run([&] {
        for (T* o : objects) delete o;
        return 0;
    });
    objects.clear();
}

bool orderAndTiming(table::Table& t, int trials) {
    phones::PhoneServer& server = *t.phones();
    Loop proxyLoop, phoneLoop;
    std::vector<DelayProxy*> proxies{proxyLoop.run([&] { return new DelayProxy(server.port()); })};
    std::vector<Phone*> phones;
    for (int p = 0; p < 2; ++p)
        phones.push_back(phoneLoop.run([&] { return new Phone(socketUrl(proxies[0]->port(), server.room()), p, 3'000'000'000LL - p * 7'654'321); }));
    // A few seconds of pings before the first race, as players join before the first question.
    runUntil([&] { return false; }, 4000);
    if (!phones[0]->seated || !phones[1]->seated) {
        std::printf("  the phones did not take their seats\n");
        return false;
    }

    std::map<int, int64_t> arrived;
    QObject context;
    QObject::connect(&server, &phones::PhoneServer::pressed, &context, [&](int seat, qint64) { arrived[seat] = monotonicUs(); });
    int rightByTable = 0, rightByArrival = 0, lost = 0;
    std::vector<double> errorMs, decisionExcessMs, soundMs;
    int period = 0;
    for (int trial = 0; trial < trials; ++trial) {
        t.reset();
        runUntil([] { return monotonicUs() - Ear::instance().lastLoudAt() > 40'000; }, 2000);
        runUntil([] { return false; }, 30);
        arrived.clear();
        const int first = trial % 2, second = 1 - first;
        int64_t pressed[2] = {0, 0};
        int64_t slowestOneWay = 0;
        for (const phones::PhoneStatus& s : server.status()) slowestOneWay = std::max(slowestOneWay, s.oneWayUs);
        Ear::instance().arm();
        phoneLoop.run([&] {
            pressed[first] = phones[size_t(first)]->press();
            sleepUntilUs(pressed[first] + 10'000);
            pressed[second] = phones[size_t(second)]->press();
            return 0;
        });
        runUntil([&] { return t.round().order().size() == 2 && Ear::instance().heardAt(); }, 1000);
        if (t.round().order().size() != 2) {
            ++lost;
            continue;
        }
        // The round's first decision of this trial: the one that lit a seat.
        const int64_t decided = t.litAtUs();
        rightByTable += t.round().answering() == first;
        rightByArrival += arrived.count(first) && arrived.count(second) && arrived[first] < arrived[second];
        for (const table::Press& p : t.round().order()) errorMs.push_back(double(p.timeUs - pressed[p.seat]) / 1000.0);
        decisionExcessMs.push_back(double(decided - pressed[first] - slowestOneWay) / 1000.0);
        if (Ear::instance().heardAt()) soundMs.push_back(double(Ear::instance().heardAt() - decided) / 1000.0);
        period = std::max(period, Ear::instance().periodFrames());
    }
    destroyOn(phoneLoop, phones);
    destroyOn(proxyLoop, proxies);

    const int done = trials - lost;
    std::printf("Order, two phones 10 ms apart, %d trials (%d lost), one-way delay 0-40 ms each way:\n", trials, lost);
    std::printf("  %-48s %6.1f %%  (target >= 99 %%: %s)\n", "right, ordered by the phones' own times",
                100.0 * rightByTable / std::max(done, 1), rightByTable >= 0.99 * trials ? "met" : "MISSED");
    std::printf("  %-48s %6.1f %%\n", "right, ordered by arrival (for comparison)", 100.0 * rightByArrival / std::max(done, 1));
    std::printf("  error of the corrected time, ms: p1 %.2f  p5 %.2f  median %.2f  p95 %.2f  p99 %.2f\n",
                percentile(errorMs, 0.01), percentile(errorMs, 0.05), percentile(errorMs, 0.5), percentile(errorMs, 0.95),
                percentile(errorMs, 0.99));
    bool met = rightByTable >= 0.99 * trials;
    met &= printRow("decision - press - slowest one-way delay", decisionExcessMs, 12.0);
    const double periodMs = period > 0 ? period * 1000.0 / 44100.0 : 0;
    std::printf("  audio period %d frames = %.3f ms\n", period, periodMs);
    met &= printRow("first sound after the decision", soundMs, periodMs + 1.0);
    return met;
}

// The phones of the load test, in a process of their own so that the
// table's memory and UI thread are measured alone: joins `clients` phones
// through a proxy, has each press `rounds` times, and prints how many sat.
int phonesProcess(quint16 port, const QString& room, int clients, int rounds) {
    Loop proxyLoop;
    std::vector<DelayProxy*> proxies{proxyLoop.run([&] { return new DelayProxy(port); })};
    std::vector<std::unique_ptr<Phone>> phones;
    for (int i = 0; i < clients; ++i)
        phones.push_back(std::make_unique<Phone>(socketUrl(proxies[0]->port(), room), i, 1'000'000'000LL + i * 1000));
    const auto seated = [&] { return std::count_if(phones.begin(), phones.end(), [](const auto& p) { return p->seated.load(); }); };
    runUntil([&] { return seated() == clients; }, 20000);
    std::fprintf(stderr, "phones: %ld of %d seated\n", long(seated()), clients);
    for (int r = 0; r < rounds; ++r) {
        // Every phone presses once, spread over 200 ms, as a room does.
        for (int i = 0; i < clients; ++i)
            QTimer::singleShot(i * 200 / clients, Qt::PreciseTimer, phones[size_t(i)].get(), [p = phones[size_t(i)].get()] { p->press(); });
        runUntil([] { return false; }, 400);
    }
    runUntil([] { return false; }, 1000);  // the last presses' way through the proxy
    std::printf("%ld %ld\n", long(seated()), long(std::count_if(phones.begin(), phones.end(), [](const auto& p) { return p->refused.load(); })));
    std::fflush(stdout);
    phones.clear();
    destroyOn(proxyLoop, proxies);
    return 0;
}

bool load(const char* self, int clients) {
    constexpr int Rounds = 5;
    phones::PhoneServer server;
    std::vector<phones::SeatView> seats;
    for (int i = 0; i < clients; ++i) seats.push_back({QStringLiteral("席%1").arg(i + 1), "#808080", "armed", 0});
    server.setSeats(seats);
    if (!server.start(true)) return false;
    runUntil([] { return false; }, 200);
    const double rssBefore = procMemMb(getpid(), "VmRSS:");
    int got = 0;
    QObject context;
    QObject::connect(&server, &phones::PhoneServer::pressed, &context, [&](int, qint64) { ++got; });
    // The UI thread ticks every millisecond. Between two ticks, the CPU time
    // it spent is how long it was held up by work (the target); the wall time
    // also counts the moments the scheduler gave both cores to others (the
    // phones' process, the server thread), shown for comparison.
    const auto threadCpuUs = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
    };
    int64_t last = monotonicUs(), lastCpu = threadCpuUs(), worstStall = 0, worstBusy = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &context, [&] {
        const int64_t now = monotonicUs(), cpu = threadCpuUs();
        worstStall = std::max(worstStall, now - last - 1000);
        worstBusy = std::max(worstBusy, cpu - lastCpu);
        last = now;
        lastCpu = cpu;
    });
    QProcess phones;
    phones.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    phones.start(QString::fromLocal8Bit(self), {QStringLiteral("--phones"), QString::number(server.port()), server.room(),
                                                QString::number(clients), QString::number(Rounds)});
    // Starting a process waits for it here; the ticks count from then on.
    phones.waitForStarted();
    last = monotonicUs();
    lastCpu = threadCpuUs();
    tick.start(1);
    double rssPeak = rssBefore;
    runUntil([&] {
        rssPeak = std::max(rssPeak, procMemMb(getpid(), "VmRSS:"));
        return phones.state() == QProcess::NotRunning;
    }, 60000);
    tick.stop();
    const QStringList counts = QString::fromLocal8Bit(phones.readAllStandardOutput()).split(u' ');
    const int seated = counts.value(0).toInt(), refused = counts.value(1).toInt();
    std::printf("Load, %d phones through the proxy (another process), %d presses each:\n", clients, Rounds);
    std::printf("  seated %d, refused %d, presses received %d of %d (%s)\n", seated, refused, got, clients * Rounds,
                got == clients * Rounds ? "none lost" : "LOST");
    std::printf("  UI thread held up by work at most %.2f ms (target <= 5: %s); longest wall-clock gap %.2f ms\n",
                double(worstBusy) / 1000.0, worstBusy <= 5000 ? "met" : "MISSED", double(worstStall) / 1000.0);
    std::printf("  RSS %.1f MB, at most %.1f MB: +%.1f MB (target <= 50: %s)\n", rssBefore, rssPeak, rssPeak - rssBefore,
                rssPeak - rssBefore <= 50 ? "met" : "MISSED");
    return got == clients * Rounds && seated == clients && worstBusy <= 5000 && rssPeak - rssBefore <= 50;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--phones") == 0) {
        QCoreApplication app(argc, argv);
        return phonesProcess(quint16(std::atoi(argv[2])), QString::fromLocal8Bit(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    }
    quietAudioDriver();
    QApplication app(argc, argv);
    QtDesktop real;
    setDesktop(&real);
    setUpFonts();
    Ear::instance().listen();
    const int trials = argc > 1 ? std::atoi(argv[1]) : 1000;
    // The load first, in a process that has nothing else to do yet.
    bool met = load(argv[0], qEnvironmentVariableIntValue("BENCH_PHONES") ? qEnvironmentVariableIntValue("BENCH_PHONES") : 200);
    QTemporaryDir dir;
    table::Table t;
    if (!t.open(makeTable(dir.path())) || !t.setPhones(true, true)) return 1;
    runUntil([&] { return t.inputs().devicesStarted(); }, 3000);
    met &= orderAndTiming(t, trials);
    MciService::instance().shutdown();
    std::fflush(stdout);
    _exit(met ? 0 : 2);
}
