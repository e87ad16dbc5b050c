// Open and Save As through the scripted desktop: dialogs and messages in
// order with their exact texts, values applied one by one through the
// controls, the bytes on disk, and every write fault a user can meet, with
// targets that fail even for root.
#include "FreshWindows.h"
#include "Kit.h"
#include "app/AppState.h"
#include "button/RecognitionArea.h"
#include "button/frmBase.h"
#include "datafile/DataFile.h"
#include "datafile/DataFileCommands.h"
#include "datafile/SettingsRecord.h"
#include "settings/frmSetDlg.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const QString Filter = QStringLiteral("ズンブルアプリVer1データファイル(*.zm1)|*.zm1");
const QString EmptyRecordHex = QStringLiteral("000000000000000000000000320032000000000000000000");

QString missing(const QString& kind, const QString& path) {
    return "MsgBox 16 指定ファイル未発見 データファイルに記録している" + kind + "ファイル名:" + path +
           " が\r\n見つかりませんでした。再度指定してください。";
}

// Records the window's sizes as they change.
class SizeLog : public QObject {
public:
    QList<QSize> sizes;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Resize) sizes << static_cast<QResizeEvent*>(e)->size();
        return false;
    }
};
}  // namespace

class TestDataFileCommands : public WindowTest {
    Q_OBJECT
    QTemporaryDir dir;
    QString up, down, sound, notImage;

