// The version dialog: its design state on every opening, how it closes, and
// the homepage link with real homepage libraries (the shipped one, variants,
// none at all), the library loaded only by a click.
#include "FreshWindows.h"
#include "app/Startup.h"
#include "button/frmBase.h"
#include "version/HomepageLibrary.h"
#include "version/frmShowVersion.h"

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {
const QString Sentence = QStringLiteral("\r\n\r\n 上記内容をぬか堂HP関係者まで報告してください。");
QString errorBox(const QString& description) { return QStringLiteral("MsgBox 16 Kovhpurl.dllのエラー ") + description + Sentence; }
bool libraryMapped() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libKovhpurl.so");
}
}  // namespace

class TestVersionDialog : public WindowTest {
    Q_OBJECT

    // Opens the dialog from its menu item and runs `use` while it is shown;
    // returns the dialog's address, which must be gone afterwards.
    QPointer<frmShowVersion> open(const std::function<void(frmShowVersion&)>& use) {
        QPointer<frmShowVersion> shown;
        desk->modalScripts.push_back([&](QWidget* window) {
            shown = qobject_cast<frmShowVersion*>(window);
            if (shown) use(*shown);
        });
        w->MnuHelpVersion_Click();
        return shown;
    }
    // Clicks the link with the library looked for in `places`; returns the calls made.
    QStringList clickLink(const QStringList& places, int clicks = 1) {
        desk->clear();
        open([&](frmShowVersion& d) {
            d.libraryPlaces = places;
            for (int i = 0; i < clicks; ++i) QTest::mouseClick(d.Label5, Qt::LeftButton);
            QVERIFY(d.isVisible());
        });
        return desk->calls;
    }

private slots:
    void initTestCase() { setUpFonts(); }
    void init() { show = false; WindowTest::init(); }

