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
#include <thread>

using pel::PictureFile;
using pel::picture::DecodeCache;
using pel::picture::DecodeKey;
using pel::FileStamp;

namespace {

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

// Whether two decodes are the very same pixels (one kept decode handed out twice),
// not merely equal ones.
bool samePixels(const QImage &a, const QImage &b) { return !a.isNull() && a.constBits() == b.constBits(); }

// A decode is only kept for a file whose last change is a few seconds old, as a
// user's photos are: waits until the files written so far are.
void waitUntilSettled()
{
    std::this_thread::sleep_for(std::chrono::nanoseconds(FileStamp::kSettleNs + 200'000'000));
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
    QString file(const QString &name) const { return dir.filePath(name); }
    // Each change case starts from a red file and a blue one of the same size.
    const QStringList changes{QStringLiteral("rename"), QStringLiteral("size"), QStringLiteral("mtime")};
    qint64 pairSize = 0;

private slots:
    // The files a test wants kept are written here, once, and left to settle.
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(writeJpeg(file(QStringLiteral("photo.jpg")), Qt::darkGreen) > 0);
        QVERIFY(writeJpeg(file(QStringLiteral("one.jpg")), Qt::red) > 0);
        QVERIFY(writeJpeg(file(QStringLiteral("two.jpg")), Qt::blue) > 0);
        pairSize = std::max(writeJpeg(file(QStringLiteral("sizing.jpg")), Qt::red),
                            writeJpeg(file(QStringLiteral("sizing.jpg")), Qt::blue)) + 64;
        for (const QString &c : changes) {
            QCOMPARE(writeJpeg(file(c + QStringLiteral("-red.jpg")), Qt::red, pairSize), pairSize);
            QCOMPARE(writeJpeg(file(c + QStringLiteral("-blue.jpg")), Qt::blue, pairSize), pairSize);
        }
        waitUntilSettled();
    }
    void init() { cache().clear(); }
    void cleanup() { cache().clear(); }

    // The preview (267 x 200) and the reduced viewer (190 x 143) both start from the
    // eighth-size decode (200 x 150 here); a quarter-size view does not share it.
    void sameFileAndScaleShared()
    {
        const QString path = file(QStringLiteral("photo.jpg"));
        // A target of exactly the eighth size is the kept decode itself.
        const QImage eighth = render(path, QSize(200, 150));
        QVERIFY(samePixels(render(path, QSize(200, 150)), eighth));
        QCOMPARE(cache().bytes(), qint64(200 * 150 * 4));

        const QImage preview = render(path, QSize(180, 135));
        const QImage view = render(path, QSize(190, 143));
        QCOMPARE(view.size(), QSize(190, 143));
        // Both were made from the kept decode, which neither replaced.
        QVERIFY(samePixels(render(path, QSize(200, 150)), eighth));

        // What is shared gives exactly what a decode of its own gives.
        cache().clear();
        QCOMPARE(view, render(path, QSize(190, 143)));
        cache().clear();
        QCOMPARE(preview, render(path, QSize(180, 135)));

        // Another scale: decoded at a quarter, and that decode replaces the eighth.
        const QImage quarter = render(path, QSize(300, 225));
        QCOMPARE(quarter.size(), QSize(300, 225));
        const QImage quarterKept = render(path, QSize(400, 300));
        QCOMPARE(cache().bytes(), qint64(400 * 300 * 4));
        // The natural size is never kept, and does not push the quarter out.
        QCOMPARE(render(path, QSize()).size(), QSize(1600, 1200));
        QVERIFY(samePixels(render(path, QSize(400, 300)), quarterKept));
        QVERIFY(!samePixels(render(path, QSize(200, 150)), eighth));

        // Exactly what the decoder gives when it keeps nothing (reduced while it reads):
        // a copy written just now is not kept.
        const QString fresh = file(QStringLiteral("photo-fresh.jpg"));
        QVERIFY(QFile::copy(path, fresh));
        cache().clear();
        QCOMPARE(render(fresh, QSize(180, 135)), preview);
        QCOMPARE(render(fresh, QSize(190, 143)), view);
        QCOMPARE(render(fresh, QSize(300, 225)), quarter);
        QCOMPARE(cache().bytes(), qint64(0));
    }

