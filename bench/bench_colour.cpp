// What colour management costs: the loader's render of a photo without a profile and
// of the same photo with an Adobe RGB profile embedded (APP2), which render() converts
// to the display (sRGB), at the sizes the windows ask for, on one core and on both (the
// program's workers); the conversion alone up to 24 MP; a transform made the first time.
//
//   bench_colour [Google Benchmark flags]     PEL_BENCH_DIR keeps the made photos
//
// The Adobe RGB profile is colord-data's (/usr/share/color/icc/colord/AdobeRGB1998.icc).
#include "photo.h"
#include "picture/colour.h"
#include "picture/decode_cache.h"
#include "picture/picture.h"
#include "system/display_profile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace colour = pel::picture::colour;

namespace {

QString g_dir;
QByteArray g_adobeIcc;
colour::SourceProfile g_adobe;

// The photo, and with `profile` the same file with the Adobe RGB profile in an APP2
// segment after its APP0 (the pixels are the same bytes).
QString photo(int width, int height, bool profile)
{
    const QString plain = QStringLiteral("%1/colour_%2x%3.jpg").arg(g_dir).arg(width).arg(height);
    if (!QFileInfo::exists(plain))
        bench::writePhotoJpeg(plain, width, height);
    if (!profile)
        return plain;
    const QString tagged = QStringLiteral("%1/colour_%2x%3_adobe.jpg").arg(g_dir).arg(width).arg(height);
    if (QFileInfo::exists(tagged))
        return tagged;
    QFile in(plain), out(tagged);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return {};
    QByteArray bytes = in.readAll();
    qsizetype at = 2;  // after SOI, and after APP0 when there is one
    if (bytes.size() > 6 && uchar(bytes[2]) == 0xff && uchar(bytes[3]) == 0xe0)
        at += 2 + (uchar(bytes[4]) << 8 | uchar(bytes[5]));
    const QByteArray payload = QByteArray("ICC_PROFILE", 12) + char(1) + char(1) + g_adobeIcc;
    const qsizetype length = payload.size() + 2;
    bytes.insert(at, QByteArray("\xff\xe2", 2) + char(length >> 8) + char(length & 0xff) + payload);
    out.write(bytes);
    return tagged;
}

enum Cores { One = 1, Both = 2 };

void useCores(int cores)
{
    if (cores == One)
        colour::setRunner({});
    else
        pel::display_profile::start();  // the program's own runner, on the workers
}

// render(target) of a fresh PictureFile of the photo, with its Adobe RGB profile (converted
// inside render) when `convert`.
void renderPhoto(benchmark::State &state, int width, int height, QSize target, bool convert, int cores)
{
    const QString path = photo(width, height, convert);
    useCores(cores);
    for (auto _ : state) {
        // Every render decodes, as the first showing of a photo does.
        state.PauseTiming();
        pel::picture::DecodeCache::shared().clear();
        state.ResumeTiming();
        const auto pic = pel::PictureFile::open(QFile::encodeName(path), 15.0);
        const QImage img = pic ? pic->render(target) : QImage();
        if (img.isNull())
            state.SkipWithError("no picture");
        benchmark::DoNotOptimize(img);
    }
}

// The conversion alone, on a copy of a picture of `size` (the copy is not timed).
void convertOnly(benchmark::State &state, QSize size, bool profile, int cores)
{
    QImage source(size, QImage::Format_RGB32);
    source.fill(0xff4080c0u);
    useCores(cores);
    const colour::SourceProfile from = profile ? g_adobe : colour::SourceProfile();
    QImage img;
    for (auto _ : state) {
        state.PauseTiming();
        img = source.copy();  // the previous one is freed here too
        state.ResumeTiming();
        colour::apply(img, from);
        benchmark::DoNotOptimize(img);
    }
    state.SetItemsProcessed(state.iterations() * size.width() * size.height());
}

// The first picture with a profile: the transform is made (the cache is emptied each time).
void firstTransform(benchmark::State &state)
{
    QImage img(1, 1, QImage::Format_RGB32);
    for (auto _ : state) {
        colour::setDisplayProfile({});
        colour::apply(img, g_adobe);
    }
}

benchmark::internal::Benchmark *add(const std::string &name, std::function<void(benchmark::State &)> run)
{
    return benchmark::RegisterBenchmark(name.c_str(), std::move(run))->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QFile profile(QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc"));
    if (!profile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "colord-data's AdobeRGB1998.icc is needed\n");
        return 1;
    }
    g_adobeIcc = profile.readAll();
    g_adobe = colour::SourceProfile::fromIcc(g_adobeIcc);
    QTemporaryDir tmp;
    g_dir = qEnvironmentVariable("PEL_BENCH_DIR", tmp.path());

    // The preview box; the viewer's reduced display of a 24 MP photo on a 1920 x 1080
    // screen (70 % of it); the largest picture the viewer shows at actual size.
    const QSize preview(267, 200), viewer(1134, 756);
    for (bool convert : {false, true}) {
        const std::string what = convert ? "adobe" : "none";
        add("preview_24mp/" + what, [=](benchmark::State &s) { renderPhoto(s, 6000, 4000, preview, convert, Both); });
        for (int cores : {One, Both}) {
            const std::string c = cores == One ? "/1core" : "/2cores";
            if (!convert && cores == One)
                continue;  // nothing to split
            add("viewer_24mp/" + what + c, [=](benchmark::State &s) { renderPhoto(s, 6000, 4000, viewer, convert, cores); });
            add("actual_2184x1456/" + what + c,
                [=](benchmark::State &s) { renderPhoto(s, 2184, 1456, QSize(2184, 1456), convert, cores); });
        }
    }
    for (QSize size : {preview, viewer, QSize(2184, 1456), QSize(6000, 4000)}) {
        const std::string px = std::to_string(size.width()) + "x" + std::to_string(size.height());
        // A fixed count: the untimed copy before each would otherwise run without end
        // while the timed part (nothing, without a profile) adds up to the minimum time.
        const int count = std::clamp(int(4'000'000 / (size.width() * size.height())), 3, 100);
        add("convert/none/" + px, [=](benchmark::State &s) { convertOnly(s, size, false, Both); })->Iterations(count);
        for (int cores : {One, Both})
            add("convert/adobe/" + px + (cores == One ? "/1core" : "/2cores"),
                [=](benchmark::State &s) { convertOnly(s, size, true, cores); })->Iterations(count);
    }
    add("first_transform/adobe_to_srgb", firstTransform);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
