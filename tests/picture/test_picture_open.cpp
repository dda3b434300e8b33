// What open() decides from a file's content: format, natural size, refusals; and how
// a picture reaches a painter.
#include "picture/picture.h"
#include "picture/wmf.h"
#include "support/files.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QFile>
#include <QDirIterator>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <unistd.h>

using pel::test::readFile;
using pel::test::writeFile;
using pel::PictureFile;
using pel::PictureFormat;

namespace {

QStringList filesUnder(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

}  // namespace

class TestPictureOpen : public QObject {
    Q_OBJECT
    QString corpus;
    QTemporaryDir tmp;

private slots:
    void initTestCase()
    {
        PEL_REQUIRE_CORPUS();
        corpus = pel::test::corpusDir();
        QVERIFY(tmp.isValid());
    }

    // The name never decides: a text file called .bmp is refused, a JPEG or PNG called .bmp is shown.
    void formatComesFromContent()
    {
        const QString notes = tmp.filePath(QStringLiteral("notes.bmp"));
        QVERIFY(writeFile(notes, "Shopping list\r\nBM is not enough to be a bitmap\r\n"));
        QString error;
        QVERIFY(!PictureFile::open(QFile::encodeName(notes), 15.0, &error));
        QVERIFY(!error.isEmpty());

        const QString bm = tmp.filePath(QStringLiteral("bm.bmp"));
        QVERIFY(writeFile(bm, "BM this starts like a bitmap and is not one"));
        QVERIFY(!PictureFile::open(QFile::encodeName(bm), 15.0));

        const QString jpegSource = corpus + QStringLiteral("/jpeg/good/pillow/hopper.jpg");
        const QString disguised = tmp.filePath(QStringLiteral("x.bmp"));
        QVERIFY(writeFile(disguised, readFile(jpegSource)));
        auto asBmp = PictureFile::open(QFile::encodeName(disguised), 15.0);
        auto asJpg = PictureFile::open(QFile::encodeName(jpegSource), 15.0);
        QVERIFY(asBmp && asJpg);
        QCOMPARE(asBmp->format(), PictureFormat::Jpeg);
        QCOMPARE(asBmp->pixelSize(), asJpg->pixelSize());
        QCOMPARE(asBmp->render(QSize(20, 20)), asJpg->render(QSize(20, 20)));

        const QString png = tmp.filePath(QStringLiteral("png.bmp"));
        QImage img(30, 20, QImage::Format_RGB32);
        img.fill(Qt::darkCyan);
        QVERIFY(img.save(png, "PNG"));
        auto pic = PictureFile::open(QFile::encodeName(png), 15.0);
        QVERIFY(pic);
        QCOMPARE(pic->format(), PictureFormat::Png);
        QCOMPARE(pic->pixelSize(), QSize(30, 20));
        QCOMPARE(pic->render().pixel(5, 5), QColor(Qt::darkCyan).rgb());

        const QString ico = corpus + QStringLiteral("/ico/cur/pillow/deerstalker.cur");
        QCOMPARE(PictureFile::open(QFile::encodeName(ico), 15.0)->format(), PictureFormat::Cur);
        QCOMPARE(PictureFile::open(QFile::encodeName(corpus + QStringLiteral("/ico/good/pillow/python.ico")), 15.0)->format(), PictureFormat::Ico);
    }

    // Natural size in twips: pixels times twips per pixel (15 at 96 DPI, 10 at 144 DPI).
    void naturalSizeInTwips()
    {
        auto pic = PictureFile::open(QFile::encodeName(corpus + QStringLiteral("/bmp/good/bmpsuite/pal8.bmp")), 15.0);
        QVERIFY(pic);
        QCOMPARE(pic->pixelSize(), QSize(127, 64));
        QCOMPARE(pic->sizeTwips(), QSizeF(1905, 960));
        auto at144Dpi = PictureFile::open(QFile::encodeName(corpus + QStringLiteral("/bmp/good/bmpsuite/pal8.bmp")), 10.0);
        QCOMPARE(at144Dpi->sizeTwips(), QSizeF(1270, 640));
        // Stored 2 x 1 with an EXIF rotation: the natural size is the upright picture's.
        auto rotated = PictureFile::open(QFile::encodeName(corpus + QStringLiteral("/jpeg/good/pillow/orientation_rectangle.jpg")), 15.0);
        QVERIFY(rotated);
        QCOMPARE(rotated->pixelSize(), QSize(1, 2));
        QCOMPARE(rotated->render().size(), QSize(1, 2));
    }

