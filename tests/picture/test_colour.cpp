// The loader's colour conversions against Little CMS's own, made here in the test: a
// test pattern put into a wide space by lcms must come back to what lcms makes of it,
// and to the pattern itself, within 1 % RMS.
#include "picture/colour.h"
#include "picture/colour_reference.h"

#include <QThread>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace pel::picture::colour;
using namespace pel::test;

namespace {

constexpr double kTolerance = 1.0;  // percent RMS

#define REQUIRE_PROFILE(bytes, path)                                         \
    do {                                                                     \
        if ((bytes).isEmpty())                                               \
            QSKIP(qPrintable(QStringLiteral("not installed: %1").arg(path)));\
    } while (0)

QByteArray profileNamed(const QString &name)
{
    return name == QLatin1String("p3") ? displayP3Icc() : readProfile(name);
}

// Puts the loader back as a test found it.
struct Restore {
    ~Restore()
    {
        setDisplayProfile({});
        setRunner({});
        setStandardCmykPaths(defaultStandardCmykPaths());
    }
};

}  // namespace

class TestColour : public QObject {
    Q_OBJECT

private slots:
    void embeddedProfile_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::newRow("Adobe RGB, colord, v4") << kColordAdobe;
        QTest::newRow("Adobe RGB compatible, icc-profiles-free, v2") << kFreeAdobe;
        QTest::newRow("ProPhoto RGB, colord") << kColordProPhoto;
        QTest::newRow("Display P3 built by lcms") << QStringLiteral("p3");
    }
    // The embedded profile's pixels come back as lcms converts them, and as the pattern was.
    void embeddedProfile()
    {
        QFETCH(QString, profile);
        const QByteArray icc = profileNamed(profile);
        REQUIRE_PROFILE(icc, profile);
        const LcmsProfile wide = lcmsProfile(icc), srgb(cmsCreate_sRGBProfile());
        const QImage pattern = referencePicture();
        const QImage encoded = lcmsEncode(pattern, wide.get());
        const QImage expected = lcmsConvert(encoded, wide.get(), TYPE_BGRA_8, srgb.get());
        QImage shown = encoded;
        QString why;
        QVERIFY2(apply(shown, SourceProfile::fromIcc(icc), Pixels::Rgb, Target::Display, &why), qPrintable(why));
        QCOMPARE(shown.format(), QImage::Format_RGB32);
        QVERIFY2(rmsPercent(shown, expected) <= kTolerance, qPrintable(QString::number(rmsPercent(shown, expected))));
        QVERIFY2(rmsPercent(shown, pattern) <= kTolerance, qPrintable(QString::number(rmsPercent(shown, pattern))));
        QVERIFY(rmsPercent(encoded, pattern) > 2 * kTolerance);  // the space differs from sRGB
    }

    void builtinMatchesPublishedProfile_data()
    {
        QTest::addColumn<int>("space");
        QTest::addColumn<QString>("profile");
        QTest::newRow("Adobe RGB") << int(Builtin::AdobeRgb) << kColordAdobe;
        QTest::newRow("ProPhoto") << int(Builtin::ProPhoto) << kColordProPhoto;
        QTest::newRow("Display P3") << int(Builtin::DisplayP3) << QStringLiteral("p3");
    }
    // A picture in the published space, read through the loader's own built-in space.
    void builtinMatchesPublishedProfile()
    {
        QFETCH(int, space);
        QFETCH(QString, profile);
        const QByteArray icc = profileNamed(profile);
        REQUIRE_PROFILE(icc, profile);
        const LcmsProfile published = lcmsProfile(icc), srgb(cmsCreate_sRGBProfile());
        const QImage encoded = lcmsEncode(referencePicture(), published.get());
        const QImage expected = lcmsConvert(encoded, published.get(), TYPE_BGRA_8, srgb.get());
        QImage shown = encoded;
        QVERIFY(apply(shown, SourceProfile::builtin(Builtin(space))));
        QVERIFY2(rmsPercent(shown, expected) <= kTolerance, qPrintable(QString::number(rmsPercent(shown, expected))));
        QVERIFY(!builtinIcc(Builtin(space)).isEmpty());
    }

    // Alpha is kept exactly, and premultiplied pixels convert as their colours do.
    void alphaKept()
    {
        const QByteArray icc = readProfile(kColordAdobe);
        REQUIRE_PROFILE(icc, kColordAdobe);
        const LcmsProfile adobe = lcmsProfile(icc);
        QImage straight = lcmsEncode(referencePicture(), adobe.get()).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < straight.height(); ++y)
            for (int x = 0; x < straight.width(); ++x)
                straight.setPixel(x, y, (straight.pixel(x, y) & 0xffffff) | uint(64 + (x * 191) / straight.width()) << 24);
        QImage premultiplied = straight.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QImage opaque = straight.copy();
        for (int y = 0; y < opaque.height(); ++y)
            for (int x = 0; x < opaque.width(); ++x)
                opaque.setPixel(x, y, opaque.pixel(x, y) | 0xff000000u);
        opaque.reinterpretAsFormat(QImage::Format_RGB32);
        const SourceProfile source = SourceProfile::fromIcc(icc);
        QImage converted = straight;
        QVERIFY(apply(converted, source) && apply(premultiplied, source) && apply(opaque, source));
        QCOMPARE(converted.format(), QImage::Format_ARGB32);
        QCOMPARE(premultiplied.format(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < straight.height(); ++y)
            for (int x = 0; x < straight.width(); ++x)
                QCOMPARE(qAlpha(converted.pixel(x, y)), qAlpha(straight.pixel(x, y)));
        QCOMPARE(rmsPercent(converted, opaque), 0.0);  // pixel() gives ARGB32's colours as stored
        const double premultipliedRms = rmsPercent(premultiplied.convertToFormat(QImage::Format_ARGB32), opaque);
        QVERIFY2(premultipliedRms <= kTolerance, qPrintable(QString::number(premultipliedRms)));
    }

    void displayTarget_data()
    {
        QTest::addColumn<QString>("profile");  // empty: no profile published
        QTest::addColumn<bool>("usable");
        QTest::addColumn<bool>("srgb");        // pictures without a profile stay as they are
        QTest::newRow("none") << QString() << true << true;
        QTest::newRow("colord's sRGB, v4") << kColordSrgb << true << true;
        QTest::newRow("Apple RGB") << kColordApple << true << false;
        QTest::newRow("Display P3") << QStringLiteral("p3") << true << false;
        QTest::newRow("a CMYK press profile") << kPressCmyk << false << true;
        QTest::newRow("not a profile") << QStringLiteral("garbage") << false << true;
    }
    void displayTarget()
    {
        QFETCH(QString, profile);
        QFETCH(bool, usable);
        QFETCH(bool, srgb);
        const Restore restore;
        const QByteArray icc = profile.isEmpty()                   ? QByteArray()
                               : profile == QLatin1String("garbage") ? QByteArray(3000, 'x')
                                                                     : profileNamed(profile);
        if (!profile.isEmpty())
            REQUIRE_PROFILE(icc, profile);
        QString why;
        QCOMPARE(setDisplayProfile(icc, &why), usable);
        QCOMPARE(why.isEmpty(), usable);
        QCOMPARE(displayIsSrgb(), srgb);
        QCOMPARE(displayProfile().isEmpty(), !usable || icc.isEmpty());

        const QImage pattern = referencePicture();
        QImage shown = pattern, exported = pattern;
        QVERIFY(apply(shown, SourceProfile()));
        QVERIFY(apply(exported, SourceProfile(), Pixels::Rgb, Target::Srgb));
        QCOMPARE(exported, pattern);
        if (srgb) {
            QVERIFY(rmsPercent(shown, pattern) <= 0.4);  // one level at most
        } else {
            const LcmsProfile display = lcmsProfile(icc), srgbProfile(cmsCreate_sRGBProfile());
            const QImage expected = lcmsConvert(pattern, srgbProfile.get(), TYPE_BGRA_8, display.get());
            QVERIFY2(rmsPercent(shown, expected) <= kTolerance, qPrintable(QString::number(rmsPercent(shown, expected))));
            QVERIFY(rmsPercent(shown, pattern) > kTolerance);
            // Back to no profile: nothing made for the previous display is used.
            setDisplayProfile({});
            QImage again = pattern;
            QVERIFY(apply(again, SourceProfile()));
            QCOMPARE(again, pattern);
        }
    }

    void nothingSpentWithoutProfile_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::newRow("no profile") << QString();
        QTest::newRow("sRGB embedded, icc-profiles-free v2") << kFreeSrgb;
        QTest::newRow("sRGB embedded, colord v4") << kColordSrgb;
    }
    // On an sRGB display an sRGB picture is not even copied.
    void nothingSpentWithoutProfile()
    {
        QFETCH(QString, profile);
        const QByteArray icc = profile.isEmpty() ? QByteArray() : readProfile(profile);
        if (!profile.isEmpty())
            REQUIRE_PROFILE(icc, profile);
        const QImage pattern = referencePicture();
        QImage shown = pattern;  // shares the pixels until written to
        QVERIFY(apply(shown, SourceProfile::fromIcc(icc)));
        QCOMPARE(shown.constBits(), pattern.constBits());
    }

    void cmyk_data()
    {
        QTest::addColumn<bool>("embedded");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<bool>("rgbProfileInstead");
        QTest::newRow("embedded, Adobe's inverted") << true << true << false;
        QTest::newRow("embedded, plain") << true << false << false;
        QTest::newRow("none: the standard press profile") << false << true << false;
        QTest::newRow("an RGB profile: the standard press profile") << false << true << true;
    }
    void cmyk()
    {
        QFETCH(bool, embedded);
        QFETCH(bool, inverted);
        QFETCH(bool, rgbProfileInstead);
        const QByteArray press = readProfile(kPressCmyk);
        REQUIRE_PROFILE(press, kPressCmyk);
        QCOMPARE(standardCmykSource(), kPressCmyk);
        const LcmsProfile cmykProfile = lcmsProfile(press), srgb(cmsCreate_sRGBProfile());
        const cmsUInt32Number layout = inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
        const QImage inks = lcmsEncode(referencePicture(), cmykProfile.get(), layout);
        const QImage expected = lcmsConvert(inks, cmykProfile.get(), layout, srgb.get());
        QImage shown = inks;
        const SourceProfile source = embedded ? SourceProfile::fromIcc(press)
                                              : rgbProfileInstead ? SourceProfile::builtin(Builtin::AdobeRgb) : SourceProfile();
        QString why;
        QCOMPARE(apply(shown, source, inverted ? Pixels::AdobeCmyk : Pixels::Cmyk, Target::Display, &why), !rgbProfileInstead);
        QCOMPARE(why.isEmpty(), !rgbProfileInstead);
        QCOMPARE(shown.format(), QImage::Format_RGB32);
        QVERIFY2(rmsPercent(shown, expected) <= kTolerance, qPrintable(QString::number(rmsPercent(shown, expected))));
        for (int y = 0; y < shown.height(); ++y)
            QCOMPARE(qAlpha(shown.pixel(shown.width() / 2, y)), 255);
    }

    // Without any press profile installed, each ink prints as its own colour.
    void cmykWithoutPressProfile()
    {
        const Restore restore;
        setStandardCmykPaths({QStringLiteral("/nonexistent/cmyk.icc")});
        QCOMPARE(standardCmykSource(), QStringLiteral("plain ink colours"));
        struct Ink {
            quint32 cmyk;  // C, M, Y, K in memory order
            QRgb rgb;
        };
        const Ink inks[] = {{0x00000000, 0xffffffff}, {0x000000ff, 0xff00ffff}, {0x0000ff00, 0xffff00ff},
                            {0x00ff0000, 0xffffff00}, {0xff000000, 0xff000000}, {0x0000ffff, 0xff0000ff},
                            {0x00000080, 0xff7fffff}};
        QImage img(int(std::size(inks)), 1, QImage::Format_RGB32);
        for (int i = 0; i < img.width(); ++i)
            reinterpret_cast<quint32 *>(img.scanLine(0))[i] = inks[i].cmyk;
        QVERIFY(apply(img, SourceProfile(), Pixels::Cmyk));
        for (int i = 0; i < img.width(); ++i) {
            const QRgb got = img.pixel(i, 0);
            QVERIFY2(std::abs(qRed(got) - qRed(inks[i].rgb)) <= 1 && std::abs(qGreen(got) - qGreen(inks[i].rgb)) <= 1
                         && std::abs(qBlue(got) - qBlue(inks[i].rgb)) <= 1 && qAlpha(got) == 255,
                     qPrintable(QStringLiteral("ink %1: %2").arg(i).arg(got, 8, 16)));
        }
    }

    void grayProfile()
    {
        const QByteArray icc = readProfile(kFreeGray);
        REQUIRE_PROFILE(icc, kFreeGray);
        QImage greys(256, 4, QImage::Format_RGB32);
        for (int y = 0; y < greys.height(); ++y)
            for (int x = 0; x < 256; ++x)
                greys.setPixel(x, y, qRgb(x, x, x));
        const LcmsProfile gray = lcmsProfile(icc), srgb(cmsCreate_sRGBProfile());
        const QImage expected = lcmsConvert(greys, gray.get(), COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3), srgb.get());
        QImage shown = greys;
        QVERIFY(apply(shown, SourceProfile::fromIcc(icc), Pixels::Gray));
        QVERIFY2(rmsPercent(shown, expected) <= kTolerance, qPrintable(QString::number(rmsPercent(shown, expected))));
        QVERIFY(rmsPercent(shown, greys) > kTolerance);  // Gray.icc is not sRGB's curve
        QImage rgbAsGray = greys;
        QVERIFY(!apply(rgbAsGray, SourceProfile::builtin(Builtin::AdobeRgb), Pixels::Gray));
        QCOMPARE(rgbAsGray, greys);
    }

    // Bands run through the runner give exactly what one thread gives.
    void bandsMatchOneThread()
    {
        const QByteArray icc = readProfile(kColordProPhoto);
        REQUIRE_PROFILE(icc, kColordProPhoto);
        const Restore restore;
        const LcmsProfile wide = lcmsProfile(icc);
        const QImage large = lcmsEncode(referencePicture(1200, 900), wide.get());
        QImage alone = large;
        QVERIFY(apply(alone, SourceProfile::fromIcc(icc)));
        std::atomic<int> jobs{0};
        setRunner([&jobs](int count, const std::function<void(int)> &job) {
            std::vector<std::thread> threads;
            for (int i = 0; i < count; ++i)
                threads.emplace_back([&job, &jobs, i] { job(i); ++jobs; });
            for (auto &t : threads)
                t.join();
        });
        QImage banded = large;
        QVERIFY(apply(banded, SourceProfile::fromIcc(icc)));
        QCOMPARE(banded, alone);
        QCOMPARE(jobs.load() >= 2, QThread::idealThreadCount() >= 2);
        QImage small = large.copy(0, 0, 267, 200), smallAlone = small;
        jobs = 0;
        QVERIFY(apply(small, SourceProfile::fromIcc(icc)));
        QCOMPARE(jobs.load(), 0);  // a preview is not worth the hand-over
    }

    void unusableProfileLeavesPicture()
    {
        QByteArray icc = readProfile(kColordAdobe);
        REQUIRE_PROFILE(icc, kColordAdobe);
        icc[36] = 'x';  // no longer "acsp"
        const QImage pattern = referencePicture();
        QImage shown = pattern;
        QString why;
        QVERIFY(!apply(shown, SourceProfile::fromIcc(icc), Pixels::Rgb, Target::Display, &why));
        QVERIFY(!why.isEmpty());
        QCOMPARE(shown, pattern);
    }
};

QTEST_GUILESS_MAIN(TestColour)
#include "test_colour.moc"
