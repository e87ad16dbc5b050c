// The first press of a run: a fresh process starts as main() does (the
// window shown, the warm-up started, then the data file given at start
// opened, which names the sound), the user reacts, and presses once. Timed from the key press
// to the first non-silent period the mixer produces (a post-mix hook on the
// audio thread), with the background warm-up that main() starts, and without
// it (what every first press paid before). Next to it, in the same process,
// "any other first press": a sound file not seen before, pressed after the
// first. Also the time from process start to the window painted, which the
// warm-up must not lengthen.
//
// Usage: bench_first_press [runs] [reaction ms]   (SDL_AUDIODRIVER defaults
// to "dummy", which paces its periods in real time like a sound card)
#include "app/Forms.h"
#include "app/SoundWarmUp.h"
#include "app/Startup.h"
#include "app/ZumbleApplication.h"
#include "button/frmBase.h"
#include "datafile/DataFile.h"
#include "datafile/DataFileCommands.h"
#include "datafile/SettingsRecord.h"
#include "platform/QtDesktop.h"
#include "platform/mci/MciService.h"
#include "settings/frmSetDlg.h"

#include "MidiMaker.h"
#include "TestMedia.h"

#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <SDL_mixer.h>

#include <algorithm>
#include <atomic>
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

std::atomic<bool> armed{false};
std::atomic<double> heardAt{0};

void SDLCALL postMix(void*, Uint8* stream, int len) {
    if (!armed.load(std::memory_order_acquire)) return;
    const auto* samples = reinterpret_cast<const int16_t*>(stream);
    for (int i = 0; i < len / 2; ++i) {
        if (std::abs(int(samples[i])) > 2) {
            heardAt.store(nowMs());
            armed.store(false);
            return;
        }
    }
}

class PaintProbe : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && shownAt == 0) QTimer::singleShot(0, [this] { shownAt = nowMs(); });
        return false;
    }
    double shownAt = 0;
};

void runEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One press on the window with `sound`; milliseconds to the first sound
// (-1 when none came) and spent in the key handler.
std::pair<double, double> press(frmBase& w, const QString& sound) {
    Forms::SetDlg().Text1[2]->setText(sound);
    heardAt.store(0);
    armed.store(true, std::memory_order_release);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
    const double start = nowMs();
    QCoreApplication::sendEvent(&w, &space);
    const double handled = nowMs() - start;
    while (heardAt.load() == 0 && nowMs() - start < 2000) QThread::usleep(200);
    armed.store(false);
    const double at = heardAt.load();
    return {at == 0 ? -1 : at - start, handled};
}

