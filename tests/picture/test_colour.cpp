// The loader's colour conversions against Little CMS's own, made here in the test: a
// test pattern put into another space by lcms must come back as lcms converts it,
// within 1 % RMS, whatever declared the space (an embedded profile, a built-in space,
// a BMP header, PNG chunks); and pictures the loader renders from files that declare
// their colours, at their natural size and reduced, for the display and for sRGB.
#include "picture/colour.h"
#include "picture/colour_files.h"
#include "picture/colour_sources.h"
#include "picture/decode_cache.h"
#include "picture/picture.h"

#include <QBuffer>
#include <QColorSpace>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace pel::picture::colour;
using namespace pel::test;
Q_DECLARE_METATYPE(SourceProfile)

namespace {

constexpr double kTolerance = 1.0;  // percent RMS
const QString kAdobe = QStringLiteral("colord/AdobeRGB1998.icc");
const QString kPress = QStringLiteral("ghostscript/default_cmyk.icc");

// Puts the loader back as a test found it.
struct Restore {
    ~Restore()
    {
        setDisplayProfile({});
        setRunner({});
        setStandardCmykPaths(defaultStandardCmykPaths());
    }
};

// Adobe RGB's colourants as a BMP's calibrated header holds them (FXPT2DOT30), and its
// gamma 2.2 (16.16).
struct BmpEndpoints {
    qint32 xyz[9] = {};
    static constexpr quint32 kGamma = 0x00023333;
};
BmpEndpoints adobeEndpoints(const QByteArray &adobe)
{
    const LcmsProfile p = lcmsProfile(adobe);
    BmpEndpoints e;
    int i = 0;
    for (cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        const auto *xyz = static_cast<const cmsCIEXYZ *>(cmsReadTag(p.get(), tag));
        for (double v : {xyz->X, xyz->Y, xyz->Z})
            e.xyz[i++] = qint32(std::lround(v * (1 << 30)));
    }
    return e;
}

// A V4 BMP header with Adobe RGB's end points.
SourceProfile calibratedBmp(const QByteArray &adobe)
{
    const QByteArray h = bmpHeader(108, 0, adobeEndpoints(adobe).xyz, BmpEndpoints::kGamma);
    return bmpColourSpace(reinterpret_cast<const uchar *>(h.constData()), std::size_t(h.size())).profile;
}

cmsUInt32Number lcmsFormat(Pixels pixels)
{
    switch (pixels) {
    case Pixels::Rgb: return TYPE_BGRA_8;
    case Pixels::Gray: return kGrayInBgra;
    case Pixels::Cmyk: return TYPE_CMYK_8;
    case Pixels::AdobeCmyk: return TYPE_CMYK_8_REV;
    }
    return TYPE_BGRA_8;
}

// The loader's test pattern as a file stores it, made by lcms in the profile `space`
// ("" for sRGB): RGB32, or inks when `pixels` says so. Null when the profile is missing.
const QSize kStored(384, 256), kReduced(45, 30);
QImage storedIn(const QString &space, Pixels pixels)
{
    const QByteArray icc = space.isEmpty() ? QByteArray() : profileNamed(space);
    if (!space.isEmpty() && icc.isEmpty())
        return {};
    return lcmsConvert(referencePicture(kStored.width(), kStored.height()), lcmsProfile({}), TYPE_BGRA_8, lcmsProfile(icc),
                       lcmsFormat(pixels));
}

// `stored` smoothly scaled to `size`; ink bytes are scaled as four channels alike.
QImage storedAt(QImage stored, QSize size, Pixels pixels)
{
    const bool inks = pixels == Pixels::Cmyk || pixels == Pixels::AdobeCmyk;
    if (inks)
        stored.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    QImage scaled = stored.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (inks)
        scaled.reinterpretAsFormat(QImage::Format_RGB32);
    return scaled;
}

std::shared_ptr<const pel::PictureFile> openBytes(const QTemporaryDir &dir, const QByteArray &bytes, QString *error)
{
    static int count = 0;
    QFile f(dir.filePath(QStringLiteral("picture%1").arg(++count)));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return nullptr;
    f.close();
    return pel::PictureFile::open(QFile::encodeName(f.fileName()), 15.0, error);
}

}  // namespace