    // Missing, vanished and empty files; the doubled separator of a drive root.
    void filesThatGoAway()
    {
        QString error;
        QVERIFY(!PictureFile::open(QFile::encodeName(tmp.filePath(QStringLiteral("absent.jpg"))), 15.0, &error));
        QVERIFY(!error.isEmpty());

        const QString empty = tmp.filePath(QStringLiteral("empty.bmp"));
        QVERIFY(writeFile(empty, QByteArray()));
        QVERIFY(!PictureFile::open(QFile::encodeName(empty), 15.0));

        for (const char *name : {"bmp/good/bmpsuite/rgb24.bmp", "jpeg/good/pillow/hopper.jpg", "ico/good/pillow/python.ico"}) {
            const QString copy = tmp.filePath(QStringLiteral("vanishing"));
            QVERIFY(writeFile(copy, readFile(corpus + QLatin1Char('/') + QLatin1String(name))));
            auto pic = PictureFile::open(QFile::encodeName(copy), 15.0);
            QVERIFY2(pic, name);
            QVERIFY(QFile::remove(copy));
            error.clear();
            QVERIFY2(pic->render(QSize(10, 10), &error).isNull(), name);
            QVERIFY(!error.isEmpty());
        }

        QVERIFY(writeFile(tmp.filePath(QStringLiteral("root.bmp")), readFile(corpus + QStringLiteral("/bmp/good/bmpsuite/pal4.bmp"))));
        QVERIFY(PictureFile::open(QFile::encodeName(tmp.path() + QStringLiteral("//root.bmp")), 15.0));
    }