    QString path(const QString& name) const { return dir.filePath(name); }
    SettingsRecord full() const {
        return {.WindowWidth = 3000, .WindowHeight = 1500, .BackgroundColor = 0x00336699, .AreaLeft = 150,
                .AreaTop = 300, .AreaWidth = 900, .AreaHeight = 600, .UnpressedImagePath = up,
                .PressedImagePath = down, .SoundPath = sound, .AlwaysOnTop = 1};
    }
    void saveAs(const QString& target) {
        desk->fileAnswers.push_back(target);
        DataFileCommands::SaveAs();
    }
    void open(const QString& target) {
        desk->fileAnswers.push_back(target);
        DataFileCommands::Open();
    }
    // The files in the test folder: a save must leave no temporary file behind.
    QStringList entries() const { return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

    // A failed save: the stop message with the path and reason, nothing saved.
    void expectSaveError(const QString& target, const QString& reason) {
        QCOMPARE(desk->calls.size(), 2);
        QCOMPARE(desk->calls[1], "MsgBox 16 保存エラー データファイルを保存できませんでした。\r\n" + target + "\r\n" + reason);
        QVERIFY(!AppState::IsSaved);
        QCOMPARE(AppState::CurrentFileName, target);
    }

    // A new run of the program.
    void restart() {
        fresh.stop();
        AppState::IsSaved = false;
        AppState::CurrentFileName.clear();
        QVERIFY(WindowTest::restart());
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        up = path("up.png"), down = path("down.png"), sound = path("音.wav"), notImage = path("note.gif");
        QVERIFY(kit::solid(40, 30, Qt::red).save(up) && kit::solid(40, 30, Qt::red).save(down));
        QVERIFY(kit::write(sound, "RIFF"));
        QVERIFY(kit::write(notImage, "not a picture"));
    }

    void init() {
        WindowTest::init();
        AppState::IsSaved = false;
        AppState::CurrentFileName.clear();
        s->C_Dialog1.FileName.clear();
    }

    void cancelsChangeNothing() {
        DataFileCommands::Open();
        DataFileCommands::SaveAs();
        QCOMPARE(desk->calls, QStringList({"ShowOpen 4 " + Filter + " []", "ShowSave 2 " + Filter + " []"}));
        QVERIFY(AppState::CurrentFileName.isEmpty());
        QVERIFY(!AppState::IsSaved);
        QCOMPARE(s->HScroll1[4]->value(), 50);
        QCOMPARE(w->size(), QSize(165, 278));
        QVERIFY(!QFile::exists(path("start")));
    }

    void saveAfterStartUpStoresBlackAndRemembersTheName() {
        const QString target = path("start");  // no extension: used as typed
        saveAs(target);
        QCOMPARE(kit::read(target).toHex().toUpper(), EmptyRecordHex.toLatin1());
        QVERIFY(AppState::IsSaved);
        QCOMPARE(AppState::CurrentFileName, target);
        // The next dialog opens on the name last chosen, Open's too.
        desk->clear();
        DataFileCommands::Open();
        QCOMPARE(desk->calls, QStringList({"ShowOpen 4 " + Filter + " [" + target + "]"}));

        // Opening it right after start-up: equal geometry is not re-applied,
        // the window keeps its design size but turns black.
        restart();
        open(target);
        QCOMPARE(w->size(), QSize(165, 278));
        QCOMPARE(w->Label1->Left(), 480.0);
        QCOMPARE(w->BackColor(), 0u);
        QCOMPARE(desk->calls, QStringList({"ShowOpen 4 " + Filter + " []"}));
    }

    void roundTripRestoresAllElevenSettings() {
        // Settings as a user makes them, then saved over a longer old file.
        const QString target = path("kit.zm1");
        QVERIFY(kit::write(target, QByteArray(300, 'Z')));
        const QStringList before = entries();
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const SettingsRecord r = full();
        for (int i = 0; i < 6; ++i)
            s->setScrollValue(i, std::array{r.WindowWidth, r.WindowHeight, r.AreaLeft, r.AreaTop, r.AreaWidth,
                                            r.AreaHeight}[size_t(i)]);
        s->setSwatchColor(r.BackgroundColor);
        for (int i = 0; i < 3; ++i) s->Text1[size_t(i)]->setText(std::array{up, down, sound}[size_t(i)]);
        s->setCheck1Value(1);
        desk->clear();
        saveAs(target);
        QCOMPARE(desk->calls.size(), 1);
        const QByteArray bytes = kit::read(target);
        QCOMPARE(bytes.left(bytes.size() - (300 - kit::record(r).size())), kit::record(r));
        QCOMPARE(bytes.mid(kit::record(r).size()), QByteArray(300 - kit::record(r).size(), 'Z'));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(entries(), before);  // no temporary file left

        // A new run, pressed, then the file opened.
        restart();
        w->Label1_Click();
        QVERIFY(w->Pressed());
        SizeLog log;
        w->installEventFilter(&log);
        desk->clear();
        open(target);
        QCOMPARE(desk->calls, QStringList({"ShowOpen 4 " + Filter + " []", "SetWindowPos frmBase -1 0 0 0 0 3"}));
        // Value by value: the new width with the store's old height (0), then the height.
        QCOMPARE(log.sizes, QList<QSize>({{200, 278}, {200, 0}, {200, 100}}));
        QCOMPARE(w->Label1->geometry(), QRect(10, 20, 60, 40));
        QCOMPARE(w->BackColor(), r.BackgroundColor);
        QCOMPARE(s->swatchColor(), r.BackgroundColor);
        QCOMPARE(QStringList({s->Text1[0]->text(), s->Text1[1]->text(), s->Text1[2]->text()}), QStringList({up, down, sound}));
        QCOMPARE(s->check1Value(), 1);
        QVERIFY(w->MnuSetTopMost->isChecked());
        QCOMPARE(w->Picture().size(), QSize(40, 30));
        QVERIFY(!w->Pressed());
        QVERIFY(AppState::CurrentFileName == target && !AppState::IsSaved);
        // Saving again gives the same bytes: nothing was lost on the way.
        saveAs(path("again.zm1"));
        QCOMPARE(kit::read(path("again.zm1")), kit::record(r));
    }

    void missingFilesAreReportedInOrder() {
        SettingsRecord r = full();
        r.UnpressedImagePath = path("gone.png");
        r.PressedImagePath = dir.path();  // a folder counts as missing
        r.SoundPath = path("gone.wav");
        QVERIFY(kit::write(path("missing.zm1"), kit::record(r)));
        w->setPicture(QImage(5, 5, QImage::Format_RGB32));
        open(path("missing.zm1"));
        QCOMPARE(desk->calls.mid(1), QStringList({missing("画像", r.UnpressedImagePath),
                                                  missing("画像", r.PressedImagePath),
                                                  missing("サウンド", r.SoundPath),
                                                  "SetWindowPos frmBase -1 0 0 0 0 3"}));
        for (auto* t : s->Text1) QVERIFY(t->text().isEmpty());
        QVERIFY(w->Picture().isNull());
        QCOMPARE(w->width(), 200);  // applied before the messages
    }

    void nameChangedByTheCodePageIsFound() {
        // 〜 is stored as 81 60, which reads back as ～: Open finds the real file.
        const QString wave = path("波〜.png");
        QVERIFY(QFile::copy(up, wave));
        SettingsRecord r = full();
        r.UnpressedImagePath = wave;
        QVERIFY(kit::write(path("wave.zm1"), kit::record(r)));
        QVERIFY(!decodeRecord(kit::read(path("wave.zm1")))->UnpressedImagePath.contains(QChar(0x301C)));
        open(path("wave.zm1"));
        QCOMPARE(s->Text1[0]->text(), wave);
        QCOMPARE(w->Picture().size(), QSize(40, 30));
        QVERIFY(!desk->calls.join('\n').contains("MsgBox"));
        QVERIFY(QFile::remove(wave));
    }

    void unreadableUnpressedImageStopsAtTheImage() {
        w->Label1_Click();
        s->Text1[1]->setText("before1");
        s->Text1[2]->setText("before2");
        SettingsRecord r = full();
        r.UnpressedImagePath = notImage;
        QVERIFY(kit::write(path("bad.zm1"), kit::record(r)));
        desk->clear();
        open(path("bad.zm1"));
        QCOMPARE(desk->calls.size(), 1);
        QCOMPARE(QStringList({s->Text1[0]->text(), s->Text1[1]->text(), s->Text1[2]->text()}),
                 QStringList({notImage, "before1", "before2"}));
        QCOMPARE(s->check1Value(), 0);
        QVERIFY(w->Pressed());
        QCOMPARE(s->HScroll1[5]->value(), 600);
    }

    void valueOutOfRangeStopsWithEarlierValuesApplied() {
        SettingsRecord r = full();
        r.WindowWidth = 0;
        r.AreaWidth = 49;  // below the scroll bar's 50
        QVERIFY(kit::write(path("range.zm1"), kit::record(r)));
        open(path("range.zm1"));
        QCOMPARE(s->HScroll1[0]->value(), 0);
        // No width is no window: it stays where a right-click reaches it.
        QCOMPARE(w->size(), QSize(frmBase::ReachableSide, 100));
        QCOMPARE(s->HScroll1[3]->value(), 300);
        QCOMPARE(w->BackColor(), r.BackgroundColor);
        QCOMPARE(s->HScroll1[4]->value(), 50);
        QCOMPARE(s->HScroll1[5]->value(), 50);
        QVERIFY(s->Text1[0]->text().isEmpty());

        r = full();
        r.AlwaysOnTop = 3;
        QVERIFY(kit::write(path("check.zm1"), kit::record(r)));
        open(path("check.zm1"));
        QCOMPARE(s->Text1[2]->text(), sound);
        QCOMPARE(s->check1Value(), 0);
    }

    void openNeverCreatesAFileAndAppliesNothingFromAShortOne() {
        open(path("typed-name.zm1"));
        QVERIFY(!QFile::exists(path("typed-name.zm1")));
        QCOMPARE(AppState::CurrentFileName, path("typed-name.zm1"));
        QVERIFY(kit::write(path("short.zm1"), kit::record(full()).left(23)));
        open(path("short.zm1"));
        open(dir.path());
        QCOMPARE(s->HScroll1[0]->value(), 0);
        QCOMPARE(w->size(), QSize(165, 278));
        QCOMPARE(desk->calls.size(), 3);
    }

    void unstorablePathIsRefused() {
        s->Text1[2]->setText("/tmp/café.wav");
        saveAs(path("cafe.zm1"));
        QCOMPARE(desk->calls[1], QStringLiteral("MsgBox 16 保存エラー 次のファイル名はデータファイルに記録できないため、"
                                                "保存しませんでした。\r\n/tmp/café.wav\r\nデータファイルに記録できない"
                                                "文字が含まれています。ファイル名を変えてから指定し直してください。"));
        QVERIFY(!QFile::exists(path("cafe.zm1")));
        QVERIFY(!AppState::IsSaved);
    }

    void writeFaultsAreReportedAndLeaveNoFile() {
        const QStringList files = entries();
        saveAs("/proc/zumble-kit.zm1");
        expectSaveError("/proc/zumble-kit.zm1", "この場所にはファイルを作れません。");
        QVERIFY(!QFile::exists("/proc/zumble-kit.zm1"));

        // A kernel setting refuses writes even to root: no permission (or a
        // read-only medium where /proc/sys is mounted so).
        const QString setting = QStringLiteral("/proc/sys/kernel/ostype");
        const QByteArray before = kit::read(setting);
        desk->clear();
        saveAs(setting);
        QCOMPARE(desk->calls.size(), 2);
        QVERIFY2(desk->calls[1].endsWith(setting + "\r\nアクセスが拒否されました。") ||
                     desk->calls[1].endsWith(setting + "\r\n書き込み禁止のメディアです。"),
                 qPrintable(desk->calls[1]));
        QCOMPARE(kit::read(setting), before);
        QVERIFY(!AppState::IsSaved);

        // Where no temporary file can be made beside an existing file, it is
        // written in place: the thread's name takes the record's first bytes.
        const QByteArray name = kit::read("/proc/thread-self/comm");
        s->setScrollValue(0, 'A');
        desk->clear();
        saveAs("/proc/thread-self/comm");
        const QByteArray renamed = kit::read("/proc/thread-self/comm");
        kit::write("/proc/thread-self/comm", name.trimmed());
        QCOMPARE(desk->calls.size(), 1);
        QCOMPARE(renamed, QByteArray("A\n"));
        QVERIFY(AppState::IsSaved);
        AppState::IsSaved = false;

        desk->clear();
        saveAs(dir.path());
        expectSaveError(dir.path(), "同じ名前のフォルダがあります。");

        desk->clear();
        saveAs(path("no-such-folder/kit.zm1"));
        expectSaveError(path("no-such-folder/kit.zm1"), "保存先のフォルダが見つかりません。");
        QCOMPARE(entries(), files);
    }

    void fullDiskLeavesTheOldFileUntouched() {
        const QString target = path("full.zm1");
        const QByteArray old(100, 'O');
        QVERIFY(kit::write(target, old));
        const QStringList before = entries();
        s->Text1[0]->setText(up);  // a record of more than 10 bytes
        // A file size limit makes writes fail as a full disk does, for root too.
        struct rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = saved;
        tiny.rlim_cur = 10;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        saveAs(target);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        expectSaveError(target, "ディスクの空き容量が足りません。");
        QCOMPARE(kit::read(target), old);
        QCOMPARE(entries(), before);
        QVERIFY(QFile::remove(target));
    }

    // Saving over a file keeps that file: its other names, its owner, a
    // symbolic link to it; and another user's file in a sticky shared folder,
    // which may be written but not replaced there, is written.
    void savingKeepsTheFile_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("hard link") << 0;
        QTest::newRow("other owner") << 1;
        QTest::newRow("symbolic link") << 2;
        QTest::newRow("other user in a sticky folder") << 3;
    }
    void savingKeepsTheFile() {
        QFETCH(int, kind);
        if ((kind == 1 || kind == 3) && ::geteuid() != 0) QSKIP("another user's file needs root to be made");
        QTemporaryDir shared;
        const QByteArray folder = QFile::encodeName(shared.path());
        QCOMPARE(::chmod(folder.constData(), 01777), 0);
        const QString file = shared.filePath("kit.zm1"), other = shared.filePath("other.zm1");
        const QByteArray nativeFile = QFile::encodeName(file), nativeOther = QFile::encodeName(other);
        QVERIFY(kit::write(file, QByteArray(100, 'O')));
        QCOMPARE(::chmod(nativeFile.constData(), 0666), 0);
        if (kind == 0) QCOMPARE(::link(nativeFile.constData(), nativeOther.constData()), 0);
        if (kind == 1) QCOMPARE(::chown(nativeFile.constData(), 65534, 65534), 0);
        if (kind == 2) QCOMPARE(::symlink(nativeFile.constData(), nativeOther.constData()), 0);
        struct stat before {}, after {};
        QCOMPARE(::stat(nativeFile.constData(), &before), 0);
        SettingsRecord r;
        r.AreaWidth = r.AreaHeight = 50;
        r.UnpressedImagePath = up;
        s->Text1[0]->setText(up);
        if (kind == 3) {
            // Saved by another user (nobody), who may write the file but not
            // rename over it in this folder.
            const pid_t child = ::fork();
            if (child == 0) {
                if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
                try {
                    writeDataFile(file, kit::record(r));
                } catch (const DataFileError& e) {
                    ::_exit(e.errorCode());
                }
                ::_exit(0);
            }
            int status = -1;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QCOMPARE(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
        } else {
            saveAs(kind == 2 ? other : file);
            QCOMPARE(desk->calls.size(), 1);
        }
        const QByteArray expected = kit::record(r) + QByteArray(100 - kit::record(r).size(), 'O');
        QCOMPARE(kit::read(file), expected);
        QCOMPARE(::stat(nativeFile.constData(), &after), 0);
        QCOMPARE(after.st_uid, before.st_uid);
        if (kind != 2) QCOMPARE(after.st_ino, before.st_ino);  // a link's target may be replaced
        if (kind == 0) QCOMPARE(kit::read(other), expected);
        if (kind == 2) QVERIFY(QFileInfo(other).isSymLink());
        QCOMPARE(QDir(shared.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(),
                 kind == 0 || kind == 2 ? 2 : 1);
    }

    void fifoIsWrittenInPlaceNeverReplaced() {
        const QString fifo = path("pipe.zm1");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // Without a reader the write fails at once instead of hanging.
        saveAs(fifo);
        expectSaveError(fifo, "書き込み先の装置が応答しません。");
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        desk->clear();
        saveAs(fifo);
        QCOMPARE(desk->calls.size(), 1);
        QVERIFY(AppState::IsSaved);
        char got[64] = {};
        QCOMPARE(::read(reader, got, sizeof got), qsizetype(24));
        QCOMPARE(QByteArray(got, 24).toHex().toUpper(), EmptyRecordHex.toLatin1());
        ::close(reader);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(fifo).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
        QVERIFY(QFile::remove(fifo));
    }
};

QTEST_MAIN(TestDataFileCommands)
#include "test_datafile_commands.moc"