    void designStateOnEveryOpening() {
        bool checked = false;
        QPointer<frmShowVersion> first = open([&](frmShowVersion& d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("ズンブルアプリのバージョン情報"));
            QCOMPARE(d.size(), QSize(332, 183));
            QVERIFY(d.parentWidget() == nullptr);
            QCOMPARE(d.palette().color(QPalette::Window), QColor(255, 255, 128));
            QCOMPARE(d.Label1->text(), QStringLiteral("ズンブルアプリ"));
            QCOMPARE(d.Label1->palette().color(QPalette::Window), QColor(0, 0, 192));
            QVERIFY(d.Label1->font().family() == QStringLiteral("ＭＳ Ｐゴシック") && d.Label1->font().pointSizeF() == 14.25 &&
                    d.Label1->font().bold());
            QCOMPARE(d.Label2->text(), QStringLiteral("Varsion\u30001.5.0"));
            QCOMPARE(d.Label2->palette().color(QPalette::Window), QColor(255, 128, 0));
            const QRegularExpression line(QStringLiteral("ぬか堂.*\\d{4}-\\d{4}$"));
            for (QLabel* l : d.Label3) QVERIFY2(line.match(l->text()).hasMatch(), qPrintable(l->text()));
            QVERIFY(d.Image1->pixmap().size() == QSize(43, 80) && d.Image1->geometry() == QRect(27, 24, 43, 80));
            QCOMPARE(d.Label5->text(), QStringLiteral("ここをクリックするとぬか堂HPが開きます。"));
            QCOMPARE(d.Label5->palette().color(QPalette::WindowText), QColor(0, 0, 255));
            QVERIFY(!d.Label5->autoFillBackground() && d.Label5->font().underline());
            QCOMPARE(d.Label5->cursor().hotSpot(), QPoint(12, 1));
            QCOMPARE(d.Command1->geometry(), QRect(231, 153, 88, 25));
            // Only OK takes the focus, and it has it.
            for (QWidget* child : d.findChildren<QWidget*>())
                QCOMPARE(child->focusPolicy() != Qt::NoFocus, child == d.Command1);
            QCOMPARE(d.focusWidget(), d.Command1);
            QVERIFY(d.Command1->isDefault());
            // Nothing is clipped: every text fits its label.
            for (QLabel* l : d.findChildren<QLabel*>()) {
                QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->width(), qPrintable(l->text()));
                QVERIFY2(l->fontMetrics().height() <= l->height() || l->text().isEmpty(), qPrintable(l->text()));
            }
            QVERIFY(!libraryMapped());  // nothing asks for the address before a click
            d.Label2->setText(QStringLiteral("changed"));
            d.Command1->click();
            QVERIFY(!d.isVisible());
            checked = true;
        });
        QVERIFY(checked);
        QVERIFY(first.isNull());  // destroyed once closed

        QPointer<frmShowVersion> second = open([&](frmShowVersion& d) {
            QCOMPARE(d.Label2->text(), QStringLiteral("Varsion\u30001.5.0"));
            d.close();  // the close box
            QVERIFY(!d.isVisible());
        });
        QVERIFY(second.isNull());
        QVERIFY(!libraryMapped());
        QCOMPARE(desk->calls, QStringList({"ShowModal frmShowVersion", "ShowModal frmShowVersion"}));
    }

    void enterAndSpaceCloseThroughOk() {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
            bool hidden = false;
            open([&](frmShowVersion& d) {
                QVERIFY(QTest::qWaitForWindowActive(&d));
                QTest::keyClick(d.windowHandle(), key);
                hidden = !d.isVisible();
            });
            QVERIFY2(hidden, qPrintable(QKeySequence(key).toString()));
        }
    }

    void homepageLibraryErrorsAndRetry() {
        QCOMPARE(HomepageLibrary::searchOrder(),
                 QStringList({QCoreApplication::applicationDirPath() + "/libKovhpurl.so", "Kovhpurl"}));
        QTemporaryDir dir;
        const QString beside = dir.filePath("libKovhpurl.so");
        const QString missing = errorBox(QStringLiteral("ライブラリ libKovhpurl.so を読み込めません。"));
        // Missing: the box at every click, the dialog still open.
        QCOMPARE(clickLink({beside, "KovhpurlNowhere"}, 2),
                 QStringList({"ShowModal frmShowVersion", missing, missing}));
        QVERIFY(!libraryMapped());
        // Without the entry point.
        QCOMPARE(clickLink({KOVHPURL_VARIANTS "/without_entry/libKovhpurl.so"}),
                 QStringList({"ShowModal frmShowVersion",
                              errorBox("ライブラリ libKovhpurl.so にエントリ ポイント GetHP_URL が見つかりません。")}));
        // An address code page 932 cannot hold: the library gives none.
        QCOMPARE(clickLink({KOVHPURL_VARIANTS "/unconvertible/libKovhpurl.so"}),
                 QStringList({"ShowModal frmShowVersion",
                              errorBox("ライブラリ libKovhpurl.so がアドレスを返しませんでした。")}));
        // Put in place later, the library is found by the next click.
        QVERIFY(QFile::copy(KOVHPURL_LIBRARY, beside));
        QCOMPARE(clickLink({beside}),
                 QStringList({"ShowModal frmShowVersion", "ShellOpen frmShowVersion " KOVHPURL_HOMEPAGE_URL}));
        QVERIFY(libraryMapped());
    }

    void addressesReachTheShellUnchanged() {
        QCOMPARE(clickLink({KOVHPURL_LIBRARY}),
                 QStringList({"ShowModal frmShowVersion", "ShellOpen frmShowVersion " KOVHPURL_HOMEPAGE_URL}));
        // Converted from code page 932 and back without a change.
        QCOMPARE(clickLink({KOVHPURL_VARIANTS "/japanese/libKovhpurl.so"}),
                 QStringList({"ShowModal frmShowVersion",
                              QStringLiteral("ShellOpen frmShowVersion https://ぬか堂.example.jp/ズンブル?x=1&y=2")}));
        // An empty address: handed on, nothing reported.
        QCOMPARE(clickLink({KOVHPURL_VARIANTS "/empty/libKovhpurl.so"}),
                 QStringList({"ShowModal frmShowVersion", "ShellOpen frmShowVersion "}));
        // Only a left click opens it.
        desk->clear();
        open([&](frmShowVersion& d) {
            d.libraryPlaces = QStringList{KOVHPURL_LIBRARY};
            QTest::mouseClick(d.Label5, Qt::RightButton);
            QTest::mousePress(d.Label5, Qt::LeftButton);
            QTest::mouseRelease(d.Label5, Qt::LeftButton, {}, QPoint(-3, -3));
        });
        QCOMPARE(desk->calls, QStringList({"ShowModal frmShowVersion"}));
    }
};

QTEST_MAIN(TestVersionDialog)
#include "test_version_dialog.moc"
