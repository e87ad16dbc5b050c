#pragma once
// Phones as buttons: the page and WebSocket server a quiz table runs while
// スマホで参加 is on. The server lives on a thread of its own, so no phone
// (slow, stalled or hostile) can hold up the UI thread; the table sees only
// what this class hands it: presses with their time on the table's clock,
// and each seat's phone state.
//
// Each phone's press carries the page's own time of the input event; the
// server maps it onto the monotonic clock of table/InputClock.h with the
// phone's ClockSync, so presses are ordered by when they were pressed, not by
// when they arrived. Anything a phone sends that is not a message of
// PhoneProtocol.h ends its connection; the table goes on.
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

class QThread;

namespace phones {

// What the phones are told of a seat.
struct SeatView {
    QString name;
    QString color;  // "#rrggbb"
    QString state;  // "armed", "lit", "dark", "locked" or "idle"
    int rank = 0;   // 1, 2, ... for a lit seat
    int place = 0;  // its press's place in the round's order, 0 before it pressed
    bool operator==(const SeatView&) const = default;
};

// What the host is told of a seat's phone.
struct PhoneStatus {
    bool held = false;       // a phone has taken the seat
    bool connected = false;  // ... and is connected now
    int64_t oneWayUs = -1;   // its measured one-way delay; -1 until measured
};

// The most a press may claim to be older than its arrival, and the longest
// the table waits for a phone's press to arrive.
constexpr int64_t MaxWindowUs = 150'000;

class PhoneWorker;

class PhoneServer : public QObject {
    Q_OBJECT
public:
    PhoneServer();
    ~PhoneServer() override;

    // Listens on loopback and on the local network's private addresses (only
    // on loopback when `loopbackOnly`), on `port` or one the system picks
    // (0). False when nothing could be listened on; error() says why.
    bool start(bool loopbackOnly = false, quint16 port = 0);
    // Stops listening and closes every connection. The seats phones held
    // are free again.
    void stop();
    bool running() const { return !address_.isEmpty(); }
    // The address a phone opens: "http://HOST:PORT/?room=CODE".
    const QString& address() const { return address_; }
    quint16 port() const { return port_; }
    const QString& room() const { return room_; }
    // True when the server listens on a local network address, not only on loopback.
    bool onNetwork() const { return onNetwork_; }
    const QString& error() const { return error_; }

    // The seats as the phones should show them (the table calls this on
    // every change of the round).
    void setSeats(const std::vector<SeatView>& seats);
    // A new question: seats whose phone is gone are free for another phone.
    void releaseDisconnected();
    // Each seat's phone, as last reported by the server thread.
    std::vector<PhoneStatus> status() const;

signals:
    // A seat's phone pressed at `timeUs` on the monotonic clock.
    void pressed(int seat, qint64 timeUs);
    // A phone joined, left or took a seat.
    void statusChanged();

private:
    friend class PhoneWorker;

    std::unique_ptr<QThread> thread_;
    PhoneWorker* worker_ = nullptr;  // lives on thread_
    QString address_;
    QString room_;
    QString error_;
    quint16 port_ = 0;
    bool onNetwork_ = false;
    mutable QMutex statusLock_;
    std::vector<PhoneStatus> status_;
};

// The addresses the server listens on: loopback first, then the private
// (local network) IPv4 addresses of the interfaces that are up.
QStringList listenAddresses(bool loopbackOnly);

}  // namespace phones