class TestColour : public QObject {
    Q_OBJECT

private slots:
    void convertsAsLcms_data()
    {
        QTest::addColumn<QString>("space");  // the picture is made in this profile
        QTest::addColumn<int>("pixels");
        QTest::addColumn<SourceProfile>("source");  // what the loader is told
        QTest::addColumn<bool>("used");
        const QByteArray adobe = profileNamed(kAdobe), press = profileNamed(kPress), p3 = profileNamed("p3");
        auto row = [](const char *name, const QString &space, Pixels pixels, const SourceProfile &source, bool used = true) {
            QTest::newRow(name) << space << int(pixels) << source << used;
        };
        row("Adobe RGB embedded, colord v4", kAdobe, Pixels::Rgb, SourceProfile::fromIcc(adobe));
        const QString freeAdobe = QStringLiteral("compatibleWithAdobeRGB1998.icc"), proPhoto = QStringLiteral("colord/ProPhotoRGB.icc");
        row("Adobe RGB compatible embedded, icc-profiles-free v2", freeAdobe, Pixels::Rgb, SourceProfile::fromIcc(profileNamed(freeAdobe)));
        row("ProPhoto embedded", proPhoto, Pixels::Rgb, SourceProfile::fromIcc(profileNamed(proPhoto)));
        row("Display P3 embedded, built by lcms here", "p3", Pixels::Rgb, SourceProfile::fromIcc(p3));
        row("built-in Adobe RGB (EXIF's R03)", kAdobe, Pixels::Rgb, SourceProfile::builtin(Builtin::AdobeRgb));
        row("built-in ProPhoto", proPhoto, Pixels::Rgb, SourceProfile::builtin(Builtin::ProPhoto));
        row("built-in Display P3", "p3", Pixels::Rgb, SourceProfile::builtin(Builtin::DisplayP3));
        row("BMP V4 calibrated with Adobe RGB's end points", kAdobe, Pixels::Rgb, adobe.isEmpty() ? SourceProfile() : calibratedBmp(adobe));
        row("PNG cHRM and gAMA of Adobe RGB", kAdobe, Pixels::Rgb, pngSource(png(pngChunk("gAMA", be32(45470)) + adobeChrm())));
        row("PNG iCCP written by Qt", kAdobe, Pixels::Rgb, pngSource(pngFile(QImage(1, 1, QImage::Format_RGB32), adobe)));
        row("grey through Gray.icc", "Gray.icc", Pixels::Gray, SourceProfile::fromIcc(profileNamed("Gray.icc")));
        row("CMYK embedded, Adobe's inverted", kPress, Pixels::AdobeCmyk, SourceProfile::fromIcc(press));
        row("CMYK embedded, plain", kPress, Pixels::Cmyk, SourceProfile::fromIcc(press));
        row("CMYK without a profile: the press profile", kPress, Pixels::AdobeCmyk, SourceProfile());
        row("CMYK with an RGB profile: the press profile", kPress, Pixels::AdobeCmyk, SourceProfile::fromIcc(adobe), false);
    }
    void convertsAsLcms()
    {
        QFETCH(QString, space);
        QFETCH(int, pixels);
        QFETCH(SourceProfile, source);
        QFETCH(bool, used);
        const QByteArray icc = profileNamed(space);
        if (icc.isEmpty())
            QSKIP(qPrintable(QStringLiteral("not installed: %1").arg(space)));
        const Pixels layout = Pixels(pixels);
        const LcmsProfile picture = lcmsProfile(icc), srgb = lcmsProfile({});
        QImage encoded = referencePicture();
        if (layout == Pixels::Gray)
            encoded = encoded.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
        else
            encoded = lcmsConvert(encoded, srgb, TYPE_BGRA_8, picture, lcmsFormat(layout));
        const QImage expected = lcmsConvert(encoded, picture, lcmsFormat(layout), srgb);
        QImage shown = encoded;
        QString why;
        QCOMPARE(apply(shown, source, layout, Target::Display, &why), used);
        QCOMPARE(why.isEmpty(), used);
        QCOMPARE(shown.format(), QImage::Format_RGB32);
        QVERIFY2(rmsPercent(shown, expected) <= kTolerance, qPrintable(QString::number(rmsPercent(shown, expected))));
        QVERIFY(rmsPercent(shown, encoded) > kTolerance);  // the space differs from sRGB
    }

