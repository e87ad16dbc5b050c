// Starting with a data file: what the arguments mean, and the file opened
// after start-up as the Open command would, or reported when it cannot be.
#include "FreshWindows.h"
#include "Kit.h"
#include "app/AppState.h"
#include "app/CommandLine.h"
#include "button/frmBase.h"
#include "datafile/DataFileCommands.h"
#include "datafile/SettingsRecord.h"
#include "settings/frmSetDlg.h"

#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestCommandLine : public WindowTest {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void argumentsChooseWhatHappens() {
        const auto parse = [](QStringList args) { return parseCommandLine(QStringList{"/usr/bin/Zumble1"} + args); };
        QCOMPARE(parse({}).action, CommandLine::Action::Run);
        QVERIFY(parse({}).dataFile.isEmpty());
        QCOMPARE(parse({"kit.zm1"}).dataFile, QStringLiteral("kit.zm1"));
        // Extra arguments and unknown options are ignored; the first file counts.
        QCOMPARE(parse({"--geometry", "a.zm1", "b.zm1"}).dataFile, QStringLiteral("a.zm1"));
        QCOMPARE(parse({"a.zm1", "--version"}).action, CommandLine::Action::Version);
        QCOMPARE(parse({"--help", "a.zm1"}).action, CommandLine::Action::Help);
        // After "--" everything is a file name; before it, -dash.zm1 is an unknown option.
        QCOMPARE(parse({"--", "-dash.zm1"}).dataFile, QStringLiteral("-dash.zm1"));
        QCOMPARE(parse({"-dash.zm1", "--", "--help"}).dataFile, QStringLiteral("--help"));
        QCOMPARE(parse({"-dash.zm1", "--", "--help"}).action, CommandLine::Action::Run);
        // A table, with phones from anywhere on the network or from this computer only.
        for (const auto& [args, phones, loopback] : {std::tuple{QStringList{"--table", "q.zmt"}, false, false},
                                                    {{"--table", "q.zmt", "--phones"}, true, false},
                                                    {{"--phones-loopback", "--table", "q.zmt"}, true, true}}) {
            const CommandLine line = parse(args);
            QVERIFY(line.tableFile == "q.zmt" && line.phones == phones && line.phonesLoopback == loopback);
        }
        QCOMPARE(versionLine("/opt/x/Zumble1"), QStringLiteral("Zumble1 1.5.0"));
        QVERIFY(helpLine("./Zumble1").startsWith(QStringLiteral("使い方: Zumble1 [")));
        QVERIFY(!helpLine("Zumble1").contains(u'\n'));
    }

    void goodFileOpensAsTheOpenCommandDoes() {
        const QString image = dir.filePath("up.png");
        QVERIFY(kit::solid(30, 20, Qt::green).save(image));
        const QString kitFile = dir.filePath("kit.zm1");
        QVERIFY(kit::writeRecord(kitFile, {.WindowWidth = 1500, .WindowHeight = 1200, .BackgroundColor = 0x00FF0000,
                                       .AreaWidth = 600, .AreaHeight = 450, .UnpressedImagePath = image, .PressedImagePath = {},
                                       .SoundPath = dir.filePath("gone.wav")}));

        w->Form_KeyDown(13, 0);  // pressed before the file is opened
        QVERIFY(w->Pressed());
        desk->clear();
        DataFileCommands::OpenStartupFile(kitFile);
        QCOMPARE(w->size(), QSize(100, 80));
        QCOMPARE(w->BackColor(), 0x00FF0000u);
        QCOMPARE(w->Picture().size(), QSize(30, 20));
        QCOMPARE(s->Text1[0]->text(), image);
        QCOMPARE(AppState::CurrentFileName, kitFile);
        QVERIFY(!w->Pressed());
        // Only the missing sound is reported, as Open reports it.
        QCOMPARE(desk->calls,
                 QStringList{"MsgBox 16 指定ファイル未発見 データファイルに記録しているサウンドファイル名:" +
                             dir.filePath("gone.wav") + " が\r\n見つかりませんでした。再度指定してください。"});
    }

    void unusableFileIsReportedAndNothingApplied_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        const QString shortFile = dir.filePath("short.zm1");
        QVERIFY(kit::write(shortFile, QByteArray(23, '\0')));
        const QString fifo = dir.filePath("pipe.zm1");
        QVERIFY(QFile::exists(fifo) || mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QTest::newRow("short") << shortFile << "データファイルとして短すぎます。";
        QTest::newRow("absent") << dir.filePath("absent.zm1") << "ファイルが見つかりません。";
        QTest::newRow("folder") << dir.path() << "フォルダはデータファイルではありません。";
        QTest::newRow("device") << "/dev/zero" << "装置や名前付きパイプはデータファイルではありません。";
        QTest::newRow("fifo") << fifo << "装置や名前付きパイプはデータファイルではありません。";
        // Write-only for everyone, root included.
        QTest::newRow("denied") << "/proc/sys/vm/drop_caches" << "アクセスが拒否されました。";
    }
    void unusableFileIsReportedAndNothingApplied() {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        desk->clear();
        DataFileCommands::OpenStartupFile(path);
        QCOMPARE(desk->calls, QStringList{"MsgBox 16 読み込みエラー データファイルを開けませんでした。\r\n" + path +
                                                "\r\n" + reason});
        // The design window and store are untouched, and no file was made.
        QCOMPARE(w->size(), QSize(165, 278));
        QCOMPARE(s->HScroll1[0]->value(), 0);
        QVERIFY(!QFile::exists(dir.filePath("absent.zm1")));
    }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
