// Plays every metafile of the shared corpus (real files written by other
// programs) and compares each with its reference render. Crashes, hangs and
// time-outs fail; agreement is measured and printed, since the reference is a
// yardstick rather than ground truth.
#include "platform/Errors.h"
#include "platform/Picture.h"
#include "platform/metafile/Metafile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

const QString kCorpus = QStringLiteral(SHARED_TESTDATA "/metafiles");
constexpr int kSecondsPerFile = 20;

// Ends the process when one file takes too long: a hang must fail the test,
// not stall it. The alarm's handler only writes and exits, as a signal
// handler may.
char playing[1024];
void tooLong(int) {
    static const char say[] = "FAIL: this file took more than 20 s: ";
    (void)!::write(STDERR_FILENO, say, sizeof say - 1);
    (void)!::write(STDERR_FILENO, playing, std::strlen(playing));
    std::_Exit(3);
}
void armWatchdog(const QString& name) {
    qstrncpy(playing, QFile::encodeName(name).constData(), sizeof playing);
    std::signal(SIGALRM, tooLong);
    ::alarm(kSecondsPerFile);
}

// The corpus README's measure: trim both to the pixels that differ from white
// by more than 12, grey, box-filter to 24 x 24, mean absolute difference.
struct Thumb {
    bool blank = true;
    double cells[24 * 24] = {};
};

Thumb thumbnail(const QImage& source) {
    Thumb t;
    if (source.isNull()) return t;
    // Onto white, as the reference pages are.
    QImage img(source.size(), QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        p.drawImage(0, 0, source);
    }
    int left = img.width(), top = img.height(), right = -1, bottom = -1;
    for (int y = 0; y < img.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = line[x];
            if (255 - qRed(c) > 12 || 255 - qGreen(c) > 12 || 255 - qBlue(c) > 12) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0) return t;
    t.blank = false;
    const int w = right - left + 1, h = bottom - top + 1;
    for (int cy = 0; cy < 24; ++cy) {
        const int y0 = top + cy * h / 24, y1 = std::max(y0 + 1, top + (cy + 1) * h / 24);
        for (int cx = 0; cx < 24; ++cx) {
            const int x0 = left + cx * w / 24, x1 = std::max(x0 + 1, left + (cx + 1) * w / 24);
            double sum = 0;
            for (int y = y0; y < y1; ++y) {
                const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
                for (int x = x0; x < x1; ++x) sum += qGray(line[x]);
            }
            t.cells[cy * 24 + cx] = sum / ((y1 - y0) * (x1 - x0)) / 255.0;
        }
    }
    return t;
}

// -1 when exactly one of the two is blank.
double difference(const QImage& a, const QImage& b) {
    const Thumb ta = thumbnail(a), tb = thumbnail(b);
    if (ta.blank || tb.blank) return ta.blank == tb.blank ? 0.0 : -1.0;
    double sum = 0;
    for (int i = 0; i < 24 * 24; ++i) sum += std::abs(ta.cells[i] - tb.cells[i]);
    return sum / (24 * 24);
}

}  // namespace

class MetafileCorpusTest : public QObject {
    Q_OBJECT

private:
    void playFolder(const QString& kind);

private slots:
    void wmf() { playFolder(QStringLiteral("wmf")); }
    void emf() { playFolder(QStringLiteral("emf")); }
    void measureSelfCheck();
};

