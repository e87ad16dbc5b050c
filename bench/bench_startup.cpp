// Process start to window shown, and peak memory. The parent starts this
// program again as a child N times; the child does what main() does and
// reports, on the system-wide monotonic clock, when its window has been
// painted, and its peak resident memory after a press with sound. The parent
// reports medians, then the peak memory after a press on a 60 s WAV, MP3 and
// MIDI file.
//
// Usage: bench_startup [runs]   (uses the X display when DISPLAY is set, else offscreen)
#include "app/Forms.h"
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
    // A press with a sound, as a quiz would start.
    Forms::SetDlg().Text1[2]->setText(QString::fromLocal8Bit(soundPath));
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &space);
    QThread::msleep(300);
    std::printf("%.3f %ld %ld\n", shown, rssShown, peakRssKb());
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
    };
    auto runChild = [&](const QString& sound) -> std::optional<Result> {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProgram(QCoreApplication::applicationFilePath());
        p.setArguments({QStringLiteral("--child"), sound});
        const double t0 = nowMs();
        p.start();
        if (!p.waitForFinished(20000) || p.exitCode() != 0) {
            std::fprintf(stderr, "child failed: %s\n", p.readAllStandardError().constData());
            return std::nullopt;
        }
        const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
        if (f.size() != 3) return std::nullopt;
        return Result{f[0].toDouble() - t0, f[1].toDouble() / 1024, f[2].toDouble() / 1024};
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
    const QString longWav = dir.filePath(QStringLiteral("long.wav")), longMp3 = dir.filePath(QStringLiteral("long.mp3")),
                  longMid = dir.filePath(QStringLiteral("long.mid"));
    if (!testmedia::writeToneWav(longWav, {{440, 60}}, 44100, 2) || !testmedia::makeMp3(longMp3, 60) ||
        !testmedia::writeMidi(longMid, 240, 0.25))
        return 1;
    for (const auto& [name, file] : {std::pair{"WAV", longWav}, std::pair{"MP3", longMp3}, std::pair{"MIDI", longMid}}) {
        const std::optional<Result> r = runChild(file);
        if (!r) return 1;
        std::printf("peak RSS after a press on a 60 s %s: %.1f MB\n", name, r->rssPlayedMb);
    }
    return 0;
}
