// Settings mode: the live geometry, colour and always-on-top state copied into
// the dialog in order, the highlighted area while the dialog is shown, and the
// real modal showing that keeps the button window from taking input.
#include "FreshWindows.h"
#include "WhenReady.h"
#include "app/Startup.h"
#include "button/RecognitionArea.h"
#include "button/frmBase.h"
#include "platform/QtDesktop.h"
#include "platform/Twips.h"
#include "settings/SettingsMode.h"
#include "settings/frmSetDlg.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QScrollBar>
#include <QtTest>

#include <cmath>

namespace {
const QString Caption = QStringLiteral("設定モード\r\n\r\n・ここを見ながら認識エリアを調整してください");
const QColor Yellow(255, 255, 0);
}  // namespace

class TestSettingsMode : public WindowTest {
    Q_OBJECT
    // The window's geometry after each scroll change, as the change left it.
    QList<QPair<QSize, QRect>> passedThrough;

    // A pixel inside the area, below where its caption is drawn.
    QColor areaPixel() const {
        const QRect r = w->Label1->geometry();
        return w->grab().toImage().pixelColor(r.right() - 3, r.bottom() - 3);
    }
    QStringList readouts() const {
        QStringList out;
        for (int i = 0; i < 6; ++i) out << s->Label4[size_t(i)]->text();
        return out;
    }

private slots:
    void initTestCase() { setUpFonts(); }
    void init() {
        WindowTest::init();
        passedThrough.clear();
        for (QScrollBar* bar : s->HScroll1)
            connect(bar, &QScrollBar::valueChanged, this,
                    [this] { passedThrough.append({w->size(), w->Label1->geometry()}); });
    }

    void firstUseCapturesTheDesignGeometry() {
        w->Label1_Click();  // latched: settings mode leaves the pressed flag alone
        QVERIFY(w->Pressed());
        const QColor background = w->palette().color(QPalette::Window);
        const QColor before = areaPixel();
        QCOMPARE(before, background);  // the area is invisible
        desk->clear();

        bool ran = false;
        desk->modalScripts.push_back([&](QWidget* shown) {
            ran = true;
            QCOMPARE(shown, static_cast<QWidget*>(s));
            QCOMPARE(readouts(), QStringList({"2475", "4170", "480", "2700", "1575", "1020"}));
            QCOMPARE(w->Label1->Caption(), Caption);
            QCOMPARE(QList<uint>({uint(w->Label1->BackStyle()), uint(w->Label1->BorderStyle()), w->Label1->BackColor()}),
                     QList<uint>({1, 1, 0x0000FFFFu}));
            QCOMPARE(areaPixel(), Yellow);
            // The swatch shows the window's own default colour, not the design black.
            QCOMPARE(s->swatchColor(), refFromColor(background));
            QVERIFY(s->swatchColor() != 0);
            QCOMPARE(s->check1Value(), 0);
        });
        w->MnuSetSet_Click();
        QVERIFY(ran);
        QCOMPARE(desk->calls, QStringList({"ShowModal frmSetDlg"}));

        // One write per scroll bar, each applying all six values.
        const QList<QPair<QSize, QRect>> expected = {
            {{165, 0}, {0, 0, 3, 3}},       {{165, 278}, {0, 0, 3, 3}},    {{165, 278}, {32, 0, 3, 3}},
            {{165, 278}, {32, 180, 3, 3}}, {{165, 278}, {32, 180, 105, 3}}, {{165, 278}, {32, 180, 105, 68}}};
        QCOMPARE(passedThrough, expected);

        QCOMPARE(w->Label1->Caption(), QString());
        // Left yellow, unseen.
        QCOMPARE(QList<uint>({uint(w->Label1->BackStyle()), uint(w->Label1->BorderStyle()), w->Label1->BackColor()}),
                 QList<uint>({0, 0, 0x0000FFFFu}));
        QCOMPARE(areaPixel(), before);
        QVERIFY(w->Pressed());
        QVERIFY(!s->isVisible());
    }

    void matchingValuesAreNotWrittenAgain() {
        const int design[] = {2475, 4170, 480, 2700, 1575, 1020};
        for (int i = 0; i < 6; ++i) s->setScrollValue(i, design[i]);
        w->MnuSetTopMost->setChecked(true);
        s->setCheck1Value(1);
        passedThrough.clear();
        desk->clear();
        QColor followed;
        desk->modalScripts.push_back([&](QWidget*) {
            QVERIFY(passedThrough.isEmpty());
            s->HScroll1[2]->triggerAction(QAbstractSlider::SliderToMinimum);  // the highlight follows
            QCOMPARE(w->Label1->x(), 0);
            followed = areaPixel();
        });
        w->MnuSetSet_Click();
        QCOMPARE(followed, Yellow);
        QCOMPARE(desk->calls, QStringList({"ShowModal frmSetDlg"}));
    }