    // Alpha is kept exactly, and premultiplied pixels convert as their colours do.
    void alphaKept()
    {
        const QByteArray icc = profileNamed(kAdobe);
        if (icc.isEmpty())
            QSKIP("colord-data is not installed");
        QImage straight = referencePicture().convertToFormat(QImage::Format_ARGB32), opaque = referencePicture();
        for (int y = 0; y < straight.height(); ++y)
            for (int x = 0; x < straight.width(); ++x)
                straight.setPixel(x, y, (straight.pixel(x, y) & 0xffffff) | uint(64 + x * 2) << 24);
        QImage premultiplied = straight.convertToFormat(QImage::Format_ARGB32_Premultiplied), converted = straight;
        const SourceProfile source = SourceProfile::fromIcc(icc);
        QVERIFY(apply(converted, source) && apply(premultiplied, source) && apply(opaque, source));
        QCOMPARE(premultiplied.format(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < straight.height(); ++y)
            for (int x = 0; x < straight.width(); ++x)
                QCOMPARE(converted.pixel(x, y), (opaque.pixel(x, y) & 0xffffff) | (straight.pixel(x, y) & 0xff000000));
        QVERIFY(rmsPercent(premultiplied.convertToFormat(QImage::Format_ARGB32), opaque) <= kTolerance);
    }

    void displayTarget_data()
    {
        QTest::addColumn<QString>("profile");  // empty: none published
        QTest::addColumn<bool>("usable");
        QTest::addColumn<bool>("srgb");  // pictures without a profile stay as they are
        QTest::newRow("none") << QString() << true << true;
        QTest::newRow("colord's sRGB, v4") << QStringLiteral("colord/sRGB.icc") << true << true;
        QTest::newRow("Apple RGB") << QStringLiteral("colord/AppleRGB.icc") << true << false;
        QTest::newRow("Display P3") << QStringLiteral("p3") << true << false;
        QTest::newRow("a CMYK press profile") << kPress << false << true;
        QTest::newRow("not a profile") << QStringLiteral("garbage") << false << true;
    }
    void displayTarget()
    {
        QFETCH(QString, profile);
        QFETCH(bool, usable);
        QFETCH(bool, srgb);
        const Restore restore;
        const QByteArray icc = profile.isEmpty() ? QByteArray() : profile == "garbage" ? QByteArray(3000, 'x') : profileNamed(profile);
        if (!profile.isEmpty() && icc.isEmpty())
            QSKIP("profile not installed");
        QString why;
        QCOMPARE(setDisplayProfile(icc, &why), usable);
        QCOMPARE(why.isEmpty(), usable);
        QCOMPARE(displayIsSrgb(), srgb);
        QCOMPARE(displayProfile(), usable ? icc : QByteArray());
        const QImage pattern = referencePicture();
        QImage shown = pattern, exported = pattern;
        QVERIFY(apply(shown, SourceProfile()) && apply(exported, SourceProfile(), Pixels::Rgb, Target::Srgb));
        QCOMPARE(exported, pattern);
        const QImage expected = srgb ? pattern : lcmsConvert(pattern, lcmsProfile({}), TYPE_BGRA_8, lcmsProfile(icc));
        QVERIFY2(rmsPercent(shown, expected) <= (srgb ? 0.4 : kTolerance), qPrintable(QString::number(rmsPercent(shown, expected))));
        setDisplayProfile({});  // nothing made for the previous display is used after it
        QImage again = pattern;
        QVERIFY(apply(again, SourceProfile()));
        QCOMPARE(again, pattern);
    }

    void nothingSpentOnSrgb_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::newRow("no profile") << QString();
        QTest::newRow("sRGB embedded, icc-profiles-free v2") << QStringLiteral("sRGB.icc");
        QTest::newRow("sRGB embedded, colord v4") << QStringLiteral("colord/sRGB.icc");
    }
    // On an sRGB display an sRGB picture is not even copied.
    void nothingSpentOnSrgb()
    {
        QFETCH(QString, profile);
        const QByteArray icc = profile.isEmpty() ? QByteArray() : profileNamed(profile);
        if (!profile.isEmpty() && icc.isEmpty())
            QSKIP("profile not installed");
        const QImage pattern = referencePicture();
        QImage shown = pattern;  // shares the pixels until written to
        QVERIFY(apply(shown, SourceProfile::fromIcc(icc)));
        QCOMPARE(shown.constBits(), pattern.constBits());
    }

