#include "TableKit.h"

#include "Kit.h"
#include "TestMedia.h"

#include "datafile/DataFile.h"
#include "datafile/SettingsRecord.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tablekit {

// Kits of one colour each with their own tone; seat 4's kit is missing.
QString fourSeats(const QTemporaryDir& dir, QJsonObject rules) {
    QDir(dir.path()).mkdir(QStringLiteral("kits"));
    QJsonArray seats;
    const QStringList names{"チームA", "チームB", "チームC", "チームD"};
    for (int i = 0; i < 4; ++i) {
        const QString stem = dir.filePath(QStringLiteral("kits/%1").arg(i + 1));
        kit::solid(40, 40, Qt::darkGray).save(stem + "up.png");
        kit::solid(40, 40, QColor::fromHsv(i * 90, 255, 255)).save(stem + "down.png");
        testmedia::writeToneWav(stem + ".wav", {{440.0 * (i + 1), 0.2}});
        SettingsRecord r;
        r.WindowWidth = r.WindowHeight = 600;
        r.AreaWidth = r.AreaHeight = 300;
        r.UnpressedImagePath = stem + "up.png";
        r.PressedImagePath = stem + "down.png";
        r.SoundPath = stem + ".wav";
        if (i < 3) writeDataFile(stem + ".zm1", *encodeRecord(r));
        seats.append(QJsonObject{{"name", names[i]}, {"kit", QStringLiteral("kits/%1.zm1").arg(i + 1)},
                                 {"inputs", QJsonArray{QStringLiteral("key:%1").arg(i + 1)}}});
    }
    rules.insert("wrongSound", "kits/1.wav");
    const QByteArray json =
        QJsonDocument(QJsonObject{{"zumbleTable", 1}, {"rules", rules}, {"seats", seats}}).toJson();
    kit::write(dir.filePath(QStringLiteral("quiz.zmt")), json);
    return dir.filePath(QStringLiteral("quiz.zmt"));
}

}  // namespace tablekit
