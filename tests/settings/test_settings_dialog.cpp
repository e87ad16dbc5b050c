// The settings dialog in use: its look and focus order, the scroll bars driven
// by real keys and clicks, and the browse and colour handlers, through the
// scripted desktop and through Qt's real file and colour dialogs.
#include "FreshWindows.h"
#include "Kit.h"
#include "WhenReady.h"
#include "app/Startup.h"
#include "button/RecognitionArea.h"
#include "button/frmBase.h"
#include "platform/QtDesktop.h"
#include "platform/Twips.h"
#include "settings/frmSetDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString ImageFilter =
    QStringLiteral("イメージファイル(*.bmp;*.jpg;*.gif;*.wmf;*.emf)|*.bmp;*.jpg;*.gif;*.wmf;*.emf");
const QString SoundFilter =
    QStringLiteral("サウンドファイル(*.wav)|*.wav|MP3ファイル(*.mp3)|*.mp3|MIDIシーケンス(*.mid)|*.mid");
}  // namespace

class TestSettingsDialog : public WindowTest {
    Q_OBJECT
    QTemporaryDir dir;
    QString up, down, notImage;
    QImage upImage, downImage;

    void key(Qt::Key k) { QTest::keyClick(s->windowHandle(), k); }

private slots:
    void initTestCase() {
        setUpFonts();
        up = dir.filePath("up.png"), down = dir.filePath("down.bmp"), notImage = dir.filePath("notes.gif");
        upImage = kit::solid(20, 10, Qt::blue), downImage = kit::solid(30, 30, Qt::green);
        QVERIFY(upImage.save(up) && downImage.save(down) && kit::write(notImage, "not a picture"));
    }

    void looksAsTabled() {
        QCOMPARE(s->size(), QSize(496, 249));
        QCOMPARE(s->windowTitle(), QStringLiteral("各種設定"));
        QCOMPARE(s->Frame4->title(), QStringLiteral("認識エリア設定"));
        QCOMPARE(s->HScroll1[5]->geometry(), QRect(118, 87, 84, 16));
        QCOMPARE(s->Command2[0]->geometry(), QRect(393, 221, 87, 23));
        for (int i = 0; i < 6; ++i) {
            const QLabel* readout = s->Label4[size_t(i)];
            QCOMPARE(readout->palette().color(QPalette::Window), QColor(Qt::black));
            QCOMPARE(readout->palette().color(QPalette::WindowText), i < 2 ? QColor(255, 255, 0) : QColor(128, 255, 255));
            QCOMPARE(readout->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
            QCOMPARE(readout->frameShadow(), QFrame::Sunken);
        }
        QVERIFY(s->Label3->frameShape() == QFrame::HLine && s->Label3->frameShadow() == QFrame::Sunken);
        QVERIFY(s->Command2[0]->isDefault());
        // Every caption fits its label.
        for (QLabel* label : s->findChildren<QLabel*>())
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(), qPrintable(label->text()));
    }

