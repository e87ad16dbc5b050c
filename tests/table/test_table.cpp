// A quiz table of four seats bound to keys 1-4, played through its real
// windows: who lights, what is sent to the sound service, what the host panel
// shows, and the host's commands, learning and exit.
#include "Kit.h"
#include "ScriptedDesktop.h"
#include "TableKit.h"
#include "TestMedia.h"

#include "app/Seat.h"
#include "button/frmBase.h"
#include "datafile/DataFile.h"
#include "datafile/SettingsRecord.h"
#include "settings/frmSetDlg.h"
#include "table/HostPanel.h"
#include "table/Table.h"

#include <QtTest>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

using namespace table;

namespace {

QStringList lines(QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text().section(u' ', 0, 1);
    return out;
}

QString seatState(Table& t, int seat) { return t.panel().SeatList->topLevelItem(seat)->text(1); }

}  // namespace

class TestTable : public QObject {
    Q_OBJECT
private slots:
    void roundWithKeysAndHostCommands() {
        QTemporaryDir dir;
        const QString path = tablekit::fourSeats(dir);
        ScriptedDesktop desk;
        Table t;
        QVERIFY(t.open(path));
        // The missing kit is reported; that seat keeps the design settings.
        QCOMPARE(desk.calls.filter(QStringLiteral("MsgBox")).size(), 1);
        QVERIFY(desk.calls.filter(QStringLiteral("MsgBox")).first().contains(QStringLiteral("kits/4.zm1")));
        QCOMPARE(t.seat(0).Base().width(), 40);
        QVERIFY(QTest::qWaitForWindowExposed(&t.seat(0).Base()));
        // Gamepads and MIDI are opened once the panel has painted; here there is no sequencer.
        QTRY_VERIFY(t.panel().StatusLabel->text().contains(QStringLiteral("MIDI: 使用できません")));
        const QString alias = QCoreApplication::applicationName();

        desk.clear();
        for (Qt::Key k : {Qt::Key_3, Qt::Key_1}) QTest::keyClick(&t.seat(0).Base(), k);
        QVERIFY(t.seat(2).Base().Pressed());
        QVERIFY(!t.seat(0).Base().Pressed());
        QCOMPARE(desk.mciCommands.filter(u"Seat3").size(), 4);  // close, open, stop, play
        QVERIFY(desk.mciCommands.last().startsWith(QStringLiteral("play %1Seat3 from 0").arg(alias)));
        QVERIFY(desk.mciCommands.filter(u"Seat1").isEmpty());
        QCOMPARE(lines(t.panel().OrderList), (QStringList{"1 チームC", "2 チームA"}));
        QVERIFY(t.panel().OrderList->item(1)->text().endsWith(u" ms"));
        QCOMPARE(seatState(t, 2), QStringLiteral("点灯"));
        QCOMPARE(seatState(t, 0), QStringLiteral("押した（消灯）"));

        // 誤答: seat 3 goes dark and grey, its sound stops; the next press wins.
        desk.clear();
        t.panel().WrongButton->click();
        QVERIFY(t.seat(2).Base().lockedOut() && !t.seat(2).Base().Pressed());
        QCOMPARE(desk.mciCommands.first(), QStringLiteral("stop %1Seat3").arg(alias));
        QVERIFY(desk.mciCommands.filter(QStringLiteral("alias %1Host").arg(alias)).size() == 1);
        QCOMPARE(seatState(t, 2), QStringLiteral("お手つき"));
        for (Qt::Key k : {Qt::Key_3, Qt::Key_1}) QTest::keyClick(&t.seat(1).Base(), k);
        QVERIFY(t.seat(0).Base().Pressed() && !t.seat(2).Base().Pressed());
        QCOMPARE(lines(t.panel().OrderList), QStringList{"1 チームA"});

        // 正解 ends the question; リセット arms every seat again.
        t.panel().CorrectButton->click();
        QTest::keyClick(&t.seat(1).Base(), Qt::Key_2);
        QVERIFY(!t.seat(1).Base().Pressed());
        desk.clear();
        t.panel().ResetButton->click();
        for (int i = 0; i < 4; ++i) QVERIFY(!t.seat(i).Base().Pressed() && !t.seat(i).Base().lockedOut());
        QCOMPARE(desk.mciCommands.filter(u"stop ").size(), 4);  // every seat's sound, whether playing or not
        QCOMPARE(t.panel().OrderList->count(), 0);
        // Backspace on a seat resets the whole table too.
        QTest::keyClick(&t.seat(3).Base(), Qt::Key_4);
        QVERIFY(t.seat(3).Base().Pressed());
        QTest::keyClick(&t.seat(3).Base(), Qt::Key_Backspace);
        QVERIFY(!t.seat(3).Base().Pressed());

        // Learning binds the next input to the chosen seat, taking it from any other.
        t.learn(1);
        QTest::keyClick(&t.seat(0).Base(), Qt::Key_1);
        QCOMPARE(t.seatConfig(1).inputs, (QStringList{"key:2", "key:1"}));
        QVERIFY(t.seatConfig(0).inputs.isEmpty());
        QVERIFY(!t.seat(1).Base().Pressed());

        // Exit offers to save the new binding (Yes writes it), then each seat
        // whose kit changed, and only those: Cancel there keeps the table.
        t.seat(1).SetDlg().setSwatchColor(0x0000FF00);
        desk.clear();
        desk.msgBoxAnswers = {MsgBoxResult::Yes, MsgBoxResult::Cancel};
        QVERIFY(!t.exit());  // what closing the panel runs (Alt+F4 in e2e_table)
        QCOMPARE(desk.calls.filter(u"MsgBox").size(), 2);
        QVERIFY(desk.calls.first().contains(QStringLiteral("ブザーの割り当てが変わっています")));
        QVERIFY(desk.calls.last().contains(QStringLiteral("「チームB」の設定が変わっています。保存しますか？")));
        QCOMPARE(readTableFile(path).seats[1].inputs, (QStringList{"key:2", "key:1"}));
        // Yes, and Save As over the seat's kit: the program ends with it saved.
        desk.clear();
        desk.msgBoxAnswers = {MsgBoxResult::Yes};
        desk.fileAnswers = {dir.filePath(QStringLiteral("kits/2.zm1"))};
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, t.exit());
        QCOMPARE(desk.calls.filter(u"MsgBox").size(), 1);
        QCOMPARE(decodeRecord(readDataFile(dir.filePath(QStringLiteral("kits/2.zm1"))))->BackgroundColor, 0x0000FF00u);
        QCOMPARE(desk.mciCommands.filter(u"close").size(), 5);
    }

    void orderModeWrongDarkensEveryLitSeat() {
        // The first three light in order; 誤答 locks out the first and re-arms
        // the others, so none of them may stay lit with its rank.
        QTemporaryDir dir;
        ScriptedDesktop desk;
        Table t;
        QVERIFY(t.open(tablekit::fourSeats(dir, {{"lockout", "order"}, {"lit", 3}})));
        for (Qt::Key k : {Qt::Key_3, Qt::Key_1, Qt::Key_2}) QTest::keyClick(&t.seat(0).Base(), k);
        for (int i : {0, 1, 2}) QVERIFY(t.seat(i).Base().Pressed());
        t.panel().WrongButton->click();
        for (int i : {0, 1, 2}) QVERIFY(!t.seat(i).Base().Pressed());
        QVERIFY(t.seat(2).Base().lockedOut() && !t.seat(0).Base().lockedOut() && !t.seat(1).Base().lockedOut());
        QTest::keyClick(&t.seat(0).Base(), Qt::Key_2);
        QVERIFY(t.seat(1).Base().Pressed());
    }

    void unusableTableOpensNothing() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.zmt"));
        QVERIFY(kit::write(path, R"({"zumbleTable":1,"seats":[{"inputs":["key:1"]},{"inputs":["key:1"]}]})"));
        ScriptedDesktop desk;
        Table t;
        QVERIFY(!t.open(path));
        QCOMPARE(t.seats(), 0);
        QCOMPARE(desk.calls.size(), 1);
        QVERIFY(desk.calls[0].contains(QStringLiteral("入力「key:1」が1 番目の席と2 番目の席の両方に割り当てられています。")));
    }
};

QTEST_MAIN(TestTable)
#include "test_table.moc"
