// What the button window draws (its picture at the top-left at its own size,
// never stretched, its background colour around it) and the real popup
// menu, which takes an item with the left button only.
#include "FreshWindows.h"
#include "Kit.h"
#include "WhenReady.h"
#include "button/frmBase.h"
#include "platform/QtDesktop.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QtTest>

class TestPictureAndPopup : public WindowTest {
    Q_OBJECT

private slots:

    void pictureDrawnAtTheTopLeftAtItsOwnSize() {
        // Four quadrants, so a stretched or moved picture shows.
        QImage picture = kit::solid(40, 30, Qt::red);
        for (int y = 15; y < 30; ++y)
            for (int x = 20; x < 40; ++x) picture.setPixelColor(x, y, Qt::blue);
        w->setBackColor(0x00008000);  // green
        w->setPicture(picture);
        const QImage drawn = w->grab().toImage();
        QCOMPARE(drawn.size(), QSize(165, 278));  // the window keeps its size
        QCOMPARE(drawn.copy(0, 0, 40, 30).convertToFormat(QImage::Format_RGB32), picture);
        const QColor green(0, 128, 0);
        for (QPoint p : {QPoint(40, 0), QPoint(0, 30), QPoint(40, 30), QPoint(164, 277), QPoint(100, 15)})
            QCOMPARE(drawn.pixelColor(p), green);

        // A picture larger than the window is cut at its edge, not shrunk.
        QImage big = kit::solid(400, 400, Qt::yellow);
        big.setPixelColor(164, 277, Qt::black);
        w->setPicture(big);
        const QImage cut = w->grab().toImage();
        QCOMPARE(cut.pixelColor(164, 277), QColor(Qt::black));
        QCOMPARE(cut.pixelColor(163, 276), QColor(Qt::yellow));

        w->setPicture(QImage());
        QCOMPARE(w->grab().toImage().pixelColor(0, 0), green);
    }

    void popupTakesItemsWithTheLeftButtonOnly() {
        QMenu menu;
        QAction* first = menu.addAction(QStringLiteral("first"));
        QAction* second = menu.addAction(QStringLiteral("second"));
        QStringList chosen;
        connect(first, &QAction::triggered, this, [&] { chosen << "first"; });
        connect(second, &QAction::triggered, this, [&] { chosen << "second"; });
        QtDesktop real;
        setDesktop(&real);
        bool rightIgnored = false;
        whenReady([&] {
            if (QApplication::activePopupWidget() != &menu) return false;
            const QPoint a = menu.actionGeometry(first).center(), b = menu.actionGeometry(second).center();
            for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
                QTest::mouseMove(&menu, a);
                QTest::mousePress(&menu, button, {}, a);
                QTest::mouseRelease(&menu, button, {}, a);
            }
            rightIgnored = chosen.isEmpty() && menu.isVisible();
            QTest::mouseMove(&menu, b);
            QTest::mouseClick(&menu, Qt::LeftButton, {}, b);
            return true;
        });
        real.popupMenu(w, &menu);
        QVERIFY(rightIgnored);
        QCOMPARE(chosen, QStringList({"second"}));

        // A right press outside the menu still closes it, choosing nothing.
        bool closed = false;
        whenReady([&] {
            if (QApplication::activePopupWidget() != &menu) return false;
            QTest::mousePress(&menu, Qt::RightButton, {}, QPoint(-20, -20));
            closed = !menu.isVisible();
            if (!closed) menu.close();  // a failure, not a hang
            return true;
        });
        real.popupMenu(w, &menu);
        setDesktop(desk);
        QVERIFY(closed);
        QCOMPARE(chosen, QStringList({"second"}));
    }
};

QTEST_MAIN(TestPictureAndPopup)
#include "test_picture_and_popup.moc"
