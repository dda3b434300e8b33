// The copy's clipboard contents: the file's own bytes and the picture at its
// natural size, made when asked for, and always the picture as it was copied.
#include "support/scripted_os.h"
#include "support/testsupport.h"
#include "system/clipboard.h"
#include "system/display_profile.h"
#include "system/pictures.h"
#include "system/workers.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstdlib>

using namespace pel;

namespace {

QImage pattern(QSize size, QColor corner)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor(40, 120, 200));
    QPainter p(&img);
    p.fillRect(0, 0, size.width() / 2, size.height() / 2, corner);
    return img;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QMimeData *onTheClipboard() { return QGuiApplication::clipboard()->mimeData(); }

QImage pastedPng() { return QImage::fromData(onTheClipboard()->data(QStringLiteral("image/png")), "PNG"); }

}  // namespace

class TestClipboard : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    QString write(const QString &name, const QImage &img, const char *format)
    {
        const QString path = dir.path() + u'/' + name;
        QFile::remove(path);
        if (!img.save(path, format))
            qWarning("could not write %s", qPrintable(path));
        return path;
    }

private slots:
    // Every job a copy started has ended: none outlives the test.
    void cleanup() { QVERIFY(workers::finish(10000)); }

    void offersTheFileAndThePictureAtItsNaturalSize_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("formats");
        const QImage img = pattern(QSize(300, 200), Qt::yellow);
        QTest::newRow("jpeg") << write("a.jpg", img, "JPG")
                              << QStringList{"image/jpeg", "image/png", "application/x-qt-image"};
        QTest::newRow("bmp") << write("a.bmp", img, "BMP")
                             << QStringList{"image/bmp", "image/png", "application/x-qt-image"};
        QTest::newRow("png") << write("a.png", img, "PNG") << QStringList{"image/png", "application/x-qt-image"};
        QTest::newRow("wmf") << test::sourceDir() + "/sample/diagram.wmf"
                             << QStringList{"image/wmf", "image/x-wmf", "image/png", "application/x-qt-image"};
    }

    void offersTheFileAndThePictureAtItsNaturalSize()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, formats);
        const auto picture = openPictureHere(path, 15);
        QVERIFY(picture);
        QVERIFY(clipboard::putPictureFile(path, picture->format(), picture->pixelSize()).ok());
        const QMimeData *data = onTheClipboard();
        QCOMPARE(data->formats(), formats);
        if (formats.first() != QLatin1String("image/png") || picture->format() == PictureFormat::Png)
            QCOMPARE(data->data(formats.first()), fileBytes(path));
        // The pixels, at the natural size, as the loader makes them.
        const QImage expected = picture->render(picture->pixelSize(), nullptr, picture::colour::Target::Srgb)
                                    .convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(pastedPng().convertToFormat(QImage::Format_ARGB32), expected);
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_ARGB32), expected);
        // A Qt program on the other side asks for the image as bytes.
        QCOMPARE(QImage::fromData(data->data("application/x-qt-image")).convertToFormat(QImage::Format_ARGB32),
                 expected);
    }

    // Another program knows nothing of this display's profile: the pixels it pastes
    // are sRGB. A picture without a profile comes out as the file holds it.
    void thePastedPictureIsSrgbWhateverTheDisplay_data()
    {
        QTest::addColumn<QString>("path");
        QImage img(40, 30, QImage::Format_RGB32);
        img.fill(QColor(200, 60, 30));   // plain: the two decoders of a JPEG agree on it
        QTest::newRow("bmp") << write("srgb.bmp", img, "BMP");
        QTest::newRow("jpeg") << write("srgb.jpg", img, "JPG");
    }
    void thePastedPictureIsSrgbWhateverTheDisplay()
    {
        QFETCH(QString, path);
        QFile adobe(QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc"));
        if (!adobe.open(QIODevice::ReadOnly))
            QSKIP("colord-data's profiles are not installed");
        const QImage file(path);   // Qt's decode: no colour management
        QImage onDisplay = file.convertToFormat(QImage::Format_RGB32);
        test::ScriptedOs os;
        os.displayIcc = adobe.readAll();
        display_profile::refresh();
        QVERIFY(picture::colour::apply(onDisplay, {}));
        const auto differ = [](const QImage &a, const QImage &b) {
            int most = 0;
            for (int y = 0; y < a.height(); ++y)
                for (int x = 0; x < a.width(); ++x) {
                    const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                    most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                     std::abs(qBlue(p) - qBlue(q))});
                }
            return most;
        };
        QVERIFY(differ(onDisplay, file) > 10);   // the display's colours are not the file's

        QVERIFY(clipboard::putPictureFile(path, path.endsWith("bmp") ? PictureFormat::Bmp : PictureFormat::Jpeg,
                                          file.size()).ok());
        const QImage png = pastedPng();
        const QImage image = QGuiApplication::clipboard()->image();
        os.displayIcc.clear();
        display_profile::refresh();
        QCOMPARE(png.size(), file.size());
        QVERIFY2(differ(png, file) <= 2, "the PNG is not the file's sRGB");
        QVERIFY2(differ(image, file) <= 2, "the image is not the file's sRGB");
    }

    void refusesWhatTheViewerDoesNotShow()
    {
        const QString path = write("b.bmp", pattern(QSize(40, 30), Qt::red), "BMP");
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QVERIFY(!clipboard::putPictureFile(path, PictureFormat::Bmp, QSize(41, 30)).ok());   // another picture now
        QVERIFY(!clipboard::putPictureFile(path, PictureFormat::Jpeg, QSize(40, 30)).ok());
        QVERIFY(!clipboard::putPictureFile(dir.path() + "/missing.bmp", PictureFormat::Bmp, QSize(40, 30)).ok());
        QVERIFY(!clipboard::putPictureFile(dir.path(), PictureFormat::Bmp, QSize(40, 30)).ok());   // a folder
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    }

    // Changed in place right after the copy, or deleted and another file put in its
    // place: a paste gets the picture as copied, never the new one.
    void aPasteGetsThePictureAsCopied()
    {
        const QImage first = pattern(QSize(64, 48), Qt::yellow);
        const QImage second = pattern(QSize(64, 48), Qt::green);   // same size, other pixels
        const QString path = write("c.bmp", first, "BMP");
        const QByteArray copied = fileBytes(path);

        // Changed a moment ago: the bytes are taken before the copy returns.
        QVERIFY(clipboard::putPictureFile(path, PictureFormat::Bmp, first.size()).ok());
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));   // same file, new content
            const QByteArray other = fileBytes(write("other.bmp", second, "BMP"));
            QCOMPARE(other.size(), copied.size());
            QCOMPARE(f.write(other), other.size());
        }
        QCOMPARE(pastedPng(), first.convertToFormat(pastedPng().format()));
        QCOMPARE(onTheClipboard()->data("image/bmp"), copied);

        // Deleted, and another file put in its place.
        QVERIFY(clipboard::putPictureFile(path, PictureFormat::Bmp, first.size()).ok());
        const QByteArray secondBytes = fileBytes(path);
        QVERIFY(QFile::remove(path));
        write("c.bmp", first, "BMP");
        QCOMPARE(onTheClipboard()->data("image/bmp"), secondBytes);
    }

    // A file left alone for a while has its bytes taken by a job on the workers:
    // the copy returns at once, a paste waits for the bytes and gets them; changed
    // while they are taken, the paste gets nothing at all.
    void anOldFileIsTakenByAWorker_data()
    {
        QTest::addColumn<bool>("changedMeanwhile");
        QTest::newRow("left alone") << false;
        QTest::newRow("changed meanwhile") << true;
    }
    void anOldFileIsTakenByAWorker()
    {
        QFETCH(bool, changedMeanwhile);
        const QImage img = pattern(QSize(64, 48), Qt::yellow);
        const QString path = write("d.bmp", img, "BMP");
        const QByteArray copied = fileBytes(path);
        test::ScriptedOs os;
        QThread *const ui = QThread::currentThread();
        std::atomic<int> onWorkers{0};
        os.fstatatScript = [&](int dir, const char *name, struct stat *st, int flags) {
            // The first look opens the file (waited for); the second takes its bytes.
            if (QThread::currentThread() != ui && ++onWorkers == 2) {
                QThread::msleep(300);   // a slow card
                if (changedMeanwhile) {
                    QFile f(path);
                    if (f.open(QIODevice::Append))
                        f.write("more");
                }
            }
            const int r = ::fstatat(dir, name, st, flags);
            st->st_mtim.tv_sec -= 60;   // as if last changed a minute ago
            st->st_ctim.tv_sec -= 60;
            return r;
        };
        QVERIFY(clipboard::putPictureFile(path, PictureFormat::Bmp, img.size()).ok());
        QVERIFY(!workers::finish(0));   // the copy did not wait for its job
        const QByteArray pasted = onTheClipboard()->data("image/bmp");
        QCOMPARE(onWorkers.load(), 2);
        if (changedMeanwhile) {
            QVERIFY(pasted.isEmpty());
            QVERIFY(pastedPng().isNull());
            QVERIFY(QGuiApplication::clipboard()->image().isNull());
        } else {
            QCOMPARE(pasted, copied);
            QCOMPARE(pastedPng(), img.convertToFormat(pastedPng().format()));
        }
        QVERIFY(workers::finish(10000));
    }
};

QTEST_MAIN(TestClipboard)
#include "test_clipboard.moc"
