// Process start to window shown, and peak memory. The parent starts this
// program again as a child N times; the child does what main() does and
// reports, on the system-wide monotonic clock, when its window has been
// painted, and its peak resident memory after a press with sound. The parent
// reports medians, then the peak memory after a press on a 60 s WAV, MP3 and
// MIDI file and on 10-min and 60-min WAV and MP3 files (made in a temporary
// folder, deleted at the end; the 60-min WAV is 635 MB), each left playing
// for two seconds, with the time the press handler took on the UI thread.
//
// Usage: bench_startup [runs]   (uses the X display when DISPLAY is set, else offscreen)
#include "app/Forms.h"
#include "app/SoundWarmUp.h"
#include "app/Startup.h"
#include "app/ZumbleApplication.h"
#include "button/frmBase.h"
#include "platform/QtDesktop.h"
#include "platform/mci/MciService.h"
#include "settings/frmSetDlg.h"

#include "TestMedia.h"

#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

namespace {

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

long peakRssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Paints once, then tells the time it finished.
class PaintProbe : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && shownAt == 0) {
            QTimer::singleShot(0, [this] { shownAt = nowMs(); });
        }
        return false;
    }
    double shownAt = 0;
};

int child(int argc, char** argv, const char* soundPath) {
    ZumbleApplication app(argc, argv);
    QtDesktop real;
    setDesktop(&real);
    setUpFonts();
    frmBase& w = Forms::Base();
    PaintProbe probe;
    w.installEventFilter(&probe);
    w.show();
    while (probe.shownAt == 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double shown = probe.shownAt;
    const long rssShown = peakRssKb();
    // As the program does with a data file that names the sound: the device
    // and that sound are made ready in the background once the window is up,
    // and a person presses a moment later, not in the same millisecond.
    Forms::SetDlg().Text1[2]->setText(QString::fromLocal8Bit(soundPath));
    keepSoundWarm(Forms::SetDlg().Text1[2]);
    const double waitUntil = nowMs() + 600;
    while (nowMs() < waitUntil) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    // A press, as a quiz would start.
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
    const double pressStart = nowMs();
    QCoreApplication::sendEvent(&w, &space);
    const double pressMs = nowMs() - pressStart;
    // Left playing a while: a streamed sound's memory must not grow with it.
    QThread::msleep(std::strstr(soundPath, "long") ? 2000 : 300);
    std::printf("%.3f %ld %ld %.3f\n", shown, rssShown, peakRssKb(), pressMs);
    std::fflush(stdout);
    MciService::instance().shutdown();
    return 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--child") == 0) return child(argc, argv, argv[2]);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;

    QCoreApplication app(argc, argv);
    const QString wav = QStringLiteral(ZUMBLE_SOURCE_DIR "/assets/samples/chime.wav");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("DISPLAY")) && !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!env.contains(QStringLiteral("SDL_AUDIODRIVER"))) env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));

    struct Result {
        double shownMs;
        double rssShownMb;
        double rssPlayedMb;
        double pressMs;
    };
    auto runChild = [&](const QString& sound) -> std::optional<Result> {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProgram(QCoreApplication::applicationFilePath());
        p.setArguments({QStringLiteral("--child"), sound});
        const double t0 = nowMs();
        p.start();
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            std::fprintf(stderr, "child failed: %s\n", p.readAllStandardError().constData());
            return std::nullopt;
        }
        const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
        if (f.size() != 4) return std::nullopt;
        return Result{f[0].toDouble() - t0, f[1].toDouble() / 1024, f[2].toDouble() / 1024, f[3].toDouble()};
    };

    std::vector<double> start, rssShown, rssPlayed;
    for (int i = 0; i < runs; ++i) {
        const std::optional<Result> r = runChild(wav);
        if (!r) return 1;
        start.push_back(r->shownMs);
        rssShown.push_back(r->rssShownMb);
        rssPlayed.push_back(r->rssPlayedMb);
    }
    std::printf("process start -> window painted: median %.1f ms over %d runs (target <= 150 ms), platform %s\n",
                median(start), runs, qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"))));
    std::printf("peak RSS: %.1f MB when shown, %.1f MB after a press with a short WAV (target <= 40 MB)\n",
                median(rssShown), median(rssPlayed));

    QTemporaryDir dir;
    struct Long {
        const char* name;
        QString file;
        double seconds;
    };
    const QStringList stereo{QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("2"),
                             QStringLiteral("-b"), QStringLiteral("16")};
    const std::vector<Long> longs{{"WAV", dir.filePath(QStringLiteral("long60.wav")), 60},
                                  {"MP3", dir.filePath(QStringLiteral("long60.mp3")), 60},
                                  {"MIDI", dir.filePath(QStringLiteral("long60.mid")), 60},
                                  {"WAV", dir.filePath(QStringLiteral("long600.wav")), 600},
                                  {"MP3", dir.filePath(QStringLiteral("long600.mp3")), 600},
                                  {"WAV", dir.filePath(QStringLiteral("long3600.wav")), 3600},
                                  {"MP3", dir.filePath(QStringLiteral("long3600.mp3")), 3600}};
    for (const Long& l : longs) {
        const QString ext = l.file.right(3);
        const bool ok = ext == QLatin1String("mid")   ? testmedia::writeMidi(l.file, int(l.seconds * 4), 0.25)
                        : ext == QLatin1String("mp3") ? testmedia::makeMp3(l.file, l.seconds)
                                                      : testmedia::makeSoxTone(l.file, l.seconds, stereo);
        if (!ok) return 1;
    }
    std::printf("The machine is shared: figures are medians of 3 runs and still noisy.\n");
    for (const Long& l : longs) {
        std::vector<double> rss, pressMs;
        for (int i = 0; i < 3; ++i) {
            const std::optional<Result> r = runChild(l.file);
            if (!r) return 1;
            rss.push_back(r->rssPlayedMb);
            pressMs.push_back(r->pressMs);
        }
        std::printf("%-4s %6.0f s: peak RSS %.1f MB (ratio %.2f to 40 MB), press handler on the UI thread %.2f ms (ratio %.2f to 5 ms)\n",
                    l.name, l.seconds, median(rss), median(rss) / 40, median(pressMs), median(pressMs) / 5);
    }
    return 0;
}
