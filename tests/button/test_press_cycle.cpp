// The button window: design, start-up store, the press-and-reset cycle with
// its exact media commands and messages, and the keyboard and mouse triggers.
#include "FreshWindows.h"
#include "Kit.h"
#include "app/Forms.h"
#include "button/RecognitionArea.h"
#include "button/frmBase.h"
#include "platform/App.h"
#include "settings/frmSetDlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestPressCycle : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir;
    QString up, down, sound, notImage;
    QString alias;

    QString path(const QString& name) const { return dir.filePath(name); }
    QPoint areaCenter() const { return w->Label1->geometry().center(); }
    QStringList pressCommands(const QString& file, const QString& type) const {
        return {"close " + alias, "open \"" + file + "\" type " + type + " alias " + alias + " wait",
                "stop " + alias, "play " + alias + " from 0"};
    }
    void configure(const QString& unpressed, const QString& pressed, const QString& snd) {
        for (int i = 0; i < 3; ++i) s->Text1[size_t(i)]->setText(std::array{unpressed, pressed, snd}[size_t(i)]);
    }
    void keys(std::initializer_list<Qt::Key> keys) {
        for (Qt::Key k : keys) QTest::keyClick(w->windowHandle(), k);
    }
    QString imageError(const QString& p) const { return QStringLiteral("MsgBox 16 不正な画像 設定している画像ファイルが不正です。\r\n「") + p + "」"; }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        up = path("up.png"), down = path("down.bmp"), sound = path("chime.wav"), notImage = path("note.gif");
        QVERIFY(kit::solid(40, 30, Qt::red).save(up) && kit::solid(20, 10, Qt::blue).save(down));
        QVERIFY(kit::write(sound, "RIFF") && kit::write(notImage, "this is not a picture"));
        alias = EXEName() + "P1";
    }


    void startsWithDesignWindowAndHiddenStore() {
        // Nothing at start-up reaches the desktop: no sound, no dialog, no z-order.
        QCOMPARE(desk->calls, QStringList());
        QVERIFY((w->windowFlags() & Qt::FramelessWindowHint) && (w->windowFlags() & Qt::Tool));
        QCOMPARE(w->size(), QSize(165, 278));
        QCOMPARE(QList<double>({w->Width(), w->Height()}), QList<double>({2475, 4170}));
        QCOMPARE(QList<double>({w->Label1->Left(), w->Label1->Top(), w->Label1->Width(), w->Label1->Height()}),
                 QList<double>({480, 2700, 1575, 1020}));
        QVERIFY(w->Label1->Caption().isEmpty());
        QCOMPARE(w->Label1->BackStyle(), 0);
        QCOMPARE(w->Label1->cursor().hotSpot(), QPoint(12, 1));
        QVERIFY(!w->Label1->cursor().pixmap().isNull());
        QVERIFY(!w->windowIcon().isNull());
        QVERIFY(w->Picture().isNull());
        QVERIFY(!w->Pressed());

        QVERIFY(Forms::setDlgLoaded());
        QVERIFY(!s->isVisible());
        const int expected[] = {0, 0, 0, 0, 50, 50};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(s->HScroll1[size_t(i)]->value(), expected[i]);
            QCOMPARE(s->Label4[size_t(i)]->text(), QString::number(expected[i]));
        }
        QCOMPARE(s->swatchColor(), 0u);
        for (auto* t : s->Text1) QVERIFY(t->text().isEmpty());
        QCOMPARE(s->check1Value(), 0);
        QVERIFY(!w->MnuSetTopMost->isChecked());
    }

    void pressPlaysShowsPressedImageAndLatches() {
        configure(up, down, sound);
        desk->clear();
        w->Label1_Click();
        QCOMPARE(desk->mciCommands, pressCommands(sound, "waveaudio"));
        QVERIFY(w->Pressed());
        QCOMPARE(w->Picture().size(), QSize(20, 10));
        QCOMPARE(QColor(w->Picture().pixel(0, 0)), QColor(Qt::blue));

        // Latched: Space, Enter and clicks do nothing more.
        keys({Qt::Key_Space, Qt::Key_Return});
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, areaCenter());
        QCOMPARE(desk->mciCommands.size(), 4);
        QCOMPARE(w->Picture().size(), QSize(20, 10));

        // Backspace resets to the unpressed image without touching the sound.
        QTest::keyClick(w->windowHandle(), Qt::Key_Backspace);
        QVERIFY(!w->Pressed());
        QCOMPARE(w->Picture().size(), QSize(40, 30));
        QCOMPARE(desk->mciCommands.size(), 4);

        // Enter presses again exactly like a click: the sound restarts.
        QTest::keyClick(w->windowHandle(), Qt::Key_Enter);
        QVERIFY(w->Pressed());
        QCOMPARE(desk->mciCommands, pressCommands(sound, "waveaudio") + pressCommands(sound, "waveaudio"));
        QVERIFY(!desk->calls.join('\n').contains("MsgBox"));
    }

    void otherKeysAreIgnored() {
        configure(up, down, sound);
        desk->clear();
        keys({Qt::Key_A, Qt::Key_Escape, Qt::Key_Delete});
        QCOMPARE(desk->calls, QStringList());
        QVERIFY(!w->Pressed());
    }

    void unreadablePressedImageReportsAndStaysUnpressed() {
        configure(up, notImage, sound);
        w->PressReset();
        desk->clear();
        w->Label1_Click();
        // The sound was started before the picture failed; it keeps playing.
        QStringList expected = pressCommands(sound, "waveaudio").replaceInStrings(QRegularExpression("^"), "mci ");
        QCOMPARE(desk->calls, expected << imageError(notImage));
        QVERIFY(!w->Pressed());
        QCOMPARE(w->Picture().size(), QSize(40, 30));  // previous picture stays
        // Not latched, so the next press plays again.
        desk->clear();
        w->Label1_Click();
        QCOMPARE(desk->mciCommands, pressCommands(sound, "waveaudio"));
        QCOMPARE(desk->calls.last(), imageError(notImage));

        // A pressed image that does not exist at all is reported the same way.
        configure(up, path("gone.png"), QString());
        desk->clear();
        w->Label1_Click();
        QCOMPARE(desk->calls, QStringList({imageError(path("gone.png"))}));
    }

    void resetReloadsEvenWhenUnpressedImageIsBad() {
        configure(QString(), down, sound);
        w->Label1_Click();
        QVERIFY(w->Pressed());
        desk->clear();
        // Empty unpressed path: the picture is simply removed, no message.
        w->PressReset();
        QVERIFY(w->Picture().isNull());
        QCOMPARE(desk->calls, QStringList());

        configure(up, down, sound);
        w->PressReset();
        QCOMPARE(w->Picture().size(), QSize(40, 30));
        w->Label1_Click();
        configure(notImage, down, sound);
        desk->clear();
        w->frmZumblePressReset();
        QVERIFY(!w->Pressed());
        QCOMPARE(w->Picture().size(), QSize(20, 10));  // failed load keeps the picture
        QCOMPARE(desk->calls, QStringList({imageError(notImage)}));
    }

    void soundFailuresAreSilent() {
        configure(up, down, sound);
        desk->mci = [](const QString& c) { return c.startsWith("open") ? 296 : 0; };
        desk->clear();
        w->Label1_Click();
        QCOMPARE(desk->mciCommands, pressCommands(sound, "waveaudio").mid(0, 2));
        QVERIFY(w->Pressed());
        QVERIFY(!desk->calls.join('\n').contains("MsgBox"));

        // No sound configured, or a missing file: nothing is sent at all.
        w->PressReset();
        configure(up, down, path("missing.wav"));
        desk->clear();
        w->Label1_Click();
        QVERIFY(w->Pressed());
        QCOMPARE(desk->calls, QStringList());
    }

    void soundPathTheFileSystemCannotTakeIsReportedAsImageError() {
        configure(up, down, QString::fromUtf16(u"bad\0name.wav", 12));
        desk->clear();
        w->Label1_Click();
        QCOMPARE(desk->calls, QStringList({imageError(down)}));
        QVERIFY(!w->Pressed());
    }

    void mouseOnAreaPressesAndBodyDrags() {
        configure(up, down, sound);
        desk->clear();
        // Left press on the area: the press, never a drag.
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, areaCenter());
        QVERIFY(w->Pressed());
        QVERIFY(!desk->calls.contains("ReleaseCapture"));

        // Left and middle presses on the body start a move, exactly as a press on a caption.
        desk->clear();
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(w->windowHandle(), Qt::MiddleButton, {}, QPoint(150, 20));
        QCOMPARE(desk->calls, QStringList({"ReleaseCapture", "SendMessage frmBase 161 2 0", "ReleaseCapture",
                                           "SendMessage frmBase 161 2 0"}));
        QVERIFY(w->Pressed());  // a drag does not reset
    }

    void doubleClickResetsOnBodyOnly() {
        configure(up, down, sound);
        w->Label1_Click();
        QVERIFY(w->Pressed());
        // On the body: reset, even though its first click started a drag.
        QTest::mouseDClick(w->windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!w->Pressed());
        QCOMPARE(w->Picture().size(), QSize(40, 30));
        // On the area: the first click presses, the second does not reset.
        desk->clear();
        QTest::mouseDClick(w->windowHandle(), Qt::LeftButton, {}, areaCenter());
        QVERIFY(w->Pressed());
        QCOMPARE(desk->mciCommands, pressCommands(sound, "waveaudio"));
    }

    void rightPressOpensPopupAndLeavesPressAlone() {
        configure(up, down, sound);
        desk->clear();
        for (const QPoint& at : {areaCenter(), QPoint(5, 5)}) QTest::mouseClick(w->windowHandle(), Qt::RightButton, {}, at);
        QCOMPARE(desk->calls, QStringList({"PopupMenu MnuPopUp", "PopupMenu MnuPopUp"}));
        QVERIFY(!w->Pressed());
    }
};

QTEST_MAIN(TestPressCycle)
#include "test_press_cycle.moc"