    void checkBoxFollowsTheMenu() {
        w->MnuSetTopMost->setChecked(true);
        desk->modalScripts.push_back([&](QWidget*) { QCOMPARE(s->check1Value(), 1); });
        w->MnuSetSet_Click();
        QCOMPARE(desk->calls, QStringList({"SetWindowPos frmBase -1 0 0 0 0 3", "ShowModal frmSetDlg"}));

        desk->clear();
        w->MnuSetTopMost->setChecked(false);
        w->MnuSetSet_Click();
        QCOMPARE(s->check1Value(), 0);
        QCOMPARE(desk->calls, QStringList({"SetWindowPos frmBase -2 0 0 0 0 3", "ShowModal frmSetDlg"}));
        QVERIFY(!w->MnuSetTopMost->isChecked());
    }

    void outOfRangeCapturesAreClamped() {
        w->resize(700, 278);         // 10500 twips, beyond the scroll bar's 10000
        w->Label1->resize(2, 105);   // 30 twips, below the area's minimum of 50
        w->MnuSetSet_Click();
        QCOMPARE(desk->calls, QStringList({"ShowModal frmSetDlg"}));
        QCOMPARE(QList<int>({s->HScroll1[0]->value(), s->HScroll1[4]->value(), s->HScroll1[5]->value()}), QList<int>({10000, 50, 1575}));
        QCOMPARE(w->width(), 667);
        QCOMPARE(w->Label1->width(), 3);
    }

    void zeroWidthLeavesTheWindowReachable() {
        desk->modalScripts.push_back([&](QWidget*) {
            s->HScroll1[0]->triggerAction(QAbstractSlider::SliderToMinimum);  // Home on 幅: no window to see
            QVERIFY(w->testAttribute(Qt::WA_OutsideWSRange));
        });
        w->MnuSetSet_Click();
        QCOMPARE(w->size(), QSize(frmBase::ReachableSide, 278));
        QVERIFY(!w->testAttribute(Qt::WA_OutsideWSRange));
        QCOMPARE(s->HScroll1[0]->value(), 0);  // the setting keeps what was chosen
    }

    void capturedValuesRoundHalfToEven() {
        using SettingsMode::capturedValue;
        const double in[] = {2.5, 3.5, 4.5, 7.49, 7.51, 2474.5, 2475.5, -0.5, 10000.4, 10000.5, 49.5, 50.5, 1e300};
        const int out[] = {2, 4, 4, 7, 8, 2474, 2476, 0, 10000, 10000, 50, 50, 10000};
        for (size_t i = 0; i < std::size(in); ++i)
            QCOMPARE(capturedValue(in[i], in[i] < 40 || in[i] > 1e5 ? 0 : 50, 10000), out[i]);
        QCOMPARE(capturedValue(std::nan(""), 50, 10000), 50);
    }

    void realModalShowingBlocksTheButtonWindow() {
        QtDesktop real;
        setDesktop(&real);
        bool checked = false, ownerless = false, modal = false, pressed = true;
        QColor during;
        whenReady([&] {
            if (QApplication::activeModalWidget() != s) return false;
            checked = true;
            ownerless = s->parentWidget() == nullptr;
            modal = s->windowModality() == Qt::ApplicationModal;
            // Space on the button window and a click on its area go nowhere.
            QTest::keyClick(w->windowHandle(), Qt::Key_Space);
            QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, w->Label1->geometry().center());
            pressed = w->Pressed();
            during = areaPixel();
            // Enter on the dialog is OK, its default button.
            QTest::keyClick(s->windowHandle(), Qt::Key_Return);
            return true;
        });
        w->MnuSetSet_Click();
        setDesktop(desk);
        QVERIFY(checked);
        QVERIFY(ownerless);
        QVERIFY(modal);
        QVERIFY(!pressed);
        QCOMPARE(during, Yellow);
        QVERIFY(!s->isVisible());
        QCOMPARE(w->Label1->BackStyle(), 0);
        QVERIFY(!w->Pressed());
    }
};

QTEST_MAIN(TestSettingsMode)
#include "test_settings_mode.moc"
