// Median time to render the typical metafiles of the shared corpus (files of
// 5 to 60 KB, WMF and EMF) at their natural size. Target: 2 ms or less.
// On a machine busy with other work, ZUMBLE_BENCH_CPU=1 times the thread's
// processor time instead of the wall clock, which the other work inflates.
// Under callgrind, ZUMBLE_BENCH_CALLGRIND=1 renders each file once more after
// the warm-up and dumps the instructions of that render alone, named after
// the file; bench/callgrind-median runs it and prints the median file's count,
// which repeats to the instruction however busy the machine is.
// ZUMBLE_BENCH_ONLY=TEXT keeps only the files whose names contain TEXT.
#include "platform/metafile/Metafile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define ZUMBLE_HAVE_CALLGRIND 1
#endif

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

const bool useCpu = qEnvironmentVariableIsSet("ZUMBLE_BENCH_CPU");
const bool countInstructions = qEnvironmentVariableIsSet("ZUMBLE_BENCH_CALLGRIND");

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct Timed {
    QString name;
    double ms;
};

std::vector<double> msOf(const std::vector<Timed>& files) {
    std::vector<double> ms;
    for (const Timed& f : files) ms.push_back(f.ms);
    return ms;
}

// Per-file medians over a few rounds, in milliseconds.
std::vector<Timed> timeFolder(const QString& path, int rounds) {
    std::vector<Timed> perFile;
    const QDir dir(path);
    const QString only = qEnvironmentVariable("ZUMBLE_BENCH_ONLY");  // names containing this, when set
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files, QDir::Name)) {
        if (!only.isEmpty() && !info.fileName().contains(only)) continue;
        if (info.size() < 5 * 1024 || info.size() > 60 * 1024 || info.fileName().startsWith(u"BROKEN-")) continue;
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QByteArray data = file.readAll();
        metafile::render(data);  // warm the font caches
        if (countInstructions) {
#ifdef ZUMBLE_HAVE_CALLGRIND
            CALLGRIND_ZERO_STATS;
            metafile::render(data);
            CALLGRIND_DUMP_STATS_AT(qPrintable(info.fileName()));
#endif
            perFile.push_back({info.fileName(), 0});
            continue;
        }
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            QElapsedTimer clock;
            clock.start();
            const double cpuStart = cpuMs();
            const QImage image = metafile::render(data);
            times.push_back(useCpu ? cpuMs() - cpuStart : double(clock.nsecsElapsed()) / 1e6);
            if (image.isNull()) break;
        }
        perFile.push_back({info.fileName(), median(times)});
    }
    return perFile;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString corpus = QStringLiteral(SHARED_TESTDATA "/metafiles");
    if (!QDir(corpus).exists()) {
        std::printf("bench_metafile: skipped, no corpus at %s\n", qPrintable(corpus));
        return 0;
    }
    const std::vector<Timed> wmfFiles = timeFolder(corpus + QStringLiteral("/wmf"), 7);
    const std::vector<Timed> emfFiles = timeFolder(corpus + QStringLiteral("/emf"), 7);
    if (countInstructions) {
        std::printf("bench_metafile: one render of each of %zu files dumped for callgrind\n", wmfFiles.size() + emfFiles.size());
        return 0;
    }
    std::vector<Timed> allFiles = wmfFiles;
    allFiles.insert(allFiles.end(), emfFiles.begin(), emfFiles.end());
    const std::vector<double> wmf = msOf(wmfFiles), emf = msOf(emfFiles), all = msOf(allFiles);
    std::printf("bench_metafile: WMF %zu files, median %.2f ms, slowest %.2f ms\n", wmf.size(), median(wmf),
                wmf.empty() ? 0.0 : *std::max_element(wmf.begin(), wmf.end()));
    std::printf("bench_metafile: EMF %zu files, median %.2f ms, slowest %.2f ms\n", emf.size(), median(emf),
                emf.empty() ? 0.0 : *std::max_element(emf.begin(), emf.end()));
    std::sort(allFiles.begin(), allFiles.end(), [](const Timed& x, const Timed& y) { return x.ms > y.ms; });
    for (size_t i = 0; i < std::min<size_t>(5, allFiles.size()); ++i)
        std::printf("bench_metafile: slow file %s %.2f ms\n", qPrintable(allFiles[i].name), allFiles[i].ms);
    const double m = median(all);
    std::printf("bench_metafile: all %zu files, median %.2f ms%s (target <= 2 ms): %s\n", all.size(), m,
                useCpu ? " of processor time" : "", m <= 2.0 ? "met" : "MISSED");
    return 0;
}