void MetafileCorpusTest::playFolder(const QString& kind) {
    const QDir dir(kCorpus + u'/' + kind);
    if (!dir.exists()) QSKIP("the shared metafile corpus is not here");
    const QStringList files = dir.entryList({QStringLiteral("*.") + kind}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    const QString outDir = qEnvironmentVariable("ZUMBLE_CORPUS_OUT");
    // One line per file, for comparing two versions of the players file by file.
    const bool listAll = qEnvironmentVariableIsSet("ZUMBLE_CORPUS_LIST");

    int total = 0, agreeing = 0, agreeingAtReferenceSize = 0, refused = 0, brokenPlayed = 0;
    QStringList disagreeing;
    QElapsedTimer clock;
    for (const QString& name : files) {
        const bool broken = name.startsWith(u"BROKEN-");
        armWatchdog(name);
        clock.start();
        QImage image;
        try {
            image = LoadPicture(dir.filePath(name));
        } catch (const RuntimeError&) {
            image = QImage();
        }
        const qint64 ms = clock.elapsed();
        // The reference pages show a picture under an inch (96 px) on its
        // longer side enlarged to an inch. A 16 px equation holds too few
        // pixels for a 24 x 24 comparison, so the drawing is also compared at
        // the reference's own size.
        QImage enlarged = image;
        const int longer = std::max(image.width(), image.height());
        if (!image.isNull() && longer < 96) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly)) enlarged = metafile::render(file.readAll(), nullptr, 96.0 / longer);
        }
        ::alarm(0);
        if (image.isNull()) ++refused;
        // Drawn at natural size but never past the cap.
        QVERIFY2(image.width() <= MaxPictureSide && image.height() <= MaxPictureSide, qPrintable(name));
        if (!outDir.isEmpty() && !image.isNull()) image.save(outDir + QStringLiteral("/") + name + QStringLiteral(".png"));
        if (broken) {  // deliberately broken, no reference: only "no crash, no hang" counts
            ++brokenPlayed;
            continue;
        }

        ++total;
        const QImage reference(kCorpus + QStringLiteral("/reference/") + kind + QStringLiteral("/") + QFileInfo(name).completeBaseName() + QStringLiteral(".png"));
        const double diff = reference.isNull() ? -1.0 : difference(image, reference);
        const double diffEnlarged = reference.isNull() ? -1.0 : difference(enlarged, reference);
        if (diff >= 0 && diff <= 0.12) ++agreeing;
        if (listAll)
            std::printf("file %s %s %.3f\n", qPrintable(name),
                        diffEnlarged >= 0 && diffEnlarged <= 0.12 ? "agrees" : "differs", diffEnlarged);
        if (diffEnlarged >= 0 && diffEnlarged <= 0.12)
            ++agreeingAtReferenceSize;
        else
            disagreeing << QStringLiteral("%1 (%2%3, %4 ms)")
                               .arg(name, reference.isNull()   ? QStringLiteral("no reference")
                                          : diffEnlarged < 0 ? QStringLiteral("blank vs drawn")
                                                             : QString::number(diffEnlarged, 'f', 3),
                                    image.isNull() ? QStringLiteral(", refused") : QString())
                               .arg(ms);
    }
    std::printf("%s agreement: %d / %d files agree with the reference at its own size, %d / %d at natural size "
                "(%d files refused; %d deliberately broken files played without crash or hang, not counted)\n",
                qPrintable(kind.toUpper()), agreeingAtReferenceSize, total, agreeing, total, refused, brokenPlayed);
    for (const QString& d : disagreeing) std::printf("  disagrees at the reference's size: %s\n", qPrintable(d));
    std::fflush(stdout);
}

void MetafileCorpusTest::measureSelfCheck() {
    // The measure itself: the same drawing at another scale agrees, a
    // different drawing does not, blank matches only blank.
    const auto boxes = [](QSize size, QColor page, std::initializer_list<QRect> black) {
        QImage img(size, QImage::Format_ARGB32);
        img.fill(page);
        QPainter p(&img);
        for (const QRect& r : black) p.fillRect(r, Qt::black);
        p.end();
        return img;
    };
    const QImage a = boxes({200, 100}, Qt::transparent, {{20, 20, 60, 60}});
    const QImage b = boxes({400, 300}, Qt::white, {{100, 100, 120, 120}});
    const QImage c = boxes({200, 100}, Qt::white, {{10, 10, 80, 5}, {10, 80, 80, 5}, {10, 10, 5, 75}});
    const QImage blank = boxes({50, 50}, Qt::transparent, {});
    QCOMPARE(difference(a, b), 0.0);
    QVERIFY(difference(a, c) > 0.12);
    QCOMPARE(difference(blank, b), -1.0);
    QCOMPARE(difference(blank, QImage()), 0.0);
}

QTEST_MAIN(MetafileCorpusTest)
#include "test_metafile_corpus.moc"
