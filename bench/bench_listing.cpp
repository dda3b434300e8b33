// Listing a full folder: 32767 picture files (the list's limit) and 5000 others.
#include "system/file_listing.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

const QString kPattern = QStringLiteral("*.WMF;*.jpeg;*jpg;*bmp;*.ico");

// Made once for all benchmarks: creating 37767 files takes far longer than a scan.
struct BigFolder {
    QTemporaryDir dir;
    QStringList pictureNames;
    BigFolder()
    {
        const char *kinds[] = {"IMG_%05d.JPG", "DSC%04d.jpg", "写真%d.jpeg", "scan %d.bmp", "icon%03d.ico",
                               "clip_%d.wmf", "photo%djpg"};
        for (int i = 0; i < 32767; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, kinds[i % 7], i);
            pictureNames << QString::fromUtf8(name);
        }
        QStringList all = pictureNames;
        for (int i = 0; i < 5000; ++i)
            all << (i % 2 ? QStringLiteral("note%1.txt") : QStringLiteral("anim%1.gif")).arg(i);
        for (const QString &n : all) {
            const QByteArray path = QFile::encodeName(dir.path() + u'/' + n);
            if (FILE *f = std::fopen(path.constData(), "w"))
                std::fclose(f);
        }
    }
};

BigFolder &folder()
{
    static BigFolder f;
    return f;
}

void BM_ScanAndSort(benchmark::State &state)
{
    const pel::FilePattern pattern(kPattern);
    const QString path = folder().dir.path();
    int listed = 0;
    for (auto _ : state) {
        const pel::ScanResult r = pel::scanFolder(path, pattern).value;
        listed = int(r.names.size());
        benchmark::DoNotOptimize(r.names.data());
    }
    state.counters["listed"] = listed;
}
BENCHMARK(BM_ScanAndSort)->Unit(benchmark::kMillisecond);

void BM_NaturalSortOnly(benchmark::State &state)
{
    QStringList names = folder().pictureNames;
    std::shuffle(names.begin(), names.end(), std::mt19937(1));
    for (auto _ : state) {
        QStringList copy = names;
        pel::naturalSort(copy);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_NaturalSortOnly)->Unit(benchmark::kMillisecond);

// For comparison: what the straightforward Qt calls cost on the same folder.
void BM_QDirEntryList(benchmark::State &state)
{
    const QStringList filters = kPattern.split(u';');
    const QString path = folder().dir.path();
    for (auto _ : state) {
        const QStringList names = QDir(path).entryList(filters, QDir::Files, QDir::NoSort);
        benchmark::DoNotOptimize(names.data());
    }
}
BENCHMARK(BM_QDirEntryList)->Unit(benchmark::kMillisecond);

void BM_CollatorCompareInSort(benchmark::State &state)
{
    QStringList names = folder().pictureNames;
    std::shuffle(names.begin(), names.end(), std::mt19937(1));
    QCollator collator(QLocale(QLocale::Japanese, QLocale::Japan));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    for (auto _ : state) {
        QStringList copy = names;
        std::sort(copy.begin(), copy.end(), collator);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_CollatorCompareInSort)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
