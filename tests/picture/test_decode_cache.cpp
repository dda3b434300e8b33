// The kept reduced decode: shared between uses of the same file at the same scale,
// never handed out for a file that has changed, one picture at most, and safe to use
// from the slideshow's worker thread.
#include "picture/decode_cache.h"
#include "picture/picture.h"

#include <QFile>
#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <time.h>

using pel::PictureFile;
using pel::picture::DecodeCache;
using pel::picture::DecodeKey;

namespace {

// The files of a test are written just before they are read; for the cases where the
// decode is meant to be kept, they are looked at as from an hour later.
qint64 anHourLater()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (qint64(now.tv_sec) + 3600) * 1'000'000'000 + now.tv_nsec;
}

DecodeCache &cache() { return DecodeCache::shared(); }

// A 1600 x 1200 JPEG of `colour` with a pattern, padded after its end to `padTo` bytes
// so that two pictures can have the same size. Returns the size written.
qint64 writeJpeg(const QString &path, QColor colour, qint64 padTo = 0)
{
    QImage img(1600, 1200, QImage::Format_RGB32);
    img.fill(colour);
    QPainter p(&img);
    for (int x = 0; x < img.width(); x += 97)
        p.fillRect(x, 0, 31, img.height(), colour.darker(160));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!img.save(&buffer, "JPG", 90))
        return -1;
    if (bytes.size() < padTo)
        bytes.append(QByteArray(int(padTo - bytes.size()), '\0'));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return -1;
    return bytes.size();
}

QImage render(const QString &path, QSize target)
{
    auto pic = PictureFile::open(QFile::encodeName(path), 15.0);
    return pic ? pic->render(target) : QImage();
}

// The mean colour's strongest channel: 'r', 'g' or 'b'.
char hue(const QImage &img)
{
    qint64 r = 0, g = 0, b = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            r += qRed(c), g += qGreen(c), b += qBlue(c);
        }
    return r >= g && r >= b ? 'r' : g >= b ? 'g' : 'b';
}

timespec modifiedTime(const QString &path)
{
    struct stat st {};
    stat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim;
}

void setModifiedTime(const QString &path, timespec mtime)
{
    const timespec times[2] = {{0, UTIME_OMIT}, mtime};
    utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

}  // namespace

class TestDecodeCache : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }

