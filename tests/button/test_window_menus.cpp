// The popup menu tree, always-on-top kept in step between the menu mark and
// the settings check box (with the exact z-order calls), and the exit path.
#include "FreshWindows.h"
#include "app/Forms.h"
#include "app/ZumbleApplication.h"
#include "button/frmBase.h"
#include "platform/App.h"
#include "platform/Errors.h"
#include "settings/frmSetDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QtTest>

#include <memory>

namespace {
const QString On = QStringLiteral("SetWindowPos frmBase -1 0 0 0 0 3");
const QString Off = QStringLiteral("SetWindowPos frmBase -2 0 0 0 0 3");

// The popup as a user sees it: visible items' captions, "-" for separators,
// submenus indented.
QStringList visibleTree(QMenu* menu, const QString& indent = {}) {
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (!a->isVisible()) continue;
        out << indent + (a->isSeparator() ? QStringLiteral("-") : a->text());
        if (a->menu()) out << visibleTree(a->menu(), indent + "  ");
    }
    return out;
}
}  // namespace

class TestWindowMenus : public WindowTest {
    Q_OBJECT

    void chooseFromPopup(const QString& item) {
        desk->popupChoices.push_back(item);
        QTest::mouseClick(w->windowHandle(), Qt::RightButton, {}, QPoint(5, 5));
    }

private slots:

    void popupShowsThreeMenusAndHidesNew() {
        QCOMPARE(visibleTree(w->MnuPopUp),
                 QStringList({"ファイル(&F)", "  開く(&O)", "  名前をつけて保存(&A)", "  -", "  終了(&X)", "設定(&S)",
                              "  各種設定(&S)", "  -", "  常に手前に表示(&T)", "ヘルプ(&H)", "  バージョン情報(&V)"}));
        QVERIFY(!w->MnuFileNew->isVisible());
        QCOMPARE(w->MnuFileNew->text(), QStringLiteral("新規プロジェクト(&N)"));
        QVERIFY(w->MnuSetTopMost->isCheckable());
        for (QAction* a : w->MnuPopUp->actions()) QVERIFY(a->shortcut().isEmpty());
        // Choosing the hidden item is impossible.
        chooseFromPopup("MnuFileNew");
        QCOMPARE(desk->calls, QStringList({"PopupMenu MnuPopUp"}));
    }

    void topMostToggleFromMenuCallsZOrderTwice() {
        for (bool on : {true, false}) {
            desk->clear();
            chooseFromPopup("MnuSetTopMost");
            QCOMPARE(desk->calls, QStringList({"PopupMenu MnuPopUp", on ? On : Off, on ? On : Off}));
            QCOMPARE(w->MnuSetTopMost->isChecked(), on);
            QCOMPARE(s->check1Value(), int(on));
        }
    }

    void toggleWhenCheckBoxAlreadyHoldsValueRunsMenuStepsOnly() {
        s->setCheck1Value(1);
        w->MnuSetTopMost->setChecked(false);
        desk->clear();
        w->MnuSetTopMost_Click();
        QCOMPARE(desk->calls, QStringList({On}));
        QVERIFY(w->MnuSetTopMost->isChecked());
    }

    void checkBoxAppliesAtOnce() {
        // The user ticks the box in the settings dialog.
        s->Check1->click();
        QCOMPARE(desk->calls, QStringList({On}));
        QVERIFY(w->MnuSetTopMost->isChecked());
        QCOMPARE(s->check1Value(), 1);
        s->Check1->click();
        QCOMPARE(desk->calls, QStringList({On, Off}));
        QVERIFY(!w->MnuSetTopMost->isChecked());

        // Greyed, as a data file can set it: not topmost; the next toggle switches on.
        s->setCheck1Value(1);
        desk->clear();
        s->setCheck1Value(2);
        QCOMPARE(desk->calls, QStringList({Off}));
        QVERIFY(!w->MnuSetTopMost->isChecked());
        desk->clear();
        w->MnuSetTopMost_Click();
        QCOMPARE(desk->calls, QStringList({On, On}));
        QCOMPARE(s->check1Value(), 1);
        // A user click from greyed goes to on, never back to greyed.
        s->setCheck1Value(2);
        s->Check1->click();
        QCOMPARE(s->check1Value(), 1);

        // Assigning the value already held runs nothing; an impossible value is refused.
        desk->clear();
        s->setCheck1Value(1);
        QCOMPARE(desk->calls, QStringList());
        QVERIFY_THROWS_EXCEPTION(RuntimeError, s->setCheck1Value(3));
        QCOMPARE(s->check1Value(), 1);
    }

    void exitClosesBothChannelsAndEnds() {
        desk->msgBoxAnswers = {MsgBoxResult::No};
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, w->Form_QueryUnload());
        const QString a = EXEName();
        QCOMPARE(desk->calls, QStringList({"MsgBox 35 保存確認 現在の情報を保存しますか？", "mci close " + a + "P1",
                                           "mci close " + a + "P2", "End"}));
        QVERIFY(!w->isVisible());
    }

    void untrappedErrorIsReportedThenEnds() {
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, reportFatalError(380, "プロパティの値が不正です。"));
        QCOMPARE(desk->calls, QStringList({"MsgBox 16 " + EXEName() + " 実行時エラー '380':\r\n\r\nプロパティの値が不正です。",
                                           "End"}));
    }
};

QTEST_MAIN(TestWindowMenus)
#include "test_window_menus.moc"
