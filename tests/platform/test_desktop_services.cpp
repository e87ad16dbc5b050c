// The desktop services the windows rely on: picture loading, the existence
// test, the common dialog's cancel and memory, and file-dialog filters.
#include "Kit.h"
#include "ScriptedDesktop.h"
#include "platform/CommonDialog.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Picture.h"
#include "platform/QtDesktop.h"

#include <QComboBox>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestDesktopServices : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    QString write(const QString& name, const QByteArray& bytes) {
        const QString p = dir.filePath(name);
        if (!kit::write(p, bytes)) qFatal("cannot write %s", qPrintable(p));
        return p;
    }

private slots:
    void loadsQtFormatsByContentAtNaturalSize() {
        QImage image(7, 5, QImage::Format_RGB32);
        image.fill(QColor(0, 128, 255));
        // Qt writes no GIF: a 7 x 5 one of the same colour, byte by byte.
        write("pic_GIF.dat", QByteArray::fromHex("47494638396107000500f000000080ff00000021f90400000000002c"
                                                 "0000000007000500000205848fa9bb05003b"));
        for (const char* format : {"BMP", "JPG", "GIF", "PNG"}) {
            // A misleading extension: the reader goes by content.
            const QString p = dir.filePath(QStringLiteral("pic_%1.dat").arg(format));
            if (QByteArray(format) != "GIF") QVERIFY(image.save(p, format));
            const QImage loaded = LoadPicture(p);
            QCOMPARE(loaded.size(), QSize(7, 5));
            const QColor c = loaded.pixelColor(3, 2);
            QVERIFY2(qAbs(c.blue() - 255) < 8 && qAbs(c.green() - 128) < 8, format);
        }
        QVERIFY(LoadPicture(QString()).isNull());
    }

    void unreadablePicturesRaise() {
        auto number = [](const QString& p) {
            try {
                LoadPicture(p);
            } catch (const RuntimeError& e) {
                return e.number();
            }
            return 0;
        };
        QCOMPARE(number(dir.filePath("missing.bmp")), 53);
        QCOMPARE(number(dir.path()), 53);
        QCOMPARE(number(write("text.bmp", "hello, not a picture")), 481);
        QCOMPARE(number(write("empty.gif", "")), 481);
        // A BMP header claiming 100000 x 100000 pixels is refused, not allocated.
        // File header (bits at 54), info header of 40 bytes: 100000 x 100000, one plane, 24 bits.
        const QByteArray bmp = QByteArray::fromHex("424d000000000000000036000000" "28000000a0860100a086010001001800") + QByteArray(24, '\0');
        QCOMPARE(number(write("huge.bmp", bmp)), 481);
        // Nothing that is not an ordinary file is opened or read: a FIFO with
        // no writer would block, a device would never end.
        const QString fifo = dir.filePath("fifo.bmp");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(number(fifo), 481);
        QCOMPARE(number("/dev/zero"), 481);
        // A good picture at the head of a file over the size cap is not read.
        QImage image(64, 48, QImage::Format_RGB32);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) image.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) & 255));
        const QString big = dir.filePath("big.png");
        QVERIFY(image.save(big));
        QVERIFY(QFile::resize(big, MaxPictureFileBytes + 1));
        QCOMPARE(number(big), 481);
        // A JPEG cut off part-way: libjpeg would fill the rest with grey.
        QBuffer jpeg;
        jpeg.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&jpeg, "JPG"));
        QCOMPARE(number(write("cut.jpg", jpeg.data().left(jpeg.data().size() * 2 / 3))), 481);
        QCOMPARE(LoadPicture(write("whole.jpg", jpeg.data())).size(), QSize(64, 48));
    }

    void existenceTestSeesOrdinaryFilesOnly() {
        const QString p = write("a.wav", "x");
        QCOMPARE(Dir(p), QStringLiteral("a.wav"));
        QCOMPARE(Dir(dir.filePath("nothing.wav")), QString());
        QCOMPARE(Dir(write(".secret.wav", "x")), QString());
        QCOMPARE(Dir(dir.path()), QString());
        QCOMPARE(Dir(QString()), QString());
        QCOMPARE(Dir(dir.filePath("*.wav")), QStringLiteral("a.wav"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, Dir(QString::fromUtf16(u"x\0y", 3)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, Dir(QString(5000, QLatin1Char('a'))));
    }

    void commonDialogCancelKeepsValuesAndRaises() {
        ScriptedDesktop desk;
        CommonDialog d;
        d.Filter = "Data(*.zm1)|*.zm1";
        d.Flags = 4;
        desk.fileAnswers.push_back(QStringLiteral("/tmp/one.zm1"));
        d.ShowOpen();
        QCOMPARE(d.FileName, QStringLiteral("/tmp/one.zm1"));
        // The next dialog opens on the name left by the previous use.
        desk.fileAnswers.push_back(std::nullopt);
        d.Flags = 2;
        QVERIFY_THROWS_EXCEPTION(CancelError, d.ShowSave());
        QCOMPARE(d.FileName, QStringLiteral("/tmp/one.zm1"));
        QCOMPARE(desk.calls, QStringList({"ShowOpen 4 Data(*.zm1)|*.zm1 []",
                                          "ShowSave 2 Data(*.zm1)|*.zm1 [/tmp/one.zm1]"}));
        d.Color = 0x123456;
        desk.colorAnswers.push_back(std::nullopt);
        try {
            d.ShowColor();
            QFAIL("a cancelled colour dialog must raise");
        } catch (const CancelError& e) {
            QCOMPARE(e.number(), 32755);
        }
        QCOMPARE(d.Color, 0x123456u);
        desk.colorAnswers.push_back(0x00FF00u);
        d.ShowColor();
        QCOMPARE(d.Color, 0x00FF00u);
    }

    void filterPairsBecomeQtNameFilters() {
        QCOMPARE(qtNameFilters("サウンドファイル(*.wav)|*.wav|MP3ファイル(*.mp3)|*.mp3"),
                 QStringList({"サウンドファイル(*.wav) (*.wav)", "MP3ファイル(*.mp3) (*.mp3)"}));
        QCOMPARE(qtNameFilters("イメージ|*.bmp;*.jpg;*.gif"), QStringList({"イメージ (*.bmp *.jpg *.gif)"}));
        QCOMPARE(qtNameFilters("odd|"), QStringList({"odd ()"}));
        QCOMPARE(qtNameFilters("lonely"), QStringList());
        // The dialog lists each description once, as given.
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        setFileDialogFilter(dialog, "イメージファイル(*.bmp;*.jpg)|*.bmp;*.jpg|ズンブルアプリVer1データファイル(*.zm1)|*.zm1");
        const auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types);
        QStringList shown;
        for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
        QCOMPARE(shown, QStringList({"イメージファイル(*.bmp;*.jpg)", "ズンブルアプリVer1データファイル(*.zm1)"}));
    }
};

QTEST_MAIN(TestDesktopServices)
#include "test_desktop_services.moc"
