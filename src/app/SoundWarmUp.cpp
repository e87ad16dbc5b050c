#include "app/SoundWarmUp.h"

#include "platform/mci/MciService.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QThreadPool>
#include <QTimer>

#include <SDL_thread.h>

namespace {

// One warm-up at a time, in the order asked; the application's end waits
// for the one running (a normal return from the event loop destroys the
// service) and drops those not started.
QThreadPool* warmUpThread() {
    static const QString name = QStringLiteral("soundWarmUp");
    if (auto* pool = qApp->findChild<QThreadPool*>(name, Qt::FindDirectChildrenOnly)) return pool;
    auto* pool = new QThreadPool(qApp);
    pool->setObjectName(name);
    pool->setMaxThreadCount(1);
    pool->setThreadPriority(QThread::LowPriority);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, pool, [pool] {
        pool->clear();
        pool->waitForDone();
    });
    return pool;
}

}  // namespace

void warmUpSoundInBackground(const QString& soundPath) {
    QTimer::singleShot(0, qApp, [soundPath] {
        warmUpThread()->start([soundPath] {
            MciService::instance().warmUp(soundPath);
            // SDL keeps per-thread state (its error text) for any thread that
            // calls it, and frees it by itself only for threads it started.
            SDL_TLSCleanup();
        });
    });
}

void keepSoundWarm(QLineEdit* soundBox) {
    warmUpSoundInBackground(soundBox->text());
    // A name being typed is not warmed up letter by letter; one set whole
    // (a data file opened, a file chosen) is warmed up at once, since the
    // press may come at once.
    auto* settled = new QTimer(soundBox);
    settled->setSingleShot(true);
    settled->setInterval(300);
    QObject::connect(soundBox, &QLineEdit::textChanged, settled, [soundBox, settled] {
        if (soundBox->isModified()) {
            settled->start();
        } else {
            settled->stop();
            warmUpSoundInBackground(soundBox->text());
        }
    });
    QObject::connect(settled, &QTimer::timeout, soundBox, [soundBox] { warmUpSoundInBackground(soundBox->text()); });
}
