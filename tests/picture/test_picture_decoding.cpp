// The picture loader against independent decodes: the bmpsuite reference renderings,
// Qt's own readers where they work, and our full decode for the reduced paths.
#include "picture/colour.h"
#include "picture/picture.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QFile>
#include <QDirIterator>
#include <QImageReader>
#include <QtTest>

using pel::PictureFile;
using pel::PictureFormat;

namespace {

struct Diff {
    double mean = 0;  // per channel, 0..255
    int max = 0;
    bool sameSize = false;
};

enum class Compare {
    Premultiplied,  // every channel, alpha included
    OpaqueColour,   // colour only, where `a` is opaque (readers disagree on what masks mean)
};

Diff compare(const QImage &a, const QImage &b, Compare mode = Compare::Premultiplied)
{
    Diff d;
    d.sameSize = !a.isNull() && a.size() == b.size();
    if (!d.sameSize) {
        d.max = 256;
        return d;
    }
    const auto format = mode == Compare::Premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32;
    const QImage x = a.convertToFormat(format);
    const QImage y = b.convertToFormat(format);
    qint64 sum = 0, count = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar *p = x.constScanLine(row), *q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 4; ++i) {
            if (mode == Compare::OpaqueColour && (i % 4 == 3 || p[i - i % 4 + 3] != 255))
                continue;
            const int delta = std::abs(int(p[i]) - int(q[i]));
            sum += delta;
            ++count;
            d.max = std::max(d.max, delta);
        }
    }
    d.mean = count ? double(sum) / double(count) : 0.0;
    return d;
}

// Bits per pixel from a BMP's header.
int bmpDepth(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray h = f.read(30);
    if (h.size() < 30)
        return 0;
    auto u16 = [&](int at) { return int(uchar(h[at])) | (int(uchar(h[at + 1])) << 8); };
    return u16(14) == 12 ? u16(24) : u16(28);
}

QString describe(const QString &name, const Diff &d)
{
    return QStringLiteral("%1: same size %2, mean %3, max %4").arg(name).arg(d.sameSize).arg(d.mean, 0, 'f', 2).arg(d.max);
}

QStringList filesUnder(const QString &dir, const QStringList &patterns)
{
    QStringList files;
    QDirIterator it(dir, patterns, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

QImage ourFull(const QString &path, QString *error = nullptr)
{
    auto pic = PictureFile::open(QFile::encodeName(path), 15.0, error);
    return pic ? pic->render(QSize(), error) : QImage();
}

QImage qtRead(const QString &path, int index = 0)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (index > 0)
        reader.jumpToImage(index);
    return reader.read();
}

}  // namespace

class TestPictureDecoding : public QObject {
    Q_OBJECT
    QString corpus;

private slots:
    void initTestCase()
    {
        PEL_REQUIRE_CORPUS();
        corpus = pel::test::corpusDir();
    }

    // bmpsuite's reference renderings, pixel for pixel.
    void bmpMatchesReferencePng()
    {
        const QStringList refs = filesUnder(corpus + QStringLiteral("/bmp/reference-png/bmpsuite"), {QStringLiteral("*.png")});
        QVERIFY(refs.size() >= 10);
        int compared = 0;
        for (const QString &ref : refs) {
            QString base = QFileInfo(ref).completeBaseName();
            // pal8nonsquare-e.png is that file at its stored pixel size.
            base.remove(QRegularExpression(QStringLiteral("-e$")));
            const QString bmp = corpus + QStringLiteral("/bmp/good/bmpsuite/") + base + QStringLiteral(".bmp");
            if (!QFile::exists(bmp))
                continue;
            QString error;
            const Diff d = compare(ourFull(bmp, &error), QImage(ref));
            // Some reference renderings round a palette entry one step off the file's own value.
            QVERIFY2(d.sameSize && d.max <= 1 && d.mean < 0.1, qPrintable(describe(base, d) + QLatin1Char(' ') + error));
            ++compared;
        }
        QVERIFY(compared >= 10);
    }

