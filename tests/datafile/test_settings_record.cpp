// The stored record: exact bytes, every value round-tripping, and input that
// is too short or points past its end refused without reading beyond it.
#include "datafile/SettingsRecord.h"

#include <QtTest>

#include <cstring>
#include <memory>

namespace {
QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

// The design geometry, yellow, one image, a Japanese sound name, on top.
const SettingsRecord Design = {.WindowWidth = 2475, .WindowHeight = 4170, .BackgroundColor = 0x0000FFFF, .AreaLeft = 480,
                               .AreaTop = 2700, .AreaWidth = 1575, .AreaHeight = 1020,
                               .UnpressedImagePath = QStringLiteral("C:\\b1.bmp"), .PressedImagePath = {},
                               .SoundPath = QStringLiteral("C:\\音.wav"), .AlwaysOnTop = 1};

const QByteArray DesignBytes = hex("AB09 4A10 FFFF0000 E001 8C0A 2706 FC03 0900 433A5C62312E626D70 0000 0900 "
                                   "433A5C89B92E776176 0100");
}  // namespace

class TestSettingsRecord : public QObject {
    Q_OBJECT
private slots:
    void designRecordIsExactly42Bytes() {
        QCOMPARE(DesignBytes.size(), 42);
        QCOMPARE(encodeRecord(Design).value(), DesignBytes);
        size_t used = 0;
        QCOMPARE(decodeRecord(DesignBytes, &used).value(), Design);
        QCOMPARE(used, size_t(42));
    }

    void extremeValuesRoundTrip() {
        const SettingsRecord r = {.WindowWidth = -1, .WindowHeight = -32768, .BackgroundColor = 0xFF123456,
                                  .AreaLeft = 32767, .AreaTop = -5, .AreaWidth = 0, .AreaHeight = 10001,
                                  .UnpressedImagePath = QStringLiteral("/tmp/ボタン 〜 ①.png"),
                                  .PressedImagePath = QString(MaxStoredPathBytes, QLatin1Char('x')),
                                  .SoundPath = QStringLiteral("音"), .AlwaysOnTop = -1};
        const QByteArray bytes = encodeRecord(r).value();
        QCOMPARE(bytes.left(8), hex("FFFF0080563412FF"));
        QCOMPARE(bytes.size(), 24 + 21 + MaxStoredPathBytes + 2);
        QCOMPARE(bytes.mid(16, 2), hex("1500"));
        SettingsRecord back = decodeRecord(bytes).value();
        // 〜 is stored as 81 60 and reads back as ～: the bytes are what the format holds.
        QCOMPARE(back.UnpressedImagePath, QStringLiteral("/tmp/ボタン ～ ①.png"));
        back.UnpressedImagePath = r.UnpressedImagePath;
        QCOMPARE(back, r);
    }

    void countIsInBytes() {
        PathProblem problem = PathProblem::TooLong;
        QCOMPARE(encodePath(QStringLiteral("C:\\音.wav"), &problem).value().size(), 9);
        QCOMPARE(problem, PathProblem::None);
        QCOMPARE(encodePath(QStringLiteral("〜")).value(), hex("8160"));
    }

    void unstorablePathsAreRefused() {
        PathProblem problem = PathProblem::None;
        QVERIFY(!encodePath(QStringLiteral("/tmp/café.wav"), &problem));
        QCOMPARE(problem, PathProblem::Unrepresentable);
        QVERIFY(!encodePath(QString(MaxStoredPathBytes / 2 + 1, QChar(0x97F3)), &problem));  // 音, 2 bytes each
        QCOMPARE(problem, PathProblem::TooLong);
        QVERIFY(!encodeRecord({.UnpressedImagePath = {}, .PressedImagePath = {}, .SoundPath = QStringLiteral("über.wav")}));
    }

    void shortInputIsRefused() {
        // Every cut inside the record, read from a heap copy of exactly that
        // length so a read beyond it shows under the address sanitizer.
        for (qsizetype n = 0; n < DesignBytes.size(); ++n) {
            std::unique_ptr<char[]> copy(new char[size_t(n) + 1]);
            std::memcpy(copy.get(), DesignBytes.constData(), size_t(n));
            QVERIFY2(!decodeRecord(copy.get(), size_t(n)), qPrintable(QString::number(n)));
        }
        // A count pointing past the end.
        QVERIFY(!decodeRecord(hex("0000 0000 00000000 0000 0000 3200 3200 FFFF 0000 0000 0000")));
        QVERIFY(!decodeRecord(nullptr, 100));
    }
};

QTEST_GUILESS_MAIN(TestSettingsRecord)
#include "test_settings_record.moc"
