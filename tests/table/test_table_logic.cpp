// The quiz table without windows: a round driven by scripted event sequences,
// and the table file's round trip, refusals and paths.
#include "Kit.h"
#include "table/Round.h"
#include "table/TableFile.h"

#include <QtTest>

#include <sys/stat.h>

using namespace table;

namespace {

// Seat states as one letter each: Armed, Lit, Dark, locked (X), Idle.
QString states(const Round& round) {
    QString s;
    for (int i = 0; i < round.seats(); ++i) s += QStringLiteral("ALDXI")[int(round.state(i))];
    return s;
}

QString order(const Round& round) {
    QStringList out;
    for (const Press& p : round.order()) out << QStringLiteral("%1:%2").arg(p.seat).arg(p.rank);
    return out.join(u' ');
}

// Runs "r" reset, "w" wrong, "c" correct, "p<seat>@<time>[/<now>]" press,
// "s@<now>" settle. Returns what the presses and settles decided.
QString play(Round& round, const QString& script) {
    QStringList decided;
    const auto note = [&](const std::vector<Press>& presses) {
        for (const Press& p : presses) decided << QStringLiteral("%1:%2").arg(p.seat).arg(p.rank);
    };
    for (const QString& step : script.split(u' ', Qt::SkipEmptyParts)) {
        if (step == u"r") round.reset();
        else if (step == u"w") decided << QStringLiteral("w%1").arg(round.wrong());
        else if (step == u"c") round.correct();
        else if (step.startsWith(u"s@")) note(round.settle(step.mid(2).toLongLong()));
        else {
            const QStringList parts = step.mid(1).split(QRegularExpression(QStringLiteral("[@/]")));
            const qint64 time = parts[1].toLongLong();
            note(round.press(parts[0].toInt(), time, parts.size() > 2 ? parts[2].toLongLong() : time));
        }
    }
    return decided.join(u' ');
}

QString tempPath(const QTemporaryDir& dir, const char* name) { return dir.filePath(QString::fromUtf8(name)); }

}  // namespace

class TestTableLogic : public QObject {
    Q_OBJECT
private slots:
    void round_data() {
        QTest::addColumn<int>("lit");        // 1: first only; K > 1: the first K light in order
        QTest::addColumn<int>("window");     // adjudication window, µs
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("decided");
        QTest::addColumn<QString>("states");
        QTest::addColumn<QString>("order");
        QTest::newRow("nothing armed before the first reset") << 1 << 0 << "p0@1" << "" << "IIII" << "";
        QTest::newRow("first press lights, later ones stay dark") << 1 << 0 << "r p2@100 p0@112" << "2:1 0:0" << "DALA" << "2:1 0:0";
        QTest::newRow("a second press of the lit seat counts for nothing") << 1 << 0 << "r p2@100 p2@150" << "2:1" << "AALA" << "2:1";
        QTest::newRow("same microsecond: arrival order decides") << 1 << 0 << "r p3@100 p1@100" << "3:1 1:0" << "ADAL" << "3:1 1:0";
        QTest::newRow("wrong locks the answerer and re-arms the rest") << 1 << 0 << "r p2@100 p0@112 w" << "2:1 0:0 w2" << "AAXA" << "";
        QTest::newRow("after a wrong answer the next press wins") << 1 << 0 << "r p2@100 w p1@500 p0@501" << "2:1 w2 1:1 0:0" << "DLXA" << "1:1 0:0";
        QTest::newRow("a locked seat cannot press again") << 1 << 0 << "r p2@100 w p2@600" << "2:1 w2" << "AAXA" << "";
        QTest::newRow("a second wrong answer keeps the first answerer locked") << 1 << 0 << "r p2@100 w p1@500 w p2@900 p0@901" << "2:1 w2 1:1 w1 0:1" << "LXXA" << "0:1";
        QTest::newRow("wrong with nobody answering does nothing") << 1 << 0 << "r w" << "w-1" << "AAAA" << "";
        QTest::newRow("correct ends the question, the winner stays lit") << 1 << 0 << "r p2@100 c p1@200" << "2:1" << "IILI" << "2:1";
        QTest::newRow("reset clears lockouts and the order") << 1 << 0 << "r p2@100 w p1@200 r" << "2:1 w2 1:1" << "AAAA" << "";
        QTest::newRow("order mode lights the first two with ranks") << 2 << 0 << "r p2@100 p0@105 p1@110" << "2:1 0:2 1:0" << "LDLA" << "2:1 0:2 1:0";
        QTest::newRow("order mode: wrong locks rank one, re-arms the rest") << 2 << 0 << "r p2@100 p0@105 w" << "2:1 0:2 w2" << "AAXA" << "";
        QTest::newRow("a window holds presses, then orders them by their own time")
            << 1 << 20 << "r p1@1000 p0@990/1005 s@1009 s@1010" << "0:1 1:0" << "LDAA" << "0:1 1:0";
        QTest::newRow("a press inside the window of a decided one decides at once")
            << 1 << 20 << "r p1@1000 s@1020 p3@1015/1040 s@1040" << "1:1 3:0" << "ALAD" << "1:1 3:0";
        QTest::newRow("correct while presses are held drops them") << 1 << 20 << "r p1@100 c s@500" << "" << "IIII" << "";
    }
    void round() {
        QFETCH(int, lit);
        QFETCH(int, window);
        QFETCH(QString, script);
        Round r(4, lit > 1 ? Lockout::Order : Lockout::FirstOnly, lit);
        r.setWindowUs(window);
        QTEST(play(r, script), "decided");
        QTEST(states(r), "states");
        QTEST(order(r), "order");
    }