    // A file changed between open() and render(): a bitmap, decoded from its file at
    // each render, gives no picture and says why, rather than a picture of another
    // version or of bytes no longer there; a metafile, read whole when it was opened,
    // is still drawn as it was.
    void changedAfterOpening_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("change");
        for (const char *file : {"bmp/good/bmpsuite/rgb24.bmp", "jpeg/good/pillow/hopper.jpg", "ico/good/pillow/python.ico",
                                 "bmp/reference-png/bmpsuite/rgb24.png", "wmf/good/libwmf/2doorvan.wmf"}) {
            for (const char *change : {"truncated", "grown", "rewritten"})
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(file), QLatin1String(change))))
                    << QString::fromLatin1(file) << QString::fromLatin1(change);
        }
    }
    void changedAfterOpening()
    {
        QFETCH(QString, file);
        QFETCH(QString, change);
        const QByteArray bytes = readFile(corpus + QLatin1Char('/') + file);
        QVERIFY(!bytes.isEmpty());
        const QString copy = tmp.filePath(QStringLiteral("changing"));
        QVERIFY(writeFile(copy, bytes));
        const auto pic = PictureFile::open(QFile::encodeName(copy), 15.0);
        QVERIFY(pic);
        const QImage before = pic->render();
        QVERIFY(!before.isNull());
        QTest::qSleep(20);   // the change falls on a later tick of the file system's clock

        QFile f(copy);
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (change == QLatin1String("truncated")) {
            QVERIFY(f.resize(bytes.size() / 2));
        } else if (change == QLatin1String("grown")) {
            QVERIFY(f.seek(bytes.size()) && f.write(QByteArray(4096, '\x5a')) == 4096);
        } else {   // the same size, one byte different
            QVERIFY(f.seek(bytes.size() - 1) && f.write(QByteArray(1, char(bytes.back() ^ 0x5a))) == 1);
        }
        f.close();

        QString error;
        const QImage after = pic->render(QSize(), &error);
        if (pic->isVector()) {
            QCOMPARE(after, before);
        } else {
            QVERIFY(after.isNull());
            QVERIFY2(error.contains(QLatin1String("changed")), qPrintable(error));
        }
    }

    // A large file cut short while it is decoded: the decode fails, or, when the cut
    // came after its last read, gives the picture as it was. Which one depends on the
    // timing; a picture with rows of what was no longer there is never given.
    void truncatedWhileRead_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("bmp, read in bands") << QByteArray("BMP");
        QTest::newRow("jpeg, streamed") << QByteArray("JPG");
    }
    void truncatedWhileRead()
    {
        QFETCH(QByteArray, format);
        QImage source(3000, 2000, QImage::Format_RGB32);
        for (int y = 0; y < source.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(source.scanLine(y));
            for (int x = 0; x < source.width(); ++x)
                line[x] = qRgb(x * 7, y * 3, (x ^ y) & 0xff);
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && source.save(&buffer, format.constData()));
        const QString path = tmp.filePath(QStringLiteral("cut.") + QString::fromLatin1(format.toLower()));
        const QSize target(300, 200);
        QVERIFY(writeFile(path, bytes));
        const QImage reference = PictureFile::open(QFile::encodeName(path), 15.0)->render(target);
        QVERIFY(!reference.isNull());
        QStringList failures;   // why each failed decode failed
        for (const int delayUs : {0, 300, 1000, 3000, 6000, 10000}) {
            QVERIFY(writeFile(path, bytes));
            const auto pic = PictureFile::open(QFile::encodeName(path), 15.0);
            QVERIFY(pic);
            std::thread cutter([&] {
                std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
                QCOMPARE(truncate(QFile::encodeName(path).constData(), bytes.size() / 2), 0);
            });
            QString error;
            const QImage img = pic->render(target, &error);
            cutter.join();
            if (img.isNull()) {
                QVERIFY(!error.isEmpty());
                failures << error;
            } else {
                QCOMPARE(img, reference);
            }
        }
        qInfo("%d of 6 decodes failed (%s), the rest were done before the cut", int(failures.size()),
              qPrintable(failures.join(QLatin1String("; "))));
    }

    // Every metafile open() takes goes to the WMF reader, with its size and bytes; what
    // the reader refuses, open() refuses. EMF is never taken for WMF.
    void metafiles()
    {
        int checked = 0;
        for (const QString &path : filesUnder(corpus + QStringLiteral("/wmf"))) {
            if (!path.endsWith(QLatin1String(".wmf"), Qt::CaseInsensitive))
                continue;
            const QByteArray bytes = readFile(path);
            const auto doc = pel::wmf::Document::parse(bytes);
            auto pic = PictureFile::open(QFile::encodeName(path), 15.0);
            ++checked;
            if (!doc || doc->sizeTwips().isEmpty()) {
                QVERIFY2(!pic, qPrintable(path));
                continue;
            }
            QVERIFY2(pic, qPrintable(path));
            QCOMPARE(pic->format(), PictureFormat::Wmf);
            QVERIFY(pic->isVector());
            QCOMPARE(pic->sizeTwips(), doc->sizeTwips());
            QCOMPARE(pic->pixelSize().width(), qRound(doc->sizeTwips().width() / 15.0));
            QCOMPARE(pic->nativeData(), bytes);
        }
        QVERIFY(checked > 20);
        for (const QString &path : filesUnder(corpus + QStringLiteral("/emf"))) {
            QString error;
            QVERIFY2(!PictureFile::open(QFile::encodeName(path), 15.0, &error), qPrintable(path));
            QVERIFY2(error.contains(QLatin1String("EMF")), qPrintable(error));
        }
        QVERIFY(PictureFile::open(QFile::encodeName(corpus + QStringLiteral("/bmp/good/bmpsuite/pal8.bmp")), 15.0)->nativeData().isEmpty());
    }

    // paint() draws exactly what render() gives for the covered pixels.
    void paintDrawsTheRenderedPicture()
    {
        auto pic = PictureFile::open(QFile::encodeName(corpus + QStringLiteral("/jpeg/good/image-rs/progressive-cat.jpg")), 15.0);
        QVERIFY(pic);
        QImage canvas(300, 250, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        {
            QPainter painter(&canvas);
            QVERIFY(pic->paint(painter, QRectF(10, 20, 267, 200)));
        }
        const QImage expected = pic->render(QSize(267, 200)).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(canvas.copy(10, 20, 267, 200), expected);
        QCOMPARE(canvas.pixel(5, 5), qRgb(255, 255, 255));
    }

    // Past Qt's default 128 MB limit: a 48-megapixel JPEG and a 36-megapixel PNG are shown.
    void picturesBeyondQtsDefaultLimit()
    {
        QImage big(8000, 6000, QImage::Format_RGB32);
        QVERIFY(!big.isNull());
        for (int y = 0; y < big.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(big.scanLine(y));
            for (int x = 0; x < big.width(); ++x)
                line[x] = qRgb(x * 255 / 8000, y * 255 / 6000, 128);
        }
        const QString jpeg = tmp.filePath(QStringLiteral("48mp.jpg"));
        QImageWriter jw(jpeg, "jpeg");
        jw.setQuality(60);
        QVERIFY(jw.write(big));
        const QString png = tmp.filePath(QStringLiteral("36mp.png"));
        QImageWriter pw(png, "png");
        pw.setCompression(1);
        QVERIFY(pw.write(big.copy(0, 0, 6000, 6000)));
        big = QImage();

        auto photo = PictureFile::open(QFile::encodeName(jpeg), 15.0);
        QVERIFY(photo);
        QCOMPARE(photo->pixelSize(), QSize(8000, 6000));
        const QImage preview = photo->render(QSize(267, 200));
        QCOMPARE(preview.size(), QSize(267, 200));
        // Bottom-right is (255, 255, 128) in the source; the smooth reduction keeps it.
        QVERIFY(qAbs(qRed(preview.pixel(266, 199)) - 254) <= 4);
        QCOMPARE(photo->render().size(), QSize(8000, 6000));

        auto picture = PictureFile::open(QFile::encodeName(png), 15.0);
        QVERIFY(picture);
        QCOMPARE(picture->format(), PictureFormat::Png);
        QString error;
        QCOMPARE(picture->render(QSize(200, 200), &error).size(), QSize(200, 200));
    }
};

QTEST_MAIN(TestPictureOpen)
#include "test_picture_open.moc"
