// The loader's colour conversions against Little CMS's own, made here in the test: a
// test pattern put into another space by lcms must come back as lcms converts it,
// within 1 % RMS, whatever declared the space (an embedded profile, a built-in space,
// a BMP header, PNG chunks).
#include "picture/colour.h"
#include "picture/colour_reference.h"
#include "picture/colour_sources.h"

#include <QBuffer>
#include <QColorSpace>
#include <QThread>
#include <QtTest>

#include <atomic>
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

// A V4 BMP header with Adobe RGB's colourants (FXPT2DOT30) and gamma 2.2 (16.16).
SourceProfile calibratedBmp(const QByteArray &adobe)
{
    const LcmsProfile p = lcmsProfile(adobe);
    qint32 endpoints[9] = {};
    int i = 0;
    for (cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        const auto *xyz = static_cast<const cmsCIEXYZ *>(cmsReadTag(p.get(), tag));
        for (double v : {xyz->X, xyz->Y, xyz->Z})
            endpoints[i++] = qint32(std::lround(v * (1 << 30)));
    }
    const QByteArray h = bmpHeader(108, 0, endpoints, 0x00023333);
    return bmpColourSpace(reinterpret_cast<const uchar *>(h.constData()), std::size_t(h.size())).profile;
}

// What Qt's PNG writer embeds for a picture in `icc`.
QByteArray pngFromQt(const QByteArray &icc)
{
    QImage img(1, 1, QImage::Format_RGB32);
    img.setColorSpace(QColorSpace::fromIccProfile(icc));
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "PNG");
    return file;
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
        row("PNG iCCP written by Qt", kAdobe, Pixels::Rgb, pngSource(pngFromQt(adobe)));
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