    // Without a press profile installed, each ink prints as its own colour.
    void cmykWithoutPressProfile()
    {
        const Restore restore;
        setStandardCmykPaths({QStringLiteral("/nonexistent/cmyk.icc")});
        QCOMPARE(standardCmykSource(), QStringLiteral("plain ink colours"));
        const quint32 inks[] = {0x00000000, 0x000000ff, 0x0000ff00, 0x00ff0000, 0xff000000, 0x0000ffff, 0x00000080};  // K Y M C bytes, high to low
        const QRgb colours[] = {0xffffffff, 0xff00ffff, 0xffff00ff, 0xffffff00, 0xff000000, 0xff0000ff, 0xff7fffff};
        QImage img(int(std::size(inks)), 1, QImage::Format_RGB32);
        std::copy(std::begin(inks), std::end(inks), reinterpret_cast<quint32 *>(img.scanLine(0)));
        QVERIFY(apply(img, SourceProfile(), Pixels::Cmyk));
        for (int i = 0; i < img.width(); ++i) {
            const QRgb got = img.pixel(i, 0), want = colours[i];
            QVERIFY2(std::abs(qRed(got) - qRed(want)) <= 1 && std::abs(qGreen(got) - qGreen(want)) <= 1
                         && std::abs(qBlue(got) - qBlue(want)) <= 1 && qAlpha(got) == 255,
                     qPrintable(QString::number(got, 16)));
        }
    }

