#include "sound/mdlSndAPI.h"

#include "platform/App.h"
#include "platform/Desktop.h"
#include "platform/FileSystem.h"

#include <QThread>

namespace {

int send(const QString& command) { return desktop().mciSendString(command); }

// Device type by the last three characters of the path; empty when not played.
QString deviceType(const QString& path) {
    const QString extension = path.right(3).toUpper().trimmed();
    if (extension == QLatin1String("WAV")) return QStringLiteral("waveaudio");
    if (extension == QLatin1String("MP3")) return QStringLiteral("mpegvideo");
    if (extension == QLatin1String("MID")) return QStringLiteral("sequencer");
    return {};
}

}  // namespace

void PlayMciSound(const QString& path, const QString& channel, bool wait, int16_t pause) {
    // The existence test runs first: it is what raises for a path it cannot take.
    const bool missing = Dir(path).isEmpty();
    if (missing || path.isEmpty()) return;

    const QString alias = EXEName() + channel;
    send(QStringLiteral("close ") + alias);

    const QString type = deviceType(path);
    if (type.isEmpty()) return;

    const QString open = QStringLiteral("open \"") + path + QStringLiteral("\" type ") + type +
                         QStringLiteral(" alias ") + alias + QStringLiteral(" wait");
    if (send(open) != 0) return;

    if (wait) {
        send(QStringLiteral("play ") + alias + QStringLiteral(" from 0 wait"));
        QThread::msleep(static_cast<unsigned long>(pause > 0 ? pause : 0));
    } else {
        send(QStringLiteral("stop ") + alias);
        send(QStringLiteral("play ") + alias + QStringLiteral(" from 0"));
        QThread::yieldCurrentThread();
    }
}

void StopMciSound(const QString& channel) { send(QStringLiteral("stop ") + EXEName() + channel); }

void CloseMciSound(const QString& channel) { send(QStringLiteral("close ") + EXEName() + channel); }

void CloseMciSounds() {
    send(QStringLiteral("close ") + EXEName() + QStringLiteral("P1"));
    send(QStringLiteral("close ") + EXEName() + QStringLiteral("P2"));
}
