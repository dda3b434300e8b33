// WMF speed: parsing and rendering a large generated metafile (thousands of polygons
// and text records) at the preview size, and the corpus' largest real file.
#include "picture/wmf.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QtEndian>
#include <benchmark/benchmark.h>

#include <cmath>

namespace {

void put16(QByteArray &b, int v)
{
    b += char(v & 0xFF);
    b += char((v >> 8) & 0xFF);
}
void put32(QByteArray &b, quint32 v)
{
    put16(b, int(v & 0xFFFF));
    put16(b, int(v >> 16));
}
void record(QByteArray &b, int func, const QList<int> &words, const QByteArray &tail = {})
{
    QByteArray params;
    for (int w : words) put16(params, w);
    params += tail;
    if (params.size() % 2) params += '\0';
    put32(b, quint32(3 + params.size() / 2));
    put16(b, func);
    b += params;
}

// `polygons` filled and outlined 12-point shapes (irregular blobs, as in clip art) with
// a new brush every 8, and `texts` text records (half TextOut, half ExtTextOut with a
// Dx array) in a few fonts, on a 20000-unit square page.
QByteArray largeMetafile(int polygons, int texts)
{
    QByteArray recs;
    record(recs, 0x020B, {0, 0});          // SetWindowOrg
    record(recs, 0x020C, {20000, 20000});  // SetWindowExt
    record(recs, 0x0102, {1});             // transparent text background
    record(recs, 0x02FA, {0, 10, 0, 0x0000, 0x0080});  // pen
    record(recs, 0x012D, {0});
    quint32 seed = 12345;
    auto rnd = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 8) % quint32(n));
    };
    for (int i = 0; i < polygons; ++i) {
        if (i % 8 == 0) {
            record(recs, 0x01F0, {1});  // DeleteObject: slot 1 is reused
            record(recs, 0x02FC, {0, rnd(256) | rnd(256) << 8, rnd(256), 0});
            record(recs, 0x012D, {1});
        }
        QList<int> pts = {12};
        const int cx = 600 + rnd(18800), cy = 600 + rnd(18800), radius = 150 + rnd(450);
        for (int k = 0; k < 12; ++k) {
            const double r = radius * (0.6 + rnd(40) / 100.0), a = k * 3.14159265 / 6;
            pts << cx + int(r * std::cos(a)) << cy + int(r * std::sin(a));
        }
        record(recs, 0x0324, pts);
    }
    const QByteArray faces[3] = {"Arial", "Times New Roman", "Courier New"};
    const QByteArray line = "Pelorinax metafile text";
    for (int i = 0; i < texts; ++i) {
        if (i % 50 == 0) {
            record(recs, 0x01F0, {2});
            QByteArray tail(8, '\0');
            tail += faces[(i / 50) % 3];
            tail += '\0';
            record(recs, 0x02FB, {-(200 + rnd(400)), 0, 0, 0, 400}, tail);
            record(recs, 0x012D, {2});
        }
        const int x = rnd(16000), y = rnd(19500);
        if (i % 2) {
            QByteArray tail = line;
            if (tail.size() % 2) tail += '\0';
            put16(tail, y);
            put16(tail, x);
            record(recs, 0x0521, {int(line.size())}, tail);
        } else {
            QByteArray tail = line;
            if (tail.size() % 2) tail += '\0';
            for (int k = 0; k < line.size(); ++k) put16(tail, 180);
            record(recs, 0x0A32, {y, x, int(line.size()), 0}, tail);
        }
    }
    record(recs, 0x0000, {});

    QByteArray out;
    put32(out, 0x9AC6CDD7);
    put16(out, 0);
    for (int v : {0, 0, 20000, 20000, 2000}) put16(out, v);
    put32(out, 0);
    quint16 sum = 0;
    for (int i = 0; i < 20; i += 2) sum ^= qFromLittleEndian<quint16>(out.constData() + i);
    put16(out, sum);
    for (int v : {1, 9, 0x300}) put16(out, v);
    put32(out, quint32(9 + recs.size() / 2));
    put16(out, 4);
    put32(out, 0);
    put16(out, 0);
    return out + recs;
}

// Args: polygons, text records.
void BM_Parse(benchmark::State &state)
{
    const QByteArray bytes = largeMetafile(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) benchmark::DoNotOptimize(pel::wmf::Document::parse(bytes));
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_Parse)->Args({2000, 1000})->Args({5000, 2000})->Unit(benchmark::kMillisecond);

// The preview: the whole picture into the 267x200 box.
void BM_Preview(benchmark::State &state)
{
    const auto doc = pel::wmf::Document::parse(largeMetafile(int(state.range(0)), int(state.range(1))));
    for (auto _ : state) benchmark::DoNotOptimize(doc->render(QSize(267, 200)));
}
BENCHMARK(BM_Preview)
    ->Args({2000, 1000})
    ->Args({5000, 2000})
    ->Args({5000, 0})
    ->Args({0, 2000})
    ->Unit(benchmark::kMillisecond);

void BM_LoadAndPreview(benchmark::State &state)
{
    const QByteArray bytes = largeMetafile(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) benchmark::DoNotOptimize(pel::wmf::Document::parse(bytes)->render(QSize(267, 200)));
}
BENCHMARK(BM_LoadAndPreview)->Args({2000, 1000})->Unit(benchmark::kMillisecond);

void BM_FullSize(benchmark::State &state)
{
    const auto doc = pel::wmf::Document::parse(largeMetafile(int(state.range(0)), int(state.range(1))));
    for (auto _ : state) benchmark::DoNotOptimize(doc->render(QSize(1440, 1440)));
}
BENCHMARK(BM_FullSize)->Args({2000, 1000})->Unit(benchmark::kMillisecond);

void BM_PreviewCorpus(benchmark::State &state)
{
    // The corpus sits next to the project: ../shared/corpus from the source root.
    QFile f(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../../shared/corpus/wmf/good/poi/60677.wmf");
    if (!f.open(QIODevice::ReadOnly)) {
        state.SkipWithError("corpus not found");
        return;
    }
    const auto doc = pel::wmf::Document::parse(f.readAll());
    for (auto _ : state) benchmark::DoNotOptimize(doc->render(QSize(267, 200)));
}
BENCHMARK(BM_PreviewCorpus)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // fonts need it
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
