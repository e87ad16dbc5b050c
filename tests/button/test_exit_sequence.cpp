// The exit sequence: one question per close request from the Exit item, the
// window manager's close and the end of the session, each answer's exact
// order of hiding and closing the sound, and a save that did not happen
// keeping the window open.
#include "FreshWindows.h"
#include "app/AppState.h"
#include "button/frmBase.h"
#include "platform/App.h"
#include "settings/frmSetDlg.h"

#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

namespace {
const QString Question = QStringLiteral("MsgBox 35 保存確認 現在の情報を保存しますか？");
const QString ShowSave = QStringLiteral("ShowSave 2 ズンブルアプリVer1データファイル(*.zm1)|*.zm1 []");

// Writes the button window's hiding into the desktop's call list, so the
// order of hiding and closing the sound shows.
class HideLog : public QObject {
public:
    explicit HideLog(QStringList& calls) : calls_(calls) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Hide) calls_ << QStringLiteral("Hide");
        return false;
    }

private:
    QStringList& calls_;
};
}  // namespace

class TestExitSequence : public WindowTest {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<HideLog> hides;
    QStringList closeSound;

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        closeSound = {"mci close " + EXEName() + "P1", "mci close " + EXEName() + "P2"};
    }
    void init() {
        WindowTest::init();
        AppState::IsSaved = false;
        hides = std::make_unique<HideLog>(desk->calls);
        w->installEventFilter(hides.get());
    }
    void cleanup() {
        WindowTest::cleanup();
        hides.reset();
    }

    void cancelKeepsEverythingAndAsksAgain() {
        s->setScrollValue(0, 3000);
        desk->msgBoxAnswers = {MsgBoxResult::Cancel, MsgBoxResult::Cancel};
        QCOMPARE(w->Form_QueryUnload(), 1);
        w->MnuFileExit_Click();
        QCOMPARE(desk->calls, QStringList({Question, Question}));
        QVERIFY(w->isVisible());
        QCOMPARE(s->HScroll1[0]->value(), 3000);
    }

    void noClosesTheSoundThenHides() {
        // (Requests through Qt's close are checked with Cancel: the scripted
        // end of the process cannot unwind through Qt's own frames cleanly.)
        desk->msgBoxAnswers = {MsgBoxResult::No};
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, w->Form_QueryUnload());
        QCOMPARE(desk->calls, QStringList({Question}) + closeSound + QStringList({"Hide", "End"}));
    }

    void yesSavesHidesThenClosesTheSound() {
        const QString target = dir.filePath("exit.zm1");
        desk->msgBoxAnswers = {MsgBoxResult::Yes};
        desk->fileAnswers = {target};
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, w->Form_QueryUnload());
        QCOMPARE(desk->calls, QStringList({Question, ShowSave, "Hide"}) + closeSound + QStringList({"End"}));
        QCOMPARE(QFile(target).size(), 24);
    }

    void yesWithoutASaveKeepsTheWindow() {
        // The save dialog cancelled, then a save that fails: the window stays
        // with its settings, and the next close asks again.
        s->setScrollValue(0, 3000);
        desk->msgBoxAnswers = {MsgBoxResult::Yes, MsgBoxResult::Yes, MsgBoxResult::Ok, MsgBoxResult::Cancel};
        desk->fileAnswers = {std::nullopt, dir.path()};
        for (int request = 0; request < 3; ++request) QCOMPARE(w->Form_QueryUnload(), 1);
        QCOMPARE(desk->calls.size(), 6);
        QCOMPARE(desk->calls.mid(0, 4), QStringList({Question, ShowSave, Question, ShowSave}));
        QVERIFY(desk->calls[4].startsWith("MsgBox 16 保存エラー"));
        QCOMPARE(desk->calls[5], Question);
        QVERIFY(w->isVisible());
        QVERIFY(!AppState::IsSaved);
        QCOMPARE(s->HScroll1[0]->value(), 3000);
    }

    void savedRunEndsWithoutAQuestion() {
        AppState::IsSaved = true;
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, w->Form_QueryUnload());
        QCOMPARE(desk->calls, closeSound + QStringList({"Hide", "End"}));
    }

    void windowManagerCloseAsksOnce() {
        // The window manager's close (Alt+F4, WM_DELETE_WINDOW) arrives as a close of the window.
        desk->msgBoxAnswers = {MsgBoxResult::Cancel};
        QVERIFY(!w->windowHandle()->close());
        QCOMPARE(desk->calls, QStringList({Question}));
        QVERIFY(w->isVisible());
    }

    void aRequestDuringTheSequenceIsNotAskedAgain() {
        // Another close request (the session ending) arrives while the
        // sequence runs: it neither asks nor ends anything itself.
        int nested = -1;
        desk->mci = [&](const QString&) {
            if (nested == -1) nested = w->Form_QueryUnload();
            return 0;
        };
        desk->msgBoxAnswers = {MsgBoxResult::No};
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, w->Form_QueryUnload());
        QCOMPARE(nested, 1);
        QCOMPARE(desk->calls, QStringList({Question}) + closeSound + QStringList({"Hide", "End"}));
    }

    void sessionEndAsksOnlyWhenItMay() {
        // Not allowed to ask and unsaved: nothing is shown and nothing ends here.
        QVERIFY(!w->Session_End(false));
        QCOMPARE(desk->calls, QStringList());
        // Allowed: the same question; Cancel cancels the logout.
        desk->msgBoxAnswers = {MsgBoxResult::Cancel, MsgBoxResult::No};
        QVERIFY(w->Session_End(true));
        QCOMPARE(desk->calls, QStringList({Question}));
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, w->Session_End(true));
        QCOMPARE(desk->calls, QStringList({Question, Question}) + closeSound + QStringList({"Hide", "End"}));
        // Saved: it ends without asking, whether or not it may ask.
        w->show();
        desk->clear();
        AppState::IsSaved = true;
        QVERIFY_THROWS_EXCEPTION(ProcessEnded, w->Session_End(false));
        QCOMPARE(desk->calls, closeSound + QStringList({"Hide", "End"}));
    }
};

QTEST_MAIN(TestExitSequence)
#include "test_exit_sequence.moc"
