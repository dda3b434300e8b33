// Speed and memory of the picture loader on large generated photos, next to Qt's
// readers. Modes besides the benchmarks:
//   bench_picture --make DIR      write the test pictures into DIR
//   bench_picture --preview FILE  one preview (267 x 200) in a fresh process, for /usr/bin/time -v
//   bench_picture --natural FILE  one decode at the natural size, likewise
//   bench_picture --qt FILE       the same through a full Qt decode and QImage::scaled
//   bench_picture --idle          start and stop (the baseline for peak memory)
//   bench_picture --shared FILE   the preview, then (timed) the reduced viewer's decode
//                                 of the same file, which starts from the preview's
//                                 decode when it was kept (the first use in a process)
#include "photo.h"
#include "picture/decode_cache.h"
#include "picture/picture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <sys/resource.h>
#include <vector>

namespace {

const QSize kPreview(267, 200);

// What 実寸表示 shows of a 6000 x 4000 or 12000 x 8400 photo on a 1024 x 768 screen.
QSize reducedViewSize(QSize natural)
{
    const double s = std::min(716.8 / natural.width(), 537.6 / natural.height());
    return QSize(int(std::lround(natural.width() * s)), int(std::lround(natural.height() * s)));
}

struct TestPicture {
    const char *name;
    int width, height;
    bool progressive;
    bool bmp;
};

const TestPicture kTestPictures[] = {
    {"12mp.jpg", 4000, 3000, false, false},     {"24mp.jpg", 6000, 4000, false, false},
    {"24mp-progressive.jpg", 6000, 4000, true, false}, {"100mp.jpg", 12000, 8400, false, false},
    {"24mp.bmp", 6000, 4000, false, true},
};

bool writeJpeg(const QString &path, const TestPicture &s)
{
    return bench::writePhotoJpeg(path, s.width, s.height, s.progressive);
}

bool writeBmp(const QString &path, const TestPicture &s)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const quint32 stride = quint32((s.width * 3 + 3) & ~3);
    QByteArray header(54, '\0');
    auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = char((v >> (8 * i)) & 0xff);
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, 54 + stride * quint32(s.height));
    put32(10, 54);
    put32(14, 40);
    put32(18, quint32(s.width));
    put32(22, quint32(s.height));
    put32(26, 1 | (24 << 16));
    f.write(header);
    std::vector<uchar> rgb(std::size_t(s.width) * 3), bgr(stride, 0);
    std::mt19937 rng(7);
    for (int y = s.height - 1; y >= 0; --y) {
        bench::fillRow(rgb, y, s.width, s.height, rng);
        for (int x = 0; x < s.width; ++x) {
            bgr[3 * x] = rgb[3 * x + 2];
            bgr[3 * x + 1] = rgb[3 * x + 1];
            bgr[3 * x + 2] = rgb[3 * x];
        }
        f.write(reinterpret_cast<const char *>(bgr.data()), stride);
    }
    return true;
}

bool makePictures(const QString &dir)
{
    QDir().mkpath(dir);
    for (const TestPicture &s : kTestPictures) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(s.name);
        if (QFile::exists(path))
            continue;
        std::fprintf(stderr, "writing %s\n", qPrintable(path));
        if (!(s.bmp ? writeBmp(path, s) : writeJpeg(path, s)))
            return false;
    }
    return true;
}

// A picture seen for the first time: the reduced decode kept by the last run is dropped.
QImage preview(const QString &path)
{
    pel::picture::DecodeCache::shared().clear();
    auto pic = pel::PictureFile::open(QFile::encodeName(path), 15.0);
    return pic ? pic->render(kPreview) : QImage();
}

// The reduced viewer right after the preview of the same file (the preview untimed).
QImage viewerAfterPreview(const QString &path, QElapsedTimer *timer)
{
    preview(path);
    timer->start();
    auto pic = pel::PictureFile::open(QFile::encodeName(path), 15.0);
    return pic ? pic->render(reducedViewSize(pic->pixelSize())) : QImage();
}

