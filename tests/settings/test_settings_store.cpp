// The settings store: scroll assignments run the change handler only on a
// real change, out-of-range values are refused, and every change applies all
// six values to the button window.
#include "FreshWindows.h"
#include "app/Forms.h"
#include "button/RecognitionArea.h"
#include "button/frmBase.h"
#include "platform/Errors.h"
#include "settings/frmSetDlg.h"

#include <QLabel>
#include <QScrollBar>
#include <QWindow>
#include <QtTest>

#include <memory>

namespace {
// Whether a window has been on the screen since it was last mapped.
struct ExposeWatch : QObject {
    bool onScreen = false;
    explicit ExposeWatch(QWindow* window) { window->installEventFilter(this); }
    bool eventFilter(QObject* window, QEvent* event) override {
        if (event->type() == QEvent::Show) onScreen = false;
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(window)->isExposed()) onScreen = true;
        return false;
    }
};
}  // namespace

class TestSettingsStore : public WindowTest {
    Q_OBJECT

private slots:
    void init() { show = false; WindowTest::init(); }

    void changeAppliesAllSixValues() {
        s->setScrollValue(0, 3000);
        // The new width with the other five values as the store holds them.
        QCOMPARE(s->Label4[0]->text(), QStringLiteral("3000"));
        QVERIFY(w->size() == QSize(200, 0) && w->Label1->geometry() == QRect(0, 0, 3, 3));

        const int values[] = {2475, 4170, 480, 2700, 1575, 1020};
        for (int i = 0; i < 6; ++i) s->setScrollValue(i, values[i]);
        QCOMPARE(w->size(), QSize(165, 278));
        QCOMPARE(w->Label1->geometry(), QRect(32, 180, 105, 68));
        QStringList readouts;
        for (int i = 0; i < 6; ++i) readouts << s->Label4[size_t(i)]->text();
        QCOMPARE(readouts, QStringList({"2475", "4170", "480", "2700", "1575", "1020"}));
    }

    void aKitOpenedAtStartWithdrawsTheWindowOnlyOnceItIsOnScreen() {
        // A kit's width comes first, with the height still 0, so the window
        // is taken off the screen at once and mapped again. A window manager
        // that has not yet shown the window can then leave it unmapped for
        // good, so the start shows it before anything is applied.
        QWindow* window = (w->winId(), w->windowHandle());
        QList<bool> onScreenWhenWithdrawn;
        ExposeWatch watch(window);
        connect(window, &QWindow::visibleChanged, &watch, [&](bool on) { if (!on) onScreenWhenWithdrawn << watch.onScreen; });
        w->showOnScreen();
        s->setScrollValue(0, 2475);
        s->setScrollValue(1, 4170);
        QCOMPARE(onScreenWhenWithdrawn, QList<bool>({true}));
        QTRY_VERIFY(window->isExposed());
    }

    void userStepChangesReadoutAndWindow() {
        s->HScroll1[2]->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(s->HScroll1[2]->value(), 1);
        QCOMPARE(s->Label4[2]->text(), QStringLiteral("1"));
        s->HScroll1[2]->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(s->Label4[2]->text(), QStringLiteral("11"));
        QCOMPARE(w->Label1->x(), 1);  // 11 twips round to one pixel
        // Dragging the thumb changes nothing until it is released.
        s->HScroll1[3]->setSliderDown(true);
        s->HScroll1[3]->setSliderPosition(600);
        QCOMPARE(s->Label4[3]->text(), QStringLiteral("0"));
        s->HScroll1[3]->setSliderDown(false);
        QCOMPARE(s->Label4[3]->text(), QStringLiteral("600"));
        QCOMPARE(w->Label1->y(), 40);
    }

    void outOfRangeIsAnInvalidPropertyValue() {
        const int bad[][2] = {{0, -1}, {1, 10001}, {2, -15}, {3, 32767}, {4, 49}, {5, 0}};
        for (const auto& [index, value] : bad) {
            try {
                s->setScrollValue(index, value);
                QFAIL(qPrintable(QStringLiteral("accepted %1 for %2").arg(value).arg(index)));
            } catch (const RuntimeError& e) {
                QCOMPARE(e.number(), 380);
            }
            QCOMPARE(s->HScroll1[size_t(index)]->value(), index < 4 ? 0 : 50);
        }
        QCOMPARE(w->size(), QSize(165, 278));
        s->setScrollValue(1, 10000);
        s->setScrollValue(5, 50);
        QCOMPARE(s->HScroll1[1]->value(), 10000);
    }

    void closeBoxHidesAndKeepsTheStore() {
        s->setScrollValue(0, 1500);
        s->show();
        s->close();
        QVERIFY(!s->isVisible());
        QVERIFY(Forms::setDlgLoaded());
        QCOMPARE(Forms::SetDlg().HScroll1[0]->value(), 1500);
    }
};

QTEST_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
