// libFuzzer target for data files.
//
// Every input is read as a record from memory: the reader must never read
// past the end, and a record it returns must encode and read back unchanged
// whenever its paths can be stored. The input is then opened as a data file
// by the Open command's own entry, on real (offscreen) windows through the
// scripted desktop, so values out of range, missing files, unreadable
// pictures and odd names all go through the apply step. File access stays in
// a temporary folder: records naming paths outside it are read but not
// applied.
#include "ScriptedDesktop.h"
#include "app/Forms.h"
#include "button/frmBase.h"
#include "datafile/DataFileCommands.h"
#include "datafile/SettingsRecord.h"
#include "settings/frmSetDlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

bool staysInside(const QString& path) {
    return !path.contains(QLatin1Char('/')) && !path.contains(QLatin1Char('\\')) && path != QLatin1String("..");
}

struct Fixture {
    std::unique_ptr<QApplication> app;
    // In memory where there is a tmpfs: a disk file system flushes the
    // rewritten input on every close.
    QTemporaryDir dir{QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/fuzz_datafile-XXXXXX")
                                                                 : QDir::tempPath() + QStringLiteral("/fuzz_datafile-XXXXXX")};
    ScriptedDesktop desk;
    QString input;

    Fixture() {
        static int argc = 1;
        static char name[] = "fuzz_datafile";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        QDir::setCurrent(dir.path());
        QImage picture(8, 6, QImage::Format_RGB32);
        picture.fill(Qt::green);
        picture.save(QStringLiteral("a.png"));
        QFile sound(QStringLiteral("b.wav"));
        if (sound.open(QIODevice::WriteOnly)) sound.write("RIFF");
        QFile notPicture(QStringLiteral("c.gif"));
        if (notPicture.open(QIODevice::WriteOnly)) notPicture.write("GIF89a");
        input = dir.filePath(QStringLiteral("in.zm1"));
        Forms::Base();
    }

    // The same starting state for every input.
    void reset() {
        frmSetDlg& s = Forms::SetDlg();
        const int values[] = {2475, 4170, 480, 2700, 1575, 1020};
        for (int i = 0; i < 6; ++i) s.setScrollValue(i, values[i]);
        s.setSwatchColor(0);
        for (QLineEdit* t : s.Text1) t->clear();
        s.setCheck1Value(0);
        Forms::Base().setPicture(QImage());
        desk.clear();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture f;
    size_t used = 0;
    const std::optional<SettingsRecord> record = decodeRecord(reinterpret_cast<const char*>(data), size, &used);
    if (!record) return 0;
    if (used < size_t(MinRecordSize) || used > size) std::abort();
    if (const std::optional<QByteArray> again = encodeRecord(*record)) {
        if (decodeRecord(*again) != record) std::abort();
    }

    for (const QString* path : {&record->UnpressedImagePath, &record->PressedImagePath, &record->SoundPath})
        if (!staysInside(*path)) return 0;
    f.reset();
    QFile file(f.input);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    DataFileCommands::OpenFile(f.input);
    return 0;
}
