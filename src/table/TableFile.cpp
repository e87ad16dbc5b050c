#include "table/TableFile.h"

#include "datafile/DataFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeySequence>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace table {

namespace {

// A table names a few paths; anything near this size is not a table file.
constexpr qint64 MaxTableFileSize = 1024 * 1024;

[[noreturn]] void fail(const QString& reason) { throw TableFileError(reason); }

QString seatLabel(int index) { return QStringLiteral("%1 番目の席").arg(index + 1); }

int intIn(const QString& text, int low, int high, bool& ok) {
    const int n = text.toInt(&ok);
    ok = ok && n >= low && n <= high && QString::number(n) == text;
    return n;
}

const char* lockoutName(Lockout mode) { return mode == Lockout::Order ? "order" : "first-only"; }

}  // namespace

std::optional<QString> canonicalBinding(const QString& text) {
    const QStringList parts = text.split(u':');
    const QString kind = parts.value(0);
    bool ok1 = false, ok2 = false;
    if (kind == u"key" && parts.size() >= 2) {
        // "key::" names the colon key itself.
        const QKeySequence keys = QKeySequence::fromString(text.mid(4), QKeySequence::PortableText);
        if (keys.count() != 1 || keys[0].keyboardModifiers() != Qt::NoModifier || keys[0].key() == Qt::Key_unknown)
            return std::nullopt;
        return QStringLiteral("key:") + keys.toString(QKeySequence::PortableText);
    }
    if ((kind == u"gamepad" || kind == u"joystick") && parts.size() == 4 && parts[2] == u"button") {
        const int device = intIn(parts[1], 0, 15, ok1);
        const int button = intIn(parts[3], 0, kind == u"gamepad" ? 31 : 127, ok2);
        if (!ok1 || !ok2) return std::nullopt;
        return QStringLiteral("%1:%2:button:%3").arg(kind).arg(device).arg(button);
    }
    if (kind == u"midi" && parts.size() == 3 && parts[1] == u"note") {
        const int note = intIn(parts[2], 0, 127, ok1);
        if (!ok1) return std::nullopt;
        return QStringLiteral("midi:note:%1").arg(note);
    }
    if (kind == u"midi" && parts.size() == 4 && parts[2] == u"note") {
        const int channel = intIn(parts[1], 1, 16, ok1);
        const int note = intIn(parts[3], 0, 127, ok2);
        if (!ok1 || !ok2) return std::nullopt;
        return QStringLiteral("midi:%1:note:%2").arg(channel).arg(note);
    }
    return std::nullopt;
}

TableConfig parseTable(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        fail(QStringLiteral("テーブルファイルの形式が正しくありません（%1 バイト目: %2）。")
                 .arg(error.offset + 1).arg(error.errorString()));
    if (!doc.isObject()) fail(QStringLiteral("テーブルファイルの形式が正しくありません（全体が { } で囲まれていません）。"));
    const QJsonObject root = doc.object();
    const QJsonValue version = root.value(u"zumbleTable");
    if (!version.isDouble()) fail(QStringLiteral("Zumble のテーブルファイルではありません（zumbleTable がありません）。"));
    if (version.toDouble() != FormatVersion)
        fail(QStringLiteral("このテーブルファイルの形式（バージョン %1）には対応していません。").arg(version.toDouble()));

    TableConfig table;
    const QJsonObject rules = root.value(u"rules").toObject();
    const QString lockout = rules.value(u"lockout").toString(QStringLiteral("first-only"));
    if (lockout == u"order") table.rules.lockout = Lockout::Order;
    else if (lockout != u"first-only")
        fail(QStringLiteral("lockout「%1」は使えません（first-only か order）。").arg(lockout));
    const int lit = rules.value(u"lit").toInt(table.rules.lockout == Lockout::Order ? MaxSeats : 1);
    if (lit < 1 || lit > MaxSeats) fail(QStringLiteral("lit は 1 から %1 までです。").arg(MaxSeats));
    table.rules.lit = table.rules.lockout == Lockout::Order ? lit : 1;
    table.rules.correctSound = rules.value(u"correctSound").toString();
    table.rules.wrongSound = rules.value(u"wrongSound").toString();

    const QJsonArray seats = root.value(u"seats").toArray();
    if (seats.isEmpty()) fail(QStringLiteral("席がひとつもありません。"));
    if (seats.size() > MaxSeats)
        fail(QStringLiteral("席が多すぎます（%1 席）。%2 席までです。").arg(seats.size()).arg(MaxSeats));
    QHash<QString, int> owner;
    for (int i = 0; i < seats.size(); ++i) {
        if (!seats[i].isObject()) fail(QStringLiteral("%1の書き方が正しくありません。").arg(seatLabel(i)));
        const QJsonObject s = seats[i].toObject();
        SeatConfig seat;
        seat.name = s.value(u"name").toString(QStringLiteral("チーム%1").arg(i + 1));
        seat.kit = s.value(u"kit").toString();
        if (s.contains(u"x") || s.contains(u"y")) seat.place = QPoint(s.value(u"x").toInt(), s.value(u"y").toInt());
        for (const QJsonValue& v : s.value(u"inputs").toArray()) {
            const auto binding = canonicalBinding(v.toString());
            if (!binding)
                fail(QStringLiteral("%1（%2）の入力「%3」はわかりません。").arg(seatLabel(i), seat.name, v.toString()));
            if (owner.contains(*binding))
                fail(QStringLiteral("入力「%1」が%2と%3の両方に割り当てられています。")
                         .arg(*binding, seatLabel(owner[*binding]), seatLabel(i)));
            owner.insert(*binding, i);
            seat.inputs << *binding;
        }
        table.seats.push_back(seat);
    }
    return table;
}