int child(int argc, char** argv, bool warm, int reactionMs, const QString& first, const QString& other) {
    ZumbleApplication app(argc, argv);
    QtDesktop real;
    setDesktop(&real);
    setUpFonts();
    frmBase& w = Forms::Base();
    PaintProbe probe;
    w.installEventFilter(&probe);
    // The sound comes from the data file the program was started with.
    frmSetDlg& settings = Forms::SetDlg();
    SettingsRecord record;
    record.WindowWidth = int16_t(settings.HScroll1[0]->value());
    record.WindowHeight = int16_t(settings.HScroll1[1]->value());
    record.AreaWidth = int16_t(settings.HScroll1[4]->value());
    record.AreaHeight = int16_t(settings.HScroll1[5]->value());
    record.SoundPath = first;
    const QString dataFile = first + QStringLiteral(".zm1");
    writeDataFile(dataFile, *encodeRecord(record));
    w.show();
    if (warm) keepSoundWarm(settings.Text1[2]);
    DataFileCommands::OpenStartupFile(dataFile);
    while (probe.shownAt == 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double shown = probe.shownAt;
    Mix_SetPostMix(postMix, nullptr);
    runEventsFor(reactionMs);
    const auto [firstHeard, firstUi] = press(w, first);
    QThread::msleep(100);
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &backspace);
    const auto [otherHeard, otherUi] = press(w, other);
    std::printf("%.3f %.3f %.3f %.3f %.3f\n", shown, firstHeard, firstUi, otherHeard, otherUi);
    std::fflush(stdout);
    MciService::instance().shutdown();
    return 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 5 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv, std::strcmp(argv[2], "warm") == 0, atoi(argv[3]), QString::fromLocal8Bit(argv[4]),
                     QString::fromLocal8Bit(argv[5]));
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    const int reactionMs = argc > 2 ? std::max(0, atoi(argv[2])) : 500;

    QCoreApplication app(argc, argv);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("DISPLAY")) && !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!env.contains(QStringLiteral("SDL_AUDIODRIVER"))) env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    if (env.value(QStringLiteral("SDL_AUDIODRIVER")) == QLatin1String("disk"))
        env.insert(QStringLiteral("SDL_DISKAUDIOFILE"), QStringLiteral("/dev/null"));

    QTemporaryDir dir;
    struct Kind {
        const char* name;
        QString file;
    };
    std::vector<Kind> kinds{{"WAV", dir.filePath("s.wav")}, {"MP3", dir.filePath("s.mp3")}, {"MIDI", dir.filePath("s.mid")}};
    if (!testmedia::writeToneWav(kinds[0].file, {{440, 0.5}}, 44100, 2) || !testmedia::makeMp3(kinds[1].file, 0.5) ||
        !testmedia::writeBytes(kinds[2].file, midimaker::chord(0, {60, 64, 67}, 0.5))) {
        std::fprintf(stderr, "cannot make the media\n");
        return 1;
    }

    std::printf("driver %s, %d runs each, press %d ms after the window is painted; medians (a shared machine: noisy)\n",
                qPrintable(env.value(QStringLiteral("SDL_AUDIODRIVER"))), runs, reactionMs);
    std::printf("%-5s %-8s %10s %14s %10s %14s  %s\n", "kind", "warm-up", "painted", "first of run", "ui", "other first",
                "target first <= 30 ms");
    bool allMet = true;
    int copy = 0;
    for (const Kind& k : kinds) {
        for (const bool warm : {false, true}) {
            std::vector<double> shown, heard, ui, other;
            for (int i = 0; i < runs; ++i) {
                // New paths every run, so no press finds anything of an earlier one.
                const QString ext = k.file.right(4);
                const QString first = dir.filePath(QStringLiteral("f%1%2").arg(copy).arg(ext));
                const QString second = dir.filePath(QStringLiteral("o%1%2").arg(copy++).arg(ext));
                QFile::copy(k.file, first);
                QFile::copy(k.file, second);
                QProcess p;
                p.setProcessEnvironment(env);
                p.setProgram(QCoreApplication::applicationFilePath());
                p.setArguments({QStringLiteral("--child"), warm ? QStringLiteral("warm") : QStringLiteral("cold"),
                                QString::number(reactionMs), first, second});
                const double t0 = nowMs();
                p.start();
                if (!p.waitForFinished(30000) || p.exitCode() != 0) {
                    std::fprintf(stderr, "child failed: %s\n", p.readAllStandardError().constData());
                    return 1;
                }
                const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
                if (f.size() != 5) return 1;
                shown.push_back(f[0].toDouble() - t0);
                heard.push_back(f[1].toDouble());
                ui.push_back(f[2].toDouble());
                other.push_back(f[3].toDouble());
            }
            const bool silent = std::count(heard.begin(), heard.end(), -1.0) + std::count(other.begin(), other.end(), -1.0) > 0;
            const double med = median(heard);
            const bool met = !silent && med <= 30.0;
            if (warm) allMet = allMet && met;  // the program warms up; without it is the reference
            std::printf("%-5s %-8s %8.1fms %12.2fms %8.2fms %12.2fms  x%.2f %s\n", k.name, warm ? "on" : "off",
                        median(shown), med, median(ui), median(other), med / 30.0,
                        silent ? "NO SOUND" : met ? "met" : "MISSED");
        }
    }
    return allMet ? 0 : 2;
}