    // Every good BMP Qt can read decodes to the same pixels; the ones Qt cannot read
    // (56-byte headers, mandatory masks) match the same picture stored another way.
    void bmpMatchesQtAndSiblings()
    {
        QStringList failures;
        for (const QString &path : filesUnder(corpus + QStringLiteral("/bmp/good"), {QStringLiteral("*.bmp")})) {
            const QImage ours = ourFull(path);
            if (ours.isNull()) {
                failures << path + QStringLiteral(": refused");
                continue;
            }
            const QImage qt = qtRead(path);
            if (qt.isNull())
                continue;
            // Qt widens 5- and 6-bit channels by shifting, we by scaling (255, not 248, for white);
            // and it takes a 1-bit alpha as half transparent: compare colour, not alpha.
            const Diff d = compare(ours, qt, Compare::OpaqueColour);
            if (!d.sameSize || d.max > (bmpDepth(path) == 16 ? 7 : 1))
                failures << describe(path, d);
        }
        // Same 6 x 6 picture in every encoding; 4- and 5-bit channels round differently.
        const QString dir = corpus + QStringLiteral("/bmp/good/image-rs/");
        const QImage reference = ourFull(dir + QStringLiteral("Info_R8_G8_B8.bmp"));
        const struct { const char *name; int tolerance; } siblings[] = {
            {"V3_X8_R8_G8_B8.bmp", 0},      {"V3_X8_R8_G8_B8_Top_Down.bmp", 0}, {"V3_R5_G6_B5.bmp", 8},
            {"V3_R5_G6_B5_Top_Down.bmp", 8}, {"V3_X4_R4_G4_B4.bmp", 17},       {"Info_X1_R5_G5_B5_Top_Down.bmp", 8},
            {"Info_8_Bit_Top_Down.bmp", 0},  {"Info_A8_R8_G8_B8_Top_Down.bmp", 0},
        };
        for (const auto &s : siblings) {
            const Diff d = compare(ourFull(dir + QLatin1String(s.name)), reference);
            if (!d.sameSize || d.max > s.tolerance)
                failures << describe(QLatin1String(s.name), d);
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }

    // Baseline, progressive, grey, CMYK/YCCK, restart markers and EXIF orientation,
    // against Qt's decode with its own orientation handling. Colours: Qt converts an
    // embedded RGB profile with its own engine, and takes CMYK without a profile as
    // plain inks, as the loader does without a press profile; a file with a profile Qt
    // cannot read (CMYK, grey) is compared for its size only.
    void jpegMatchesQt()
    {
        namespace colour = pel::picture::colour;
        colour::setStandardCmykPaths({QStringLiteral("/nonexistent/press.icc")});
        const auto restore = qScopeGuard([] { colour::setStandardCmykPaths(colour::defaultStandardCmykPaths()); });
        QStringList failures;
        int compared = 0, profiles = 0;
        for (const QString &path : filesUnder(corpus + QStringLiteral("/jpeg/good"), {QStringLiteral("*.jp*g")})) {
            // jpg-size-6x6.jpg is really a PNG: it must load all the same.
            auto pic = PictureFile::open(QFile::encodeName(path), 15.0);
            if (!pic || (pic->format() != PictureFormat::Jpeg) != path.endsWith(QLatin1String("6x6.jpg"))) {
                failures << path + QStringLiteral(": refused or not taken for what it is");
                continue;
            }
            const QImage ours = pic->render(QSize(), nullptr, colour::Target::Srgb);
            QImage qt = qtRead(path);
            if (qt.isNull())
                continue;
            QFile file(path);
            const bool embedded = file.open(QIODevice::ReadOnly) && file.readAll().contains(QByteArray("ICC_PROFILE\0", 12));
            if (qt.colorSpace().isValid()) {
                qt.convertToColorSpace(QColorSpace::SRgb);
                profiles += embedded;
            } else if (embedded) {
                if (ours.size() != qt.size())
                    failures << path + QStringLiteral(": not the size Qt reads");
                continue;
            }
            const Diff d = compare(ours, qt);
            if (!d.sameSize || d.mean > 1.0 || pic->pixelSize() != qt.size())
                failures << describe(path, d);
            ++compared;
        }
        QVERIFY(compared > 40 && profiles > 0);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }

    // The eight orientations of one photo all come out upright.
    void jpegOrientationIsApplied()
    {
        const QString dir = corpus + QStringLiteral("/jpeg/good/pillow/");
        const QImage upright = ourFull(dir + QStringLiteral("hopper.jpg"));
        QVERIFY(!upright.isNull());
        for (int o = 2; o <= 8; ++o) {
            const QString name = QStringLiteral("hopper_orientation_%1.jpg").arg(o);
            const Diff d = compare(ourFull(dir + name), upright);
            QVERIFY2(d.sameSize && d.mean < 4.0, qPrintable(describe(name, d)));
        }
    }

    // The largest image of an icon, with its mask, as Qt decodes that same entry.
    void icoLargestEntry()
    {
        QStringList failures;
        const QStringList files = filesUnder(corpus + QStringLiteral("/ico/good"), {QStringLiteral("*.ico")}) +
                                  filesUnder(corpus + QStringLiteral("/ico/cur"), {QStringLiteral("*.cur")});
        for (const QString &path : files) {
            auto pic = PictureFile::open(QFile::encodeName(path), 15.0);
            if (!pic) {
                failures << path + QStringLiteral(": refused");
                continue;
            }
            QList<QImage> entries;
            const int count = std::max(1, QImageReader(path).imageCount());
            for (int i = 0; i < count; ++i)
                entries << qtRead(path, i);
            // Qt 6.4 misplaces the pixels of this V5 entry (it carries a colour profile);
            // it holds bmpsuite's rgb24 picture, which Qt reads right from the BMP.
            if (path.endsWith(QLatin1String("bmp_v5_with_icc.ico")))
                entries = {qtRead(corpus + QStringLiteral("/bmp/good/bmpsuite/rgb24.bmp"))};
            QSize largest;
            for (const QImage &img : entries) {
                if (img.width() * img.height() > largest.width() * largest.height())
                    largest = img.size();
            }
            if (largest.isEmpty())
                continue;  // Qt cannot read it at all
            if (pic->pixelSize() != largest) {
                failures << QStringLiteral("%1: size %2x%3, largest entry %4x%5").arg(path)
                                .arg(pic->pixelSize().width()).arg(pic->pixelSize().height())
                                .arg(largest.width()).arg(largest.height());
                continue;
            }
            // Several entries may share the largest size (different depths): one must match.
            // Qt shows masked-out pixels of an opaque-format entry, we make them transparent.
            const QImage ours = pic->render();
            Diff best;
            best.max = 256;
            for (const QImage &img : entries) {
                const Diff d = compare(ours, img, Compare::OpaqueColour);
                if (d.sameSize && d.max < best.max)
                    best = d;
            }
            if (best.max > 1)
                failures << describe(path, best);
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }

    // Reduced decodes (bins, scaled IDCT, the DC scans of a progressive file) look like
    // the full decode scaled down, and have exactly the asked size.
    void reducedMatchesFullDecode_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("target");
        QTest::newRow("bmp 24-bit") << "bmp/good/image-rs/V4_24_Bit.bmp" << QSize(100, 80);
        QTest::newRow("bmp 8-bit") << "bmp/good/pillow/hopper.bmp" << QSize(40, 30);
        QTest::newRow("bmp rle") << "bmp/good/pillow/hopper_rle8.bmp" << QSize(40, 30);
        QTest::newRow("bmp 32-bit alpha") << "bmp/good/image-rs/V5_A8_R8_G8_B8_Rgb.bmp" << QSize(9, 7);
        QTest::newRow("bmp stretch one way") << "bmp/good/image-rs/V4_24_Bit.bmp" << QSize(50, 500);
        QTest::newRow("jpeg baseline") << "jpeg/good/image-rs/portrait_2.jpg" << QSize(60, 45);
        QTest::newRow("jpeg progressive") << "jpeg/good/image-rs/progressive-cat.jpg" << QSize(40, 30);
        QTest::newRow("jpeg progressive half") << "jpeg/good/image-rs/progressive-cat.jpg" << QSize(150, 100);
        QTest::newRow("jpeg cmyk") << "jpeg/good/pillow/pil_sample_cmyk.jpg" << QSize(30, 20);
        QTest::newRow("jpeg rotated") << "jpeg/good/pillow/hopper_orientation_6.jpg" << QSize(20, 30);
        QTest::newRow("ico") << "ico/good/pillow/pillow.ico" << QSize(30, 30);
    }
    void reducedMatchesFullDecode()
    {
        QFETCH(QString, file);
        QFETCH(QSize, target);
        auto pic = PictureFile::open(QFile::encodeName(corpus + QLatin1Char('/') + file), 15.0);
        QVERIFY(pic);
        const QImage full = pic->render();
        QVERIFY(!full.isNull());
        const QImage reduced = pic->render(target);
        const QImage expected = full.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const Diff d = compare(reduced, expected);
        QVERIFY2(d.sameSize && d.mean < 6.0, qPrintable(describe(file, d)));
    }
};

QTEST_MAIN(TestPictureDecoding)
#include "test_picture_decoding.moc"