QByteArray writeTable(const TableConfig& table) {
    QJsonObject rules{{"lockout", lockoutName(table.rules.lockout)}};
    if (table.rules.lockout == Lockout::Order) rules.insert("lit", table.rules.lit);
    if (!table.rules.correctSound.isEmpty()) rules.insert("correctSound", table.rules.correctSound);
    if (!table.rules.wrongSound.isEmpty()) rules.insert("wrongSound", table.rules.wrongSound);
    QJsonArray seats;
    for (const SeatConfig& seat : table.seats) {
        QJsonObject s{{"name", seat.name}, {"kit", seat.kit}, {"inputs", QJsonArray::fromStringList(seat.inputs)}};
        if (seat.place) {
            s.insert("x", seat.place->x());
            s.insert("y", seat.place->y());
        }
        seats.append(s);
    }
    return QJsonDocument(QJsonObject{{"zumbleTable", FormatVersion}, {"rules", rules}, {"seats", seats}})
        .toJson(QJsonDocument::Indented);
}

QString resolvePath(const QString& tableFile, const QString& path) {
    if (path.isEmpty() || QDir::isAbsolutePath(path)) return path;
    return QDir::cleanPath(QFileInfo(tableFile).absoluteDir().filePath(path));
}

TableConfig readTableFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // Opened without blocking and looked at through the descriptor, so a FIFO
    // or a device never stalls the program and the file checked is the file read.
    const int fd = path.isEmpty() ? -1 : ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) fail(QStringLiteral("テーブルファイルを開く権限がありません。"));
        fail(QStringLiteral("テーブルファイルが見つかりません。"));
    }
    struct stat st {};
    QFile file;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(QStringLiteral("テーブルファイルではありません（フォルダか装置です）。"));
    }
    if (st.st_size > MaxTableFileSize) {
        ::close(fd);
        fail(QStringLiteral("テーブルファイルが大きすぎます。"));
    }
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray bytes = file.read(MaxTableFileSize);
    if (file.error() != QFileDevice::NoError) fail(QStringLiteral("テーブルファイルを読めませんでした。"));
    return parseTable(bytes);
}

void saveTableFile(const QString& path, const TableConfig& table) {
    const QByteArray bytes = writeTable(table);
    QSaveFile out(path);
    errno = 0;
    bool ok = out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
    const int err = errno ? errno : EIO;
    if (ok) {
        errno = 0;
        ok = out.commit();
    } else {
        out.cancelWriting();
    }
    if (!ok) fail(dataFileReason(errno ? errno : err));
}

}  // namespace table