QImage natural(const QString &path)
{
    auto pic = pel::PictureFile::open(QFile::encodeName(path), 15.0);
    return pic ? pic->render() : QImage();
}

QImage qtFullThenScaled(const QString &path)
{
    QImageReader reader(path);
    return reader.read().scaled(kPreview, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage qtScaledSize(const QString &path)
{
    QImageReader reader(path);
    reader.setScaledSize(kPreview);
    return reader.read();
}

int runOnce(const QString &path, QImage (*how)(const QString &))
{
    QElapsedTimer t;
    t.start();
    const QImage img = how(path);
    const qint64 ns = t.nsecsElapsed();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: %dx%d in %.1f ms, peak RSS %ld MB\n", qPrintable(path), img.width(), img.height(), ns / 1e6,
                usage.ru_maxrss / 1024);
    return img.isNull() ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0)
        return makePictures(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    // Pictures written just now are not kept decoded; a user's photos are older.
    if (argc == 3)
        bench::waitUntilSettled(QFileInfo(QString::fromLocal8Bit(argv[2])).path());
    if (argc == 3 && std::strcmp(argv[1], "--preview") == 0)
        return runOnce(QString::fromLocal8Bit(argv[2]), preview);
    if (argc == 3 && std::strcmp(argv[1], "--natural") == 0)
        return runOnce(QString::fromLocal8Bit(argv[2]), natural);
    if (argc == 3 && std::strcmp(argv[1], "--qt") == 0) {
        QImageReader::setAllocationLimit(0);
        return runOnce(QString::fromLocal8Bit(argv[2]), qtFullThenScaled);
    }
    if (argc == 3 && std::strcmp(argv[1], "--shared") == 0) {
        QElapsedTimer t;
        const QImage img = viewerAfterPreview(QString::fromLocal8Bit(argv[2]), &t);
        std::printf("%s: %dx%d in %.1f ms after the preview\n", argv[2], img.width(), img.height(), t.nsecsElapsed() / 1e6);
        return img.isNull() ? 1 : 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--idle") == 0) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("idle peak RSS %ld MB\n", usage.ru_maxrss / 1024);
        return 0;
    }

    QCoreApplication app(argc, argv);
    QImageReader::setAllocationLimit(0);  // Qt's side of the comparison, without its 128 MB cap
    QTemporaryDir tmp;
    const QString dir = qEnvironmentVariable("PEL_BENCH_DIR", tmp.path());
    if (!makePictures(dir))
        return 1;
    bench::waitUntilSettled(dir);
    for (const TestPicture &s : kTestPictures) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(s.name);
        auto add = [&](const char *what, QImage (*how)(const QString &)) {
            benchmark::RegisterBenchmark((std::string(what) + "/" + s.name).c_str(), [path, how](benchmark::State &state) {
                for (auto _ : state) {
                    QImage img = how(path);
                    if (img.size() != kPreview)
                        state.SkipWithError("no picture");
                    benchmark::DoNotOptimize(img);
                }
            })->Unit(benchmark::kMillisecond)->UseRealTime();
        };
        add("preview", preview);
        if (!s.bmp) {
            benchmark::RegisterBenchmark((std::string("viewer_after_preview/") + s.name).c_str(), [path](benchmark::State &state) {
                for (auto _ : state) {
                    state.PauseTiming();
                    preview(path);
                    state.ResumeTiming();
                    auto pic = pel::PictureFile::open(QFile::encodeName(path), 15.0);
                    QImage img = pic ? pic->render(reducedViewSize(pic->pixelSize())) : QImage();
                    if (img.isNull())
                        state.SkipWithError("no picture");
                    benchmark::DoNotOptimize(img);
                }
            })->Unit(benchmark::kMillisecond)->UseRealTime();
        }
        add("qt_full_then_scaled", qtFullThenScaled);
        add("qt_scaled_size", qtScaledSize);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