    // A file changed since its decode was kept is decoded again, with its new pixels,
    // whatever stays equal.
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
        const QString path = file(change + QStringLiteral("-red.jpg")), other = file(change + QStringLiteral("-blue.jpg"));
        const timespec mtime = modifiedTime(path);
        const QImage kept = render(path, QSize(200, 150));
        QCOMPARE(hue(kept), 'r');
        QVERIFY(samePixels(render(path, QSize(200, 150)), kept));   // it was kept

        if (change == QLatin1String("rename")) {
            setModifiedTime(other, mtime);
            QCOMPARE(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
        } else if (change == QLatin1String("size")) {
            QVERIFY(writeJpeg(path, Qt::blue, pairSize + 1) == pairSize + 1);
            setModifiedTime(path, mtime);
        } else {
            QVERIFY(writeJpeg(path, Qt::blue, pairSize) == pairSize);
            setModifiedTime(path, {mtime.tv_sec + 1, mtime.tv_nsec});
        }
        QCOMPARE(hue(render(path, QSize(200, 150))), 'b');
    }

    // A file whose last change is recent is never kept: a rewrite within the same tick
    // of the file system's clock, same size and mtime put back, would not show in its
    // stamp.
    void freshFileNeverKept()
    {
        const QString path = file(QStringLiteral("fresh.jpg"));
        QVERIFY(writeJpeg(path, Qt::red, pairSize) == pairSize);
        const timespec mtime = modifiedTime(path);
        const QImage first = render(path, QSize(200, 150));
        QCOMPARE(hue(first), 'r');
        QVERIFY(!samePixels(render(path, QSize(200, 150)), first));
        QCOMPARE(cache().bytes(), qint64(0));
        QVERIFY(writeJpeg(path, Qt::blue, pairSize) == pairSize);
        setModifiedTime(path, mtime);
        QCOMPARE(hue(render(path, QSize(200, 150))), 'b');
    }

    // One picture at most: a new decode replaces the kept one, and one over the bound
    // is not kept at all.
    void memoryBound()
    {
        DecodeCache small(100 * 100 * 4);
        const DecodeKey a{{QByteArrayLiteral("/a.jpg"), 1, 2, 300, 4, 5}, 8};
        const DecodeKey b{{QByteArrayLiteral("/b.jpg"), 1, 3, 300, 4, 5}, 8};
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
        const QString one = file(QStringLiteral("one.jpg")), two = file(QStringLiteral("two.jpg"));
        const QImage firstOne = render(one, QSize(200, 150));
        QCOMPARE(hue(render(two, QSize(200, 150))), 'b');
        const QImage againOne = render(one, QSize(200, 150));
        QCOMPARE(hue(againOne), 'r');
        QVERIFY(!samePixels(againOne, firstOne));
        QCOMPARE(cache().bytes(), qint64(200 * 150 * 4));
    }

    // A kept decode of a path whose file has changed is dropped when the changed file
    // is looked for, not only replaced by its next decode.
    void changedFileDropsItsKeptDecode()
    {
        DecodeCache own;
        const DecodeKey before{{QByteArrayLiteral("/c.jpg"), 1, 2, 300, 4, 5}, 8};
        DecodeKey after = before;
        after.stamp.changedNs += 1;
        own.keep(before, QImage(10, 10, QImage::Format_RGB32));
        QVERIFY(own.find(after).isNull());
        QCOMPARE(own.bytes(), qint64(0));
        QVERIFY(own.find(before).isNull());
    }

    // The read-ahead decodes on a worker while the window decodes previews: each
    // always gets its own file's picture.
    void twoThreads()
    {
        const QString red = file(QStringLiteral("one.jpg")), blue = file(QStringLiteral("two.jpg"));
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
