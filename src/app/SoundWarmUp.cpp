#include "app/SoundWarmUp.h"

#include "platform/mci/MciService.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <SDL_thread.h>

void warmUpSoundInBackground() {
    // The next turn of the event loop: the window's show has been handled.
    QTimer::singleShot(0, qApp, [] {
        QThread* thread = QThread::create([] {
            MciService::instance().warmUp();
            // SDL keeps per-thread state (its error text) for any thread that
            // calls it, and frees it by itself only for threads it started.
            SDL_TLSCleanup();
        });
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        // A normal return from the event loop destroys the service; the warm-up must be over by then.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, thread, [thread] { thread->wait(); });
        thread->start(QThread::LowPriority);
    });
}
