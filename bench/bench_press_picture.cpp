// Key press to picture: Space on the button window until the pressed picture
// has been painted, and Backspace until the unpressed one has, for a PNG pair
// of button size and for the sample WMF/EMF pictures of the shared corpus when
// present. Also key press to the first non-silent sample mixed (post-mix hook),
// through the real desktop and the media-command service.
//
// Usage: bench_press_picture [iterations]   (offscreen platform, dummy audio)
#include "app/Forms.h"
#include "app/Startup.h"
#include "button/frmBase.h"
#include "platform/QtDesktop.h"
#include "platform/mci/MciService.h"
#include "settings/frmSetDlg.h"

#include "TestMedia.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>

#include <SDL_mixer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<bool> armed{false};
std::atomic<int64_t> heardAt{0};

void SDLCALL postMix(void*, Uint8* stream, int len) {
    if (!armed.load()) return;
    const auto* s = reinterpret_cast<const int16_t*>(stream);
    for (int i = 0; i < len / 2; ++i)
        if (std::abs(int(s[i])) > 64) {
            heardAt.store(Clock::now().time_since_epoch().count());
            armed.store(false);
            return;
        }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void key(QWidget* w, int k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

// Milliseconds from the key to the end of the repaint that shows its result.
double keyToPaint(frmBase& w, int k) {
    const auto t0 = Clock::now();
    key(&w, k);
    w.repaint();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

QString findCorpusFile(const QString& sub, qint64 minBytes, qint64 maxBytes) {
    QDir dir(QStringLiteral(SHARED_TESTDATA "/metafiles/") + sub);
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files, QDir::Name))
        if (!f.fileName().startsWith(QLatin1String("BROKEN")) && f.size() >= minBytes && f.size() <= maxBytes)
            return f.filePath();
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(1, atoi(argv[1])) : 100;
    QtDesktop real;
    setDesktop(&real);
    setUpFonts();

    QTemporaryDir dir;
    const QString up = dir.filePath("up.png"), down = dir.filePath("down.png"), wav = dir.filePath("t.wav");
    for (const auto& [path, color] : {std::pair{up, QColor(200, 0, 0)}, std::pair{down, QColor(255, 220, 0)}}) {
        QImage image(165, 278, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(color);
        p.drawEllipse(20, 140, 125, 90);
        p.end();
        image.save(path);
    }
    testmedia::writeToneWav(wav, {{440, 0.5}});

    frmBase& w = Forms::Base();
    w.show();
    QApplication::processEvents();
    frmSetDlg& s = Forms::SetDlg();

    struct Pair {
        const char* name;
        QString unpressed, pressed;
    };
    std::vector<Pair> pairs{{"PNG 165x278", up, down}};
    const QString wmf = findCorpusFile("wmf", 5000, 60000), emf = findCorpusFile("emf", 5000, 60000);
    if (!wmf.isEmpty()) pairs.push_back({"WMF", up, wmf});
    if (!emf.isEmpty()) pairs.push_back({"EMF", up, emf});

    std::printf("key press -> picture painted (median of %d, target <= 16 ms)\n", iterations);
    for (const Pair& pair : pairs) {
        s.Text1[0]->setText(pair.unpressed);
        s.Text1[1]->setText(pair.pressed);
        s.Text1[2]->clear();
        std::vector<double> press, reset;
        for (int i = 0; i < iterations; ++i) {
            press.push_back(keyToPaint(w, Qt::Key_Space));
            reset.push_back(keyToPaint(w, Qt::Key_Backspace));
        }
        std::printf("  %-12s press %7.3f ms   reset %7.3f ms\n", pair.name, median(press), median(reset));
    }

    // Key press to sound, through the real desktop and service.
    s.Text1[0]->setText(up);
    s.Text1[1]->setText(down);
    s.Text1[2]->setText(wav);
    MciService::instance().warmUp(wav);
    Mix_SetPostMix(postMix, nullptr);
    int rate = 44100, channels = 2;
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
    const double periodMs = 256.0 * 1000.0 / rate;
    std::vector<double> sound;
    for (int i = 0; i < std::min(iterations, 40); ++i) {
        key(&w, Qt::Key_Backspace);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        heardAt.store(0);
        armed.store(true);
        const auto t0 = Clock::now();
        key(&w, Qt::Key_Space);
        while (heardAt.load() == 0 && Clock::now() - t0 < std::chrono::seconds(2))
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (heardAt.load() != 0)
            sound.push_back(std::chrono::duration<double, std::milli>(
                                Clock::duration(heardAt.load()) - t0.time_since_epoch())
                                .count());
    }
    Mix_SetPostMix(nullptr, nullptr);
    std::printf("key press -> first non-silent sample, WAV repeat press: median %.2f ms over %zu presses "
                "(%.2f audio periods of %.2f ms)\n",
                median(sound), sound.size(), median(sound) / periodMs, periodMs);
    MciService::instance().shutdown();
    return sound.empty() ? 1 : 0;
}
