// zumble-make-kit OUT.zm1 UNPRESSED PRESSED SOUND: writes the sample button
// kit's data file, naming the three media files by the absolute paths given
// (they are where the kit will be, which may differ from where it is built
// or staged). The window and recognition area fit the sample pictures.
#include "datafile/DataFile.h"
#include "datafile/SettingsRecord.h"

#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: zumble-make-kit OUT.zm1 UNPRESSED PRESSED SOUND\n");
        return 2;
    }
    SettingsRecord kit;
    kit.WindowWidth = 2475;   // the sample pictures are 165 x 278 px
    kit.WindowHeight = 4170;
    kit.BackgroundColor = 0x003C2828;  // the pictures' own background
    kit.AreaLeft = 300;       // the red dome
    kit.AreaTop = 2250;
    kit.AreaWidth = 1875;
    kit.AreaHeight = 900;
    kit.UnpressedImagePath = QString::fromLocal8Bit(argv[2]);
    kit.PressedImagePath = QString::fromLocal8Bit(argv[3]);
    kit.SoundPath = QString::fromLocal8Bit(argv[4]);
    const std::optional<QByteArray> bytes = encodeRecord(kit);
    if (!bytes) {
        std::fprintf(stderr, "zumble-make-kit: a path cannot be stored in a data file\n");
        return 1;
    }
    try {
        writeDataFile(QString::fromLocal8Bit(argv[1]), *bytes);
    } catch (const DataFileError& e) {
        std::fprintf(stderr, "zumble-make-kit: %s: %s\n", argv[1], e.reason().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
