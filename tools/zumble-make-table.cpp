// zumble-make-table WRITE_DIR FINAL_DIR UNPRESSED PRESSED SOUND: writes the
// sample quiz table: the sample button in four colours, the chime at four
// pitches, a kit for each (naming its media under FINAL_DIR, where the table
// will be; WRITE_DIR may be a staging folder), and quiz.zmt with four teams
// bound to the keys 1 to 4, plus the host's 正解 and 誤答 sounds.
#include "datafile/DataFile.h"
#include "datafile/SettingsRecord.h"
#include "table/TableFile.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdio>
#include <cstring>

namespace {

// The picture with its coloured parts turned to `hue`; greys stay grey.
QImage recoloured(const QImage& source, int hue) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            QColor c = QColor::fromRgba(line[x]);
            if (c.hsvSaturation() < 60) continue;
            c.setHsv(hue, c.hsvSaturation(), c.value(), c.alpha());
            line[x] = c.rgba();
        }
    }
    return image;
}

// A PCM WAV played `factor` times faster: higher by that ratio, and shorter.
QByteArray repitched(QByteArray wav, double factor) {
    const qsizetype fmt = wav.indexOf("fmt ");
    if (fmt < 0 || fmt + 20 > wav.size()) return {};
    const auto scale = [&](qsizetype at) {
        quint32 v = 0;
        std::memcpy(&v, wav.constData() + at, 4);  // little-endian, as the machine
        v = quint32(v * factor + 0.5);
        std::memcpy(wav.data() + at, &v, 4);
    };
    scale(fmt + 12);  // samples per second
    scale(fmt + 16);  // bytes per second
    return wav;
}

bool write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: zumble-make-table WRITE_DIR FINAL_DIR UNPRESSED PRESSED SOUND\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QString final = QString::fromLocal8Bit(argv[2]);
    const QImage up(QString::fromLocal8Bit(argv[3])), down(QString::fromLocal8Bit(argv[4]));
    QFile chime(QString::fromLocal8Bit(argv[5]));
    if (up.isNull() || down.isNull() || !chime.open(QIODevice::ReadOnly) || !out.mkpath(QStringLiteral("kits"))) {
        std::fprintf(stderr, "zumble-make-table: cannot read the sample media or make %s\n", argv[1]);
        return 1;
    }
    const QByteArray sound = chime.readAll();

    struct Team { const char* name; int hue; double pitch; };
    const Team teams[] = {{"チームA", 0, 1.0}, {"チームB", 215, 1.26}, {"チームC", 120, 1.5}, {"チームD", 50, 2.0}};
    table::TableConfig config;
    config.rules.correctSound = QStringLiteral("kits/correct.wav");
    config.rules.wrongSound = QStringLiteral("kits/wrong.wav");
    bool ok = write(out.filePath(QStringLiteral("kits/correct.wav")), repitched(sound, 1.5)) &&
              write(out.filePath(QStringLiteral("kits/wrong.wav")), repitched(sound, 0.5));
    for (int i = 0; i < 4 && ok; ++i) {
        const QString stem = QStringLiteral("kits/%1").arg(i + 1);
        ok = recoloured(up, teams[i].hue).save(out.filePath(stem + "_up.png")) &&
             recoloured(down, teams[i].hue).save(out.filePath(stem + "_down.png")) &&
             write(out.filePath(stem + ".wav"), repitched(sound, teams[i].pitch));
        SettingsRecord kit;
        kit.WindowWidth = 2475;  // as the sample kit: 165 x 278 px pictures
        kit.WindowHeight = 4170;
        kit.BackgroundColor = 0x003C2828;
        kit.AreaLeft = 300;
        kit.AreaTop = 2250;
        kit.AreaWidth = 1875;
        kit.AreaHeight = 900;
        kit.UnpressedImagePath = final + u'/' + stem + "_up.png";
        kit.PressedImagePath = final + u'/' + stem + "_down.png";
        kit.SoundPath = final + u'/' + stem + ".wav";
        const std::optional<QByteArray> record = encodeRecord(kit);
        try {
            ok = ok && record && (writeDataFile(out.filePath(stem + ".zm1"), *record), true);
        } catch (const DataFileError&) {
            ok = false;
        }
        config.seats.push_back({QString::fromUtf8(teams[i].name), stem + ".zm1", QPoint(40 + i * 190, 60),
                                {QStringLiteral("key:%1").arg(i + 1)}});
    }
    try {
        if (ok) table::saveTableFile(out.filePath(QStringLiteral("quiz.zmt")), config);
    } catch (const table::TableFileError&) {
        ok = false;
    }
    if (!ok) std::fprintf(stderr, "zumble-make-table: writing the sample table into %s failed\n", argv[1]);
    return ok ? 0 : 1;
}