    // A file's colours as the loader renders it, against lcms converting what the file
    // stores (scaled first, as the loader converts at the size shown), for a display in
    // Display P3 and for sRGB. `shownFrom` is the space lcms converts from ("" sRGB).
    void loaderConvertsAsLcms_data()
    {
        QTest::addColumn<QByteArray>("file");  // empty: a profile it needs is not installed
        QTest::addColumn<QImage>("stored");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<QString>("shownFrom");
        const QString proPhoto = QStringLiteral("colord/ProPhotoRGB.icc"), freeAdobe = QStringLiteral("compatibleWithAdobeRGB1998.icc");
        const QByteArray adobe = profileNamed(kAdobe), press = profileNamed(kPress);
        auto row = [](const char *name, const QImage &stored, Pixels pixels, const QString &shownFrom, const QByteArray &file) {
            const bool made = !stored.isNull() && (shownFrom.isEmpty() || !profileNamed(shownFrom).isEmpty());
            QTest::newRow(name) << (made ? file : QByteArray()) << stored << int(pixels) << shownFrom;
        };
        auto jpeg = [](const QImage &stored, const QList<Segment> &segments, bool inks = false) {
            return stored.isNull() ? QByteArray() : jpegFile(stored, inks, segments);
        };
        const QImage inAdobe = storedIn(kAdobe, Pixels::Rgb), inProPhoto = storedIn(proPhoto, Pixels::Rgb), inP3 = storedIn("p3", Pixels::Rgb);
        const QImage inPress = storedIn(kPress, Pixels::AdobeCmyk), inFreeAdobe = storedIn(freeAdobe, Pixels::Rgb);
        row("JPEG, Adobe RGB (v4) in two APP2 chunks, second first", inAdobe, Pixels::Rgb, kAdobe,
            jpeg(inAdobe, iccSegments(adobe, 2, {2, 1})));
        row("JPEG, Adobe RGB compatible (v2)", inFreeAdobe, Pixels::Rgb, freeAdobe,
            jpeg(inFreeAdobe, iccSegments(profileNamed(freeAdobe), 1, {1})));
        row("JPEG, ProPhoto", inProPhoto, Pixels::Rgb, proPhoto, jpeg(inProPhoto, iccSegments(profileNamed(proPhoto), 1, {1})));
        row("JPEG, Display P3 (v4, made by lcms) in three chunks", inP3, Pixels::Rgb, "p3",
            jpeg(inP3, iccSegments(profileNamed("p3"), 3, {3, 1, 2})));
        row("JPEG, EXIF's uncalibrated R03 without a profile", inAdobe, Pixels::Rgb, kAdobe, jpeg(inAdobe, {exifAdobeRgb()}));
        row("JPEG, Adobe CMYK with the press profile", inPress, Pixels::AdobeCmyk, kPress, jpeg(inPress, iccSegments(press), true));
        row("JPEG, Adobe CMYK without a profile", inPress, Pixels::AdobeCmyk, kPress, jpeg(inPress, {}, true));
        row("JPEG, a profile that is not one", inAdobe, Pixels::Rgb, "", jpeg(inAdobe, iccSegments(QByteArray(3000, 'x'), 2, {1, 2})));
        row("JPEG, a chunk of the profile missing", inAdobe, Pixels::Rgb, "", jpeg(inAdobe, iccSegments(adobe, 2, {2})));
        const BmpEndpoints ends = adobe.isEmpty() ? BmpEndpoints() : adobeEndpoints(adobe);
        row("BMP V4, calibrated with Adobe RGB's end points", inAdobe, Pixels::Rgb, kAdobe,
            bmpFile(inAdobe, 108, 0, ends.xyz, BmpEndpoints::kGamma));
        row("BMP V5, ProPhoto embedded", inProPhoto, Pixels::Rgb, proPhoto, bmpFile(inProPhoto, 124, 0x4D424544, nullptr, 0, profileNamed(proPhoto)));
        row("BMP V5, a profile cut short", inProPhoto, Pixels::Rgb, "", bmpFile(inProPhoto, 124, 0x4D424544, nullptr, 0, profileNamed(proPhoto).left(300)));
        row("BMP V5, a linked profile (never opened)", inAdobe, Pixels::Rgb, "", bmpFile(inAdobe, 124, 0x4C494E4B, nullptr, 0, "/etc/passwd"));
        row("ICO, a PNG entry with iCCP", inAdobe, Pixels::Rgb, kAdobe, icoWithPng(pngFile(inAdobe, adobe), kStored));
        row("PNG through Qt's reader, iCCP", inProPhoto, Pixels::Rgb, proPhoto, pngFile(inProPhoto, profileNamed(proPhoto)));
    }
    void loaderConvertsAsLcms()
    {
        QFETCH(QByteArray, file);
        QFETCH(QImage, stored);
        QFETCH(int, pixels);
        QFETCH(QString, shownFrom);
        if (file.isEmpty())
            QSKIP("a profile the file needs is not installed");
        const Restore restore;
        const QByteArray p3 = profileNamed("p3");
        QVERIFY(setDisplayProfile(p3));
        QTemporaryDir dir;
        QString error;
        const auto picture = openBytes(dir, file, &error);
        QVERIFY2(picture, qPrintable(error));
        const LcmsProfile from = lcmsProfile(shownFrom.isEmpty() ? QByteArray() : profileNamed(shownFrom)), display = lcmsProfile(p3), srgb = lcmsProfile({});
        for (const QSize size : {kStored, kReduced})
            for (const Target to : {Target::Display, Target::Srgb}) {
                const QImage shown = picture->render(size == kStored ? QSize() : size, &error, to);
                const QImage at = storedAt(stored, size, Pixels(pixels));
                const QImage expected = lcmsConvert(at, from, lcmsFormat(Pixels(pixels)), to == Target::Display ? display : srgb);
                const double rms = rmsPercent(shown, expected);
                const QString where = QStringLiteral("%1x%2, %3: %4 %").arg(size.width()).arg(size.height())
                                          .arg(to == Target::Display ? "display" : "sRGB").arg(rms);
                QVERIFY2(rms <= kTolerance, qPrintable(where + " " + error));
                QCOMPARE(shown.format(), QImage::Format_RGB32);
                if (!shownFrom.isEmpty() && Pixels(pixels) == Pixels::Rgb && to == Target::Srgb)
                    QVERIFY2(rmsPercent(shown, at) > kTolerance, qPrintable(where));  // the space differs from sRGB
            }
    }

