// Hostile colour profiles, under AddressSanitizer and UndefinedBehaviorSanitizer: cut
// short, lying about their sizes, tables of tags and curves and colour grids that claim
// more than they hold, random bytes. None may crash, hang or allocate past the module's
// bound; each is refused (the picture shows as sRGB) or converts.
#include "picture/colour.h"
#include "support/files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

using pel::test::readFile;

using namespace pel::picture::colour;

namespace {

const QString kRgbProfile = QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc");
const QString kCmykProfile = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");

void putBe32(QByteArray &b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (24 - 8 * i));
}

quint32 be32(const QByteArray &b, qsizetype at)
{
    return quint32(uchar(b[at])) << 24 | quint32(uchar(b[at + 1])) << 16 | quint32(uchar(b[at + 2])) << 8 | uchar(b[at + 3]);
}

// The offset of the tag `signature`'s data, or -1.
qsizetype tagData(const QByteArray &icc, const char *signature)
{
    const quint32 count = be32(icc, 128);
    for (quint32 i = 0; i < count; ++i)
        if (icc.mid(132 + 12 * i, 4) == signature)
            return qsizetype(be32(icc, 136 + 12 * i));
    return -1;
}

QImage pattern()
{
    QImage img(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb(x * 4, y * 5, (x + y) * 2));
    return img;
}

}  // namespace

class TestColourHostile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (readFile(kRgbProfile).isEmpty() || readFile(kCmykProfile).isEmpty())
            QSKIP("the profiles these cases are made from are not installed (colord-data, libgs-common)");
    }

    void crafted_data()
    {
        QTest::addColumn<QByteArray>("icc");
        QTest::addColumn<bool>("cmyk");
        QTest::addColumn<QString>("why");  // a part of the reason given
        QTest::addColumn<bool>("displayRefused");  // refused as the display's profile too
        const QByteArray rgb = readFile(kRgbProfile), cmyk = readFile(kCmykProfile);
        for (qsizetype cut : {qsizetype(60), qsizetype(131), qsizetype(132), qsizetype(200), rgb.size() / 2, rgb.size() - 1})
            QTest::addRow("cut at %lld", qlonglong(cut)) << rgb.left(cut) << false << QString() << true;
        QByteArray b = rgb.left(rgb.size() / 2);
        putBe32(b, 0, quint32(b.size()));
        QTest::newRow("cut, size made to match") << b << false << QStringLiteral("outside") << true;
        b = rgb;
        putBe32(b, 0, 0xffffffff);
        QTest::newRow("declares 4 GB") << b << false << QStringLiteral("declares") << true;
        b = rgb;
        putBe32(b, 128, 0xffffffff);
        QTest::newRow("4 billion tags") << b << false << QStringLiteral("tag table") << true;
        b = rgb;
        putBe32(b, 136, 0xfffffff0);  // the first tag's offset
        putBe32(b, 140, 0x20);
        QTest::newRow("a tag wrapping around") << b << false << QStringLiteral("outside") << true;
        b = rgb;
        b.replace(tagData(b, "rTRC"), 12, QByteArray("curv\0\0\0\0\x7f\xff\xff\xff", 12));
        QTest::newRow("a curve of 2 billion points") << b << false << QString() << true;
        b = rgb;
        b.replace(tagData(b, "rXYZ"), 4, "mft2");
        QTest::newRow("a colourant of the wrong type") << b << false << QString() << true;
        b = rgb;
        b[12] = 'l', b[13] = 'i', b[14] = 'n', b[15] = 'k';
        QTest::newRow("a device link") << b << false << QStringLiteral("device profile") << true;
        for (int points : {60, 255}) {
            b = cmyk;
            b[tagData(b, "A2B0") + 10] = char(points);
            QTest::addRow("a CMYK grid of %d points a side", points) << b << true
                                                                     << (points == 60 ? QStringLiteral("memory") : QString()) << true;
        }
        QTest::newRow("an RGB profile on CMYK") << rgb << true << QStringLiteral("colour space") << false;
        QTest::newRow("a CMYK profile on RGB") << cmyk << false << QStringLiteral("colour space") << true;
    }
    void crafted()
    {
        QFETCH(QByteArray, icc);
        QFETCH(bool, cmyk);
        QFETCH(QString, why);
        QFETCH(bool, displayRefused);
        const QImage before = pattern();
        QImage img = before;
        QString reason;
        QElapsedTimer clock;
        clock.start();
        const bool used = apply(img, SourceProfile::fromIcc(icc), cmyk ? Pixels::AdobeCmyk : Pixels::Rgb, Target::Display, &reason);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(!used, "a hostile profile was used");
        QVERIFY2(reason.contains(why), qPrintable(reason));
        QCOMPARE(img.size(), before.size());
        QCOMPARE(img.format(), QImage::Format_RGB32);
        if (!cmyk)
            QCOMPARE(img, before);  // shown as sRGB
        // As the display's profile: refused, and the display stays sRGB.
        QCOMPARE(!setDisplayProfile(icc), displayRefused);
        QCOMPARE(displayProfile().isEmpty(), displayRefused);
        setDisplayProfile({});
    }

    // A profile over the bound is not even kept: the picture is sRGB.
    void oversize()
    {
        QByteArray icc(kMaxProfileBytes + 1, '\0');
        putBe32(icc, 0, quint32(icc.size()));
        icc.replace(36, 4, "acsp");
        QVERIFY(SourceProfile::fromIcc(icc).isSrgb());
        QString why;
        QVERIFY(!setDisplayProfile(icc, &why));
        QVERIFY2(why.contains(QLatin1String("larger")), qPrintable(why));
    }

    // Random damage: bytes overwritten at random, or the tag data replaced by noise.
    void random_data()
    {
        QTest::addColumn<bool>("cmyk");
        QTest::addColumn<bool>("noise");
        QTest::newRow("RGB, bytes changed") << false << false;
        QTest::newRow("RGB, tag data noise") << false << true;
        QTest::newRow("CMYK, bytes changed") << true << false;
        QTest::newRow("CMYK, tag data noise") << true << true;
    }
    void random()
    {
        QFETCH(bool, cmyk);
        QFETCH(bool, noise);
        const QByteArray original = readFile(cmyk ? kCmykProfile : kRgbProfile);
        QRandomGenerator rng(cmyk * 2 + noise + 7);  // the same cases every run
        const int rounds = cmyk ? 40 : 150;
        int refused = 0;
        QElapsedTimer clock;
        clock.start();
        for (int round = 0; round < rounds; ++round) {
            QByteArray icc = original;
            const qsizetype tags = 132 + 12 * qsizetype(be32(icc, 128));
            if (noise) {
                for (qsizetype i = tags; i < icc.size(); ++i)
                    icc[i] = char(rng.bounded(256));
            } else {
                for (int n = 0; n < 8; ++n)
                    icc[rng.bounded(int(icc.size()))] = char(rng.bounded(256));
            }
            QImage img = pattern();
            refused += !apply(img, SourceProfile::fromIcc(icc), cmyk ? Pixels::Cmyk : Pixels::Rgb);
            QCOMPARE(img.format(), QImage::Format_RGB32);
        }
        qInfo("%d of %d refused, %lld ms", refused, rounds, qlonglong(clock.elapsed()));
        if (noise)
            QCOMPARE(refused, rounds);  // noise is never a profile
    }
};

QTEST_GUILESS_MAIN(TestColourHostile)
#include "test_colour_hostile.moc"