    void keyboardFocusAndKeysOnTheScrollBars() {
        s->show();
        QVERIFY(QTest::qWaitForWindowActive(s));
        QWidget* expected[] = {s->HScroll1[0], s->HScroll1[1], s->HScroll1[2], s->HScroll1[3], s->HScroll1[4],
                               s->HScroll1[5], s->Text1[0],    s->Command1[0], s->Text1[1],    s->Command1[1],
                               s->Text1[2],    s->Command1[2], s->Check1,      s->Command2[0], s->HScroll1[0]};
        QCOMPARE(QApplication::focusWidget(), s->HScroll1[0]);  // the first in the order on opening
        // It shows the focus, before any key was pressed.
        const QImage focused = s->HScroll1[0]->grab().toImage();
        s->HScroll1[1]->setFocus();
        QVERIFY(s->HScroll1[0]->grab().toImage() != focused);
        s->HScroll1[0]->setFocus();
        for (size_t i = 1; i < std::size(expected); ++i) {
            key(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected[i]);
        }

        s->setScrollValue(0, 100);
        QStringList seen;
        for (Qt::Key k : {Qt::Key_Right, Qt::Key_Up, Qt::Key_Left, Qt::Key_Down, Qt::Key_Down, Qt::Key_PageUp,
                          Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_End}) {
            key(k);
            seen << s->Label4[0]->text();
        }
        QCOMPARE(seen, QStringList({"101", "102", "101", "100", "99", "109", "99", "89", "10000"}));
        QCOMPARE(w->width(), 667);
        key(Qt::Key_Home);
        QCOMPARE(s->HScroll1[0]->value(), 0);

        // A click in the track moves by the large step towards the click.
        QScrollBar* bar = s->HScroll1[2];
        s->setScrollValue(2, 5000);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 20, bar->height() / 2));
        QCOMPARE(bar->value(), 5010);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(20, bar->height() / 2));
        QCOMPARE(bar->value(), 5000);
        QCOMPARE(s->Label4[2]->text(), QStringLiteral("5000"));

        // Enter is OK: the dialog hides, the values stay.
        key(Qt::Key_Return);
        QVERIFY(!s->isVisible());
        QCOMPARE(s->HScroll1[2]->value(), 5000);
    }

    void browseHandlers() {
        // Cancel: nothing changes.
        w->setPicture(downImage);
        s->Command1[0]->click();
        QCOMPARE(desk->calls, QStringList({"ShowOpen 4 " + ImageFilter + " []"}));
        QCOMPARE(s->Text1[0]->text(), QString());
        QCOMPARE(w->Picture(), downImage);

        // A chosen pressed image reloads the unpressed one; a latched button stays latched.
        s->Text1[0]->setText(up);
        w->Label1_Click();
        QVERIFY(w->Pressed());
        desk->fileAnswers.push_back(down);
        s->Command1[1]->click();
        QCOMPARE(s->Text1[1]->text(), down);
        QCOMPARE(w->Picture().convertToFormat(QImage::Format_RGB32), upImage);
        QVERIFY(w->Pressed());

        // A chosen sound with no unpressed image removes the picture; the
        // dialog offers the name its last use left.
        s->Text1[0]->clear();
        desk->clear();
        desk->fileAnswers.push_back(dir.filePath("chime.wav"));
        s->Command1[2]->click();
        QCOMPARE(desk->calls, QStringList({"ShowOpen 4 " + SoundFilter + " [" + down + "]"}));
        QCOMPARE(s->Text1[2]->text(), dir.filePath("chime.wav"));
        QVERIFY(w->Picture().isNull());

        // An unreadable unpressed image: its path is kept, the picture too, no message.
        w->setPicture(downImage);
        desk->clear();
        desk->fileAnswers.push_back(notImage);
        s->Command1[0]->click();
        QCOMPARE(s->Text1[0]->text(), notImage);
        QCOMPARE(w->Picture(), downImage);
        QCOMPARE(desk->calls.size(), 1);
    }

    void colourHandler() {
        w->resize(100, 100);  // RefreshWnd would put back the store's 0 x 0
        const uint32_t before = w->BackColor();
        QTest::mouseClick(s->Label4[6], Qt::LeftButton);  // cancelled
        QCOMPARE(desk->calls, QStringList({"ShowColor 2 00000000"}));
        QCOMPARE(s->swatchColor(), 0u);
        QCOMPARE(w->BackColor(), before);

        desk->clear();
        desk->colorAnswers.push_back(0x00336699);
        QTest::mouseClick(s->Label4[2], Qt::LeftButton);  // a read-out: nothing
        QTest::mousePress(s->Label4[6], Qt::LeftButton);
        QTest::mouseRelease(s->Label4[6], Qt::LeftButton, {}, QPoint(-5, -5));  // released elsewhere: nothing
        QVERIFY(desk->calls.isEmpty());
        QTest::mouseClick(s->Label4[6], Qt::LeftButton);
        QCOMPARE(desk->calls, QStringList({"ShowColor 2 00000000"}));
        QCOMPARE(s->swatchColor(), 0x00336699u);
        QCOMPARE(w->BackColor(), 0x00336699u);
        QCOMPARE(w->grab().toImage().pixelColor(50, 50), QColor(0x99, 0x66, 0x33));
        QCOMPARE(w->size(), QSize(100, 100));
    }

    void realFileAndColourDialogs() {
        QtDesktop real;
        setDesktop(&real);
        QStringList filters;
        whenReady([&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return false;
            filters = dialog->nameFilters();
            // Typed into the name field, as a user would: selectFile() can be
            // undone by the dialog's own listing of its folder, which runs on a
            // thread of its own, and accept would then open the folder.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!name) return false;
            dialog->setDirectory(QFileInfo(up).absolutePath());
            name->setText(QFileInfo(up).fileName());
            if (dialog->selectedFiles() != QStringList{up}) return false;
            QMetaObject::invokeMethod(dialog, "accept");
            return true;
        });
        s->Command1[0]->click();
        QCOMPARE(filters, QStringList({"イメージファイル(*.bmp;*.jpg;*.gif;*.wmf;*.emf) (*.bmp *.jpg *.gif *.wmf *.emf)"}));
        QCOMPARE(s->Text1[0]->text(), up);
        QCOMPARE(w->Picture().convertToFormat(QImage::Format_RGB32), upImage);

        whenReady([&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return false;
            filters = dialog->nameFilters();
            dialog->reject();
            return true;
        });
        s->Command1[2]->click();
        QCOMPARE(filters, QStringList({"サウンドファイル(*.wav) (*.wav)", "MP3ファイル(*.mp3) (*.mp3)",
                                       "MIDIシーケンス(*.mid) (*.mid)"}));
        QCOMPARE(s->Text1[2]->text(), QString());

        bool customVisible = false;
        whenReady([&] {
            auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
            if (!dialog) return false;
            for (QLabel* label : dialog->findChildren<QLabel*>())
                if (label->text().contains(QStringLiteral("Custom colors")) && label->isVisible()) customVisible = true;
            dialog->setCurrentColor(QColor(10, 20, 30));
            dialog->accept();
            return true;
        });
        QTest::mouseClick(s->Label4[6], Qt::LeftButton);
        setDesktop(desk);
        QVERIFY(customVisible);
        QCOMPARE(s->swatchColor(), 0x001E140Au);
        QCOMPARE(w->BackColor(), 0x001E140Au);
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settings_dialog.moc"