    // The decode cache keeps a JPEG's decode before its colours are converted: a kept
    // one gives the very pixels a fresh decode gives, for either target.
    void decodeCacheHitMatchesMiss()
    {
        const QByteArray adobe = profileNamed(kAdobe), press = profileNamed(kPress);
        if (adobe.isEmpty() || press.isEmpty())
            QSKIP("colord-data or libgs-common is not installed");
        const Restore restore;
        QVERIFY(setDisplayProfile(profileNamed("p3")));
        QTemporaryDir dir;
        const QByteArray files[] = {jpegFile(storedIn(kAdobe, Pixels::Rgb), false, iccSegments(adobe, 2, {1, 2})),
                                    jpegFile(storedIn(kPress, Pixels::AdobeCmyk), true, iccSegments(press))};
        std::shared_ptr<const pel::PictureFile> pictures[2];
        for (int i = 0; i < 2; ++i)
            QVERIFY(pictures[i] = openBytes(dir, files[i], nullptr));
        // A decode is kept only for a file whose last change is a few seconds old.
        std::this_thread::sleep_for(std::chrono::nanoseconds(pel::FileStamp::kSettleNs + 200'000'000));
        auto &cache = pel::picture::DecodeCache::shared();
        for (const auto &picture : pictures) {
            QImage fresh[2], kept[2];
            for (const Target to : {Target::Display, Target::Srgb}) {
                cache.clear();
                fresh[int(to)] = picture->render(kReduced, nullptr, to);
                QVERIFY(cache.bytes() > 0);
                kept[int(to)] = picture->render(kReduced, nullptr, to);
                QCOMPARE(kept[int(to)], fresh[int(to)]);
            }
            // The decode kept for one target serves the other as a fresh decode does.
            QCOMPARE(picture->render(kReduced, nullptr, Target::Display), fresh[int(Target::Display)]);
            QVERIFY(rmsPercent(fresh[0], fresh[1]) > kTolerance);
        }
        cache.clear();
    }

    // Bands run through the runner give exactly what one thread gives; a preview is not split.
    void bandsMatchOneThread()
    {
        const QByteArray icc = profileNamed(kAdobe);
        if (icc.isEmpty())
            QSKIP("colord-data is not installed");
        const Restore restore;
        const QImage large = lcmsConvert(referencePicture(1200, 900), lcmsProfile({}), TYPE_BGRA_8, lcmsProfile(icc));
        QImage alone = large, banded = large, preview = large.copy(0, 0, 267, 200);
        QVERIFY(apply(alone, SourceProfile::fromIcc(icc)));
        std::atomic<int> jobs{0};
        setRunner([&jobs](int count, const std::function<void(int)> &job) {
            std::vector<std::thread> threads;
            for (int i = 0; i < count; ++i)
                threads.emplace_back([&job, &jobs, i] { job(i); ++jobs; });
            for (auto &t : threads)
                t.join();
        });
        QVERIFY(apply(banded, SourceProfile::fromIcc(icc)));
        QCOMPARE(banded, alone);
        QCOMPARE(jobs.load() >= 2, QThread::idealThreadCount() >= 2);
        jobs = 0;
        QVERIFY(apply(preview, SourceProfile::fromIcc(icc)));
        QCOMPARE(jobs.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestColour)
#include "test_colour.moc"