    void bindings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical");  // empty: refused
        QTest::newRow("digit key") << "key:1" << "key:1";
        QTest::newRow("named key") << "key:space" << "key:Space";
        QTest::newRow("function key") << "key:F12" << "key:F12";
        QTest::newRow("modifiers are not a buzzer") << "key:Ctrl+A" << "";
        QTest::newRow("two keys") << "key:A,B" << "";
        QTest::newRow("gamepad button") << "gamepad:3:button:0" << "gamepad:3:button:0";
        QTest::newRow("joystick button") << "joystick:0:button:100" << "joystick:0:button:100";
        QTest::newRow("gamepad out of range") << "gamepad:16:button:0" << "";
        QTest::newRow("leading zero is not canonical") << "gamepad:01:button:0" << "";
        QTest::newRow("midi note, any channel") << "midi:note:36" << "midi:note:36";
        QTest::newRow("midi note on channel 10") << "midi:10:note:36" << "midi:10:note:36";
        QTest::newRow("midi channel 0") << "midi:0:note:36" << "";
        QTest::newRow("midi note 128") << "midi:note:128" << "";
        QTest::newRow("unknown kind") << "mouse:1" << "";
    }
    void bindings() {
        QFETCH(QString, text);
        QTEST(canonicalBinding(text).value_or(QString()), "canonical");
    }

    void roundTripKeepsEverything() {
        TableConfig t;
        t.rules = {Lockout::Order, 3, QStringLiteral("正解.wav"), QStringLiteral("/snd/誤答.mp3")};
        t.seats.push_back({QStringLiteral("チームA"), QStringLiteral("kits/a.zm1"), QPoint(10, -20),
                           {QStringLiteral("key:1"), QStringLiteral("gamepad:0:button:0")}});
        t.seats.push_back({QStringLiteral("チームB"), QStringLiteral("/abs/b.zm1"), std::nullopt, {}});
        const QByteArray bytes = writeTable(t);
        const TableConfig back = parseTable(bytes);
        QCOMPARE(writeTable(back), bytes);
        QCOMPARE(back.seats.size(), size_t(2));
        QCOMPARE(back.seats[0].place, std::optional<QPoint>(QPoint(10, -20)));
        QVERIFY(!back.seats[1].place);
        QCOMPARE(back.rules.lit, 3);
        QCOMPARE(back.seats[0].inputs, t.seats[0].inputs);
        QCOMPARE(resolvePath(QStringLiteral("/tables/quiz.zmt"), back.seats[0].kit), QStringLiteral("/tables/kits/a.zm1"));
        QCOMPARE(resolvePath(QStringLiteral("/tables/quiz.zmt"), back.seats[1].kit), QStringLiteral("/abs/b.zm1"));
        QCOMPARE(resolvePath(QStringLiteral("/tables/quiz.zmt"), QStringLiteral("../x/c.zm1")), QStringLiteral("/x/c.zm1"));
    }

    void refusals_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");
        const QByteArray seat = R"({"name":"A","kit":"a.zm1"})";
        const QByteArray seventeen = "[" + (seat + ",").repeated(16) + seat + "]";
        QTest::newRow("not JSON") << QByteArray("{\"zumbleTable\": 1,") << "テーブルファイルの形式が正しくありません（";
        QTest::newRow("not an object") << QByteArray("[1]") << "全体が { } で囲まれていません";
        QTest::newRow("no version") << QByteArray(R"({"seats":[]})") << "Zumble のテーブルファイルではありません";
        QTest::newRow("newer version") << QByteArray(R"({"zumbleTable":2,"seats":[{}]})") << "バージョン 2）には対応していません";
        QTest::newRow("no seats") << QByteArray(R"({"zumbleTable":1,"seats":[]})") << "席がひとつもありません。";
        QTest::newRow("seventeen seats") << QByteArray(R"({"zumbleTable":1,"seats":)" + seventeen + "}")
                                         << "席が多すぎます（17 席）。16 席までです。";
        QTest::newRow("one input on two seats")
            << QByteArray(R"({"zumbleTable":1,"seats":[{"inputs":["key:1"]},{"inputs":["key:2","key:1"]}]})")
            << "入力「key:1」が1 番目の席と2 番目の席の両方に割り当てられています。";
        QTest::newRow("unknown input") << QByteArray(R"({"zumbleTable":1,"seats":[{"name":"B","inputs":["pedal"]}]})")
                                       << "1 番目の席（B）の入力「pedal」はわかりません。";
        QTest::newRow("unknown lockout") << QByteArray(R"({"zumbleTable":1,"rules":{"lockout":"all"},"seats":[{}]})")
                                         << "lockout「all」は使えません";
    }
    void refusals() {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        try {
            parseTable(json);
            QFAIL("accepted");
        } catch (const TableFileError& e) {
            QVERIFY2(e.reason().contains(reason), qPrintable(e.reason()));
        }
    }

    void filesOnDisk() {
        QTemporaryDir dir;
        TableConfig t;
        t.seats.push_back({QStringLiteral("A"), QStringLiteral("a.zm1"), std::nullopt, {QStringLiteral("key:1")}});
        const QString path = tempPath(dir, "卓.zmt");
        saveTableFile(path, t);
        QCOMPARE(readTableFile(path).seats[0].name, QStringLiteral("A"));

        // A failed save names the reason and leaves the old file as it was.
        const QByteArray before = writeTable(t);
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.zmt")));
        for (const char* bad : {"folder.zmt", "卓.zmt/under-a-file.zmt", "missing/x.zmt"}) {
            try {
                saveTableFile(tempPath(dir, bad), t);
                QFAIL(bad);
            } catch (const TableFileError& e) {
                QVERIFY2(!e.reason().isEmpty(), bad);
            }
        }
        QCOMPARE(kit::read(path), before);

        // Only ordinary files are read: a FIFO must not block, a folder is no table.
        QVERIFY(::mkfifo(QFile::encodeName(tempPath(dir, "fifo.zmt")).constData(), 0600) == 0);
        const QString notATable = QStringLiteral("テーブルファイルではありません（フォルダか装置です）。");
        const QList<QPair<const char*, QString>> unreadable{
            {"fifo.zmt", notATable}, {"folder.zmt", notATable}, {"none.zmt", QStringLiteral("テーブルファイルが見つかりません。")}};
        for (const auto& [name, reason] : unreadable) {
            try {
                readTableFile(tempPath(dir, name));
                QFAIL(name);
            } catch (const TableFileError& e) {
                QCOMPARE(e.reason(), reason);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestTableLogic)
#include "test_table_logic.moc"