private slots:
    void init()
    {
        cache().clear();
        cache().setClock(anHourLater);
    }
    void cleanup()
    {
        cache().setClock(nullptr);
        cache().clear();
    }

    // The preview (267 x 200) and the reduced viewer (190 x 143) both start from the
    // eighth-size decode (200 x 150 here); a quarter-size view does not share it.
    void sameFileAndScaleShared()
    {
        const QString path = file("photo.jpg");
        QVERIFY(writeJpeg(path, Qt::darkGreen) > 0);
        const int hits = cache().hits(), kept = cache().kept();

        const QImage preview = render(path, QSize(180, 135));
        QCOMPARE(cache().kept(), kept + 1);
        QCOMPARE(cache().bytes(), qint64(200 * 150 * 4));
        const QImage view = render(path, QSize(190, 143));
        QCOMPARE(cache().hits(), hits + 1);
        QCOMPARE(view.size(), QSize(190, 143));

        // What is shared gives exactly what a decode of its own gives.
        cache().clear();
        QCOMPARE(view, render(path, QSize(190, 143)));
        cache().clear();
        const QImage previewAgain = render(path, QSize(180, 135));
        QCOMPARE(preview, previewAgain);

        // Another scale: decoded at a quarter, and that decode replaces the eighth.
        const int hitsBefore = cache().hits();
        const QImage quarter = render(path, QSize(300, 225));
        QCOMPARE(quarter.size(), QSize(300, 225));
        QCOMPARE(cache().hits(), hitsBefore);
        QCOMPARE(cache().bytes(), qint64(400 * 300 * 4));
        // The natural size is never kept.
        QCOMPARE(render(path, QSize()).size(), QSize(1600, 1200));
        QCOMPARE(cache().bytes(), qint64(400 * 300 * 4));

        // Exactly what the decoder gives when it keeps nothing (reduced while it reads).
        cache().clear();
        cache().setClock(+[] { return qint64(0); });
        QCOMPARE(render(path, QSize(180, 135)), preview);
        QCOMPARE(render(path, QSize(190, 143)), view);
        QCOMPARE(render(path, QSize(300, 225)), quarter);
        QCOMPARE(cache().bytes(), qint64(0));
    }

    // A file changed since its decode was kept is decoded again, whatever stays equal.
    void changedFileDecodedAgain_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("replaced by a rename, same size and mtime") << "rename";
        QTest::newRow("rewritten in place, other size") << "size";
        QTest::newRow("rewritten in place, same size, other mtime") << "mtime";
    }
    void changedFileDecodedAgain()
    {
        QFETCH(QString, change);
        const QString path = file("changing.jpg"), other = file("other.jpg");
        const qint64 size = std::max(writeJpeg(path, Qt::red), writeJpeg(other, Qt::blue)) + 64;
        QVERIFY(writeJpeg(path, Qt::red, size) == size && writeJpeg(other, Qt::blue, size) == size);
        const timespec mtime = modifiedTime(path);
        QCOMPARE(hue(render(path, QSize(180, 135))), 'r');
        const int hits = cache().hits();

        if (change == QLatin1String("rename")) {
            setModifiedTime(other, mtime);
            QCOMPARE(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
        } else if (change == QLatin1String("size")) {
            QVERIFY(writeJpeg(path, Qt::blue, size + 1) == size + 1);
            setModifiedTime(path, mtime);
        } else {
            QVERIFY(writeJpeg(path, Qt::blue, size) == size);
            setModifiedTime(path, {mtime.tv_sec + 1, mtime.tv_nsec});
        }
        QCOMPARE(hue(render(path, QSize(180, 135))), 'b');
        QCOMPARE(cache().hits(), hits);
    }

    // A file whose last change is recent is never kept: a rewrite within the same tick
    // of the file system's clock, same size and mtime put back, would not show in its
    // stamp. Looked at with the real clock.
    void freshFileNeverKept()
    {
        cache().setClock(nullptr);
        const QString path = file("fresh.jpg"), other = file("fresh-other.jpg");
        const qint64 size = std::max(writeJpeg(path, Qt::red), writeJpeg(other, Qt::blue)) + 64;
        QVERIFY(writeJpeg(path, Qt::red, size) == size);
        const timespec mtime = modifiedTime(path);
        const int kept = cache().kept();
        QCOMPARE(hue(render(path, QSize(180, 135))), 'r');
        QCOMPARE(cache().kept(), kept);
        QVERIFY(writeJpeg(path, Qt::blue, size) == size);
        setModifiedTime(path, mtime);
        QCOMPARE(hue(render(path, QSize(180, 135))), 'b');
    }

    // One picture at most: a new decode replaces the kept one, and one over the bound
    // is not kept at all.
    void memoryBound()
    {
        DecodeCache small(100 * 100 * 4);
        const DecodeKey a{QByteArrayLiteral("/a.jpg"), {1, 2, 300, 4, 5}, 8};
        const DecodeKey b{QByteArrayLiteral("/b.jpg"), {1, 3, 300, 4, 5}, 8};
        QImage pa(100, 100, QImage::Format_RGB32), pb(50, 50, QImage::Format_RGB32);
        pa.fill(Qt::red);
        pb.fill(Qt::blue);
        small.keep(a, pa);
        QCOMPARE(small.find(a), pa);
        small.keep(b, pb);
        QVERIFY(small.find(a).isNull());
        QCOMPARE(small.find(b), pb);
        QCOMPARE(small.bytes(), qint64(pb.sizeInBytes()));
        small.keep(a, QImage(101, 100, QImage::Format_RGB32));
        QVERIFY(small.find(a).isNull());
        QCOMPARE(small.bytes(), qint64(0));

        // Through the loader: two files in turn, each decoded again after the other.
        const QString one = file("one.jpg"), two = file("two.jpg");
        QVERIFY(writeJpeg(one, Qt::red) > 0 && writeJpeg(two, Qt::blue) > 0);
        render(one, QSize(180, 135));
        render(two, QSize(180, 135));
        const int hits = cache().hits();
        QCOMPARE(hue(render(one, QSize(180, 135))), 'r');
        QCOMPARE(cache().hits(), hits);
        QCOMPARE(cache().bytes(), qint64(200 * 150 * 4));
    }

    // The read-ahead decodes on a worker while the window decodes previews: each
    // always gets its own file's picture.
    void twoThreads()
    {
        const QString red = file("t-red.jpg"), blue = file("t-blue.jpg");
        QVERIFY(writeJpeg(red, Qt::red) > 0 && writeJpeg(blue, Qt::blue) > 0);
        const QImage refRed = render(red, QSize(180, 135)), refBlue = render(blue, QSize(180, 135));
        auto run = [&](bool startRed) {
            int wrong = 0;
            for (int i = 0; i < 40; ++i) {
                const bool r = (i % 2 == 0) == startRed;
                if (render(r ? red : blue, QSize(180, 135)) != (r ? refRed : refBlue))
                    ++wrong;
            }
            return wrong;
        };
        auto worker = std::async(std::launch::async, run, false);
        const int wrongHere = run(true);
        QCOMPARE(wrongHere, 0);
        QCOMPARE(worker.get(), 0);
    }
};

QTEST_MAIN(TestDecodeCache)
#include "test_decode_cache.moc"
