// The loader against files that lie: every hostile file stays within the budget (a
// preview in 2 s and 700 MB, a natural-size decode in 10 s and the 2 GiB design
// limit, or a clean refusal); a file must be able to hold the pixels it claims; a
// reduced decode never holds the natural size; nothing but a regular file is read.
// Time and memory are measured in a child process, which is also what keeps a
// runaway allocation or a blocking open from taking the test run down with it.
#include "picture/decoders.h"
#include "picture/picture.h"
#include "support/files.h"
#include "support/testsupport.h"

#include <QFile>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using pel::test::writeFile;
using pel::PictureFile;

namespace {

constexpr qint64 kMB = qint64(1) << 20;

struct Outcome {
    bool finished = false;  // false: crashed, killed or timed out
    QSize size;             // of the image; empty when refused
    QString error;
    double ms = 0;
    qint64 peakGrowth = 0;  // bytes of resident memory over the start
};

qint64 statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// Runs `work` in a child process: how long it took, how much resident memory it
// added at its peak, what it returned. The child may use 3 GiB more address space
// than it starts with, so a decoder that runs away fails there, not on the machine.
Outcome inChild(const std::function<QImage(QString *)> &work, int timeoutMs)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(statusKb("VmSize:") * 1024 + 3 * 1024 * kMB);
        setrlimit(RLIMIT_AS, &limit);
        if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {  // the peak starts again from here
            std::fputs("5", f);
            std::fclose(f);
        }
        const qint64 start = statusKb("VmHWM:");
        QElapsedTimer timer;
        timer.start();
        QString error;
        const QImage img = work(&error);
        const QByteArray report = QStringLiteral("%1 %2 %3 %4 %5")
                                      .arg(img.width()).arg(img.height()).arg(timer.nsecsElapsed() / 1e6)
                                      .arg((statusKb("VmHWM:") - start) * 1024).arg(error)
                                      .toUtf8();
        if (write(fds[1], report.constData(), size_t(report.size())) != report.size())
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    Outcome out;
    QByteArray report;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        const int left = timeoutMs - int(timer.elapsed());
        if (left <= 0 || poll(&p, 1, left) <= 0)
            break;
        char buf[4096];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        report.append(buf, n);
    }
    close(fds[0]);
    if (timer.elapsed() >= timeoutMs)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    const QList<QByteArray> parts = report.split(' ');
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || parts.size() < 4)
        return out;
    out.finished = true;
    out.size = QSize(parts[0].toInt(), parts[1].toInt());
    out.ms = parts[2].toDouble();
    out.peakGrowth = parts[3].toLongLong();
    out.error = QString::fromUtf8(report.mid(parts[0].size() + parts[1].size() + parts[2].size() + parts[3].size() + 4));
    return out;
}

// Opens `path` and renders it at `target` (empty: natural size), as the windows do.
std::function<QImage(QString *)> openAndRender(const QString &path, QSize target)
{
    return [path, target](QString *error) {
        const auto pic = PictureFile::open(QFile::encodeName(path), 15.0, error);
        return pic ? pic->render(target, error) : QImage();
    };
}

QString describe(const Outcome &o)
{
    if (!o.finished)
        return QStringLiteral("crashed or did not finish");
    return QStringLiteral("%1x%2 in %3 ms, peak +%4 MB%5").arg(o.size.width()).arg(o.size.height())
        .arg(o.ms, 0, 'f', 1).arg(o.peakGrowth / kMB).arg(o.error.isEmpty() ? QString() : QStringLiteral(", ") + o.error);
}

void put16(QByteArray &b, quint16 v)
{
    b += char(v & 0xff);
    b += char(v >> 8);
}
void put32(QByteArray &b, quint32 v)
{
    put16(b, quint16(v & 0xffff));
    put16(b, quint16(v >> 16));
}

// A DIB header (40 bytes) and a two-colour palette; `height` as stored (doubled for icons).
QByteArray dibHeader(qint32 width, qint32 height, int bpp, quint32 compression)
{
    QByteArray b;
    put32(b, 40);
    put32(b, quint32(width));
    put32(b, quint32(height));
    put16(b, 1);
    put16(b, quint16(bpp));
    put32(b, compression);
    for (int i = 0; i < 5; ++i)
        put32(b, 0);
    put32(b, 0x00000000);
    put32(b, 0x00ffffff);
    return b;
}

QByteArray bmpFile(const QByteArray &dib, const QByteArray &bits)
{
    QByteArray b("BM");
    put32(b, quint32(14 + dib.size() + bits.size()));
    put32(b, 0);
    put32(b, quint32(14 + dib.size()));
    return b + dib + bits;
}

QByteArray icoFile(const QByteArray &image)
{
    QByteArray b;
    put16(b, 0);
    put16(b, 1);
    put16(b, 1);
    b += QByteArray("\0\0\2\0", 4);
    put16(b, 1);
    put16(b, 1);
    put32(b, quint32(image.size()));
    put32(b, 22);
    return b + image;
}

}  // namespace

class TestPictureBudget : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
    }

    // Size arithmetic on header values saturates instead of wrapping, and the budget
    // judges the true product.
    void sizeArithmeticCannotOverflow()
    {
        using namespace pel::picture::detail;
        QCOMPARE(decodedBytes(QSize(INT_MAX, INT_MAX)), INT64_MAX);
        QCOMPARE(mulSat(qint64(1) << 40, qint64(1) << 40), INT64_MAX);
        QCOMPARE(decodedBytes(QSize(46341, 46341)), qint64(46341) * 46341 * 4);
        QString error;
        QVERIFY(!withinBudget(QSize(INT_MAX, INT_MAX), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(withinBudget(QSize(8000, 6000), nullptr));
    }

    // Every hostile file of the shared corpus and every regression input of the
    // fuzzers: refused, or shown at the size asked for, within the budget.
    void hostileFilesStayWithinBudget_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("preview");
        QStringList files;
        for (const QString &dir : {pel::test::corpusDir() + QStringLiteral("/hostile"),
                                   pel::test::sourceDir() + QStringLiteral("/tests/fuzz/regressions")}) {
            QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString f = it.next();
                if (!f.endsWith(QLatin1String(".py")))
                    files << f;
            }
        }
        files.sort();
        QVERIFY(files.size() >= 10);
        for (const QString &f : files) {
            const QString name = QFileInfo(f).fileName();
            QTest::newRow(qPrintable(name + QStringLiteral(" preview"))) << f << true;
            QTest::newRow(qPrintable(name + QStringLiteral(" natural"))) << f << false;
        }
    }
    void hostileFilesStayWithinBudget()
    {
        QFETCH(QString, file);
        QFETCH(bool, preview);
        const QSize target = preview ? QSize(267, 200) : QSize();
        const Outcome o = inChild(openAndRender(file, target), 60000);
        QVERIFY2(o.finished, qPrintable(describe(o)));
        QVERIFY2(o.size.isEmpty() ? !o.error.isEmpty() : (preview ? o.size == target : true), qPrintable(describe(o)));
        QVERIFY2(o.ms < (preview ? 2000 : 10000), qPrintable(describe(o)));
        QVERIFY2(o.peakGrowth < (preview ? 700 * kMB : 2048 * kMB), qPrintable(describe(o)));
    }

    // A large picture is shown only when its file can hold it (half its rows, or half
    // the shortest run-length coding of them); when it can, a preview still never
    // holds the natural size: run-length data and icons are decoded into the box.
    void filesMustHoldTheirPixels()
    {
        const int side = 8192;  // 256 MB decoded, far beyond what is trusted blindly
        const qint64 rowBytes = side / 8;
        const QByteArray bits(rowBytes * side, '\x5a');
        // Run-length rows at their shortest: 33 runs of up to 255 pixels and an end of line.
        QByteArray rle;
        for (int y = 0; y < side; ++y) {
            for (int left = side; left > 0; left -= 255) {
                rle += char(std::min(left, 255));
                rle += char(y % 2);
            }
            rle += QByteArray("\0\0", 2);
        }
        rle += QByteArray("\0\1", 2);
        struct Case {
            const char *name;
            QByteArray bytes;
            bool shown;
        };
        const Case cases[] = {
            {"bmp all rows", bmpFile(dibHeader(side, side, 1, 0), bits), true},
            {"bmp half the rows", bmpFile(dibHeader(side, side, 1, 0), bits.left(bits.size() / 2)), true},
            {"bmp under half", bmpFile(dibHeader(side, side, 1, 0), bits.left(bits.size() / 2 - rowBytes)), false},
            {"rle all rows", bmpFile(dibHeader(side, side, 8, 1), rle), true},
            {"rle a quarter", bmpFile(dibHeader(side, side, 8, 1), rle.left(rle.size() / 4)), false},
            {"icon all rows", icoFile(dibHeader(side, 2 * side, 1, 0) + bits), true},
            {"icon under half", icoFile(dibHeader(side, 2 * side, 1, 0) + bits.left(bits.size() / 3)), false},
        };
        for (const Case &c : cases) {
            const QString path = tmp.filePath(QString::fromLatin1(c.name));
            QVERIFY(writeFile(path, c.bytes));
            QString error;
            const auto pic = PictureFile::open(QFile::encodeName(path), 15.0, &error);
            QVERIFY2(bool(pic) == c.shown, c.name);
            QVERIFY2(c.shown || !error.isEmpty(), c.name);
            if (!pic)
                continue;
            QCOMPARE(pic->pixelSize(), QSize(side, side));
            const Outcome o = inChild(openAndRender(path, QSize(267, 200)), 60000);
            QVERIFY2(o.finished && o.size == QSize(267, 200), qPrintable(QLatin1String(c.name) + QLatin1Char(' ') + describe(o)));
            QVERIFY2(o.peakGrowth < 64 * kMB, qPrintable(QLatin1String(c.name) + QLatin1Char(' ') + describe(o)));
        }
    }

    // A natural-size decode holds the picture and a band of the file, nothing more
    // (the box reduction once allocated 16 bytes a pixel even when it did not reduce).
    void naturalDecodeHoldsThePictureOnly()
    {
        const int w = 2000, h = 1500;
        QByteArray rows(qsizetype(w) * 3 * h, '\0');
        for (qsizetype i = 0; i < rows.size(); ++i)
            rows[i] = char(i * 7 % 251);
        const QString path = tmp.filePath(QStringLiteral("photo.bmp"));
        QByteArray dib = dibHeader(w, h, 24, 0);
        dib.chop(8);  // no palette at 24 bits
        QVERIFY(writeFile(path, bmpFile(dib, rows)));
        const Outcome o = inChild(openAndRender(path, QSize()), 60000);
        QVERIFY2(o.finished && o.size == QSize(w, h), qPrintable(describe(o)));
        const qint64 picture = qint64(w) * h * 4;
        QVERIFY2(o.peakGrowth < picture + 8 * kMB, qPrintable(describe(o)));
    }

    // A JPEG that is more warnings than picture (here scans refining coefficients that
    // were never sent) is garbage, not a damaged photo: refused.
    void jpegWarningFloodEndsTheDecode()
    {
        const QString path = pel::test::sourceDir() +
                             QStringLiteral("/tests/fuzz/regressions/jpeg/progressive-refinements-without-data-flood-warnings.jpg");
        const auto pic = PictureFile::open(QFile::encodeName(path), 15.0);
        QVERIFY(pic);
        QString error;
        QVERIFY(pic->render(QSize(8, 8), &error).isNull());
        QVERIFY2(error.contains(QLatin1String("warnings")), qPrintable(error));
    }

    // Formats left to Qt's readers: a TIFF (under a picture's name) that would need more
    // than 640 MB is refused, a smaller one shown; a PNG whose comment claims more bytes
    // than the file holds is refused before the PNG library allocates them (1.8 GB).
    void qtFormatsWithinBudget()
    {
        QByteArray png("\x89PNG\r\n\x1a\n", 8);
        auto chunk = [&png](const char *type, const QByteArray &data, quint32 length) {
            png += char(length >> 24);
            png += char(length >> 16);
            png += char(length >> 8);
            png += char(length);
            png += type;
            png += data;
            png += QByteArray(4, '\0');  // CRC: the reader only warns
        };
        chunk("IHDR", QByteArray::fromHex("00000010000000100800000000"), 13);
        chunk("tEXt", QByteArray(64, 'x'), 0x70000000);
        const QString comment = tmp.filePath(QStringLiteral("comment.jpg"));
        QVERIFY(writeFile(comment, png));
        const Outcome o = inChild(openAndRender(comment, QSize(267, 200)), 20000);
        QVERIFY2(o.finished && o.size.isEmpty() && !o.error.isEmpty() && o.peakGrowth < 64 * kMB, qPrintable(describe(o)));

        auto tiff = [](quint32 side) {
            QByteArray b("II*\0", 4);
            put32(b, 8);
            const quint16 tags[][3] = {{256, 4, 0}, {257, 4, 0}, {258, 3, 8}, {259, 3, 1},
                                       {262, 3, 1}, {273, 4, 200}, {278, 4, 0}, {279, 4, 0}};
            put16(b, 8);
            for (const auto &t : tags) {
                put16(b, t[0]);
                put16(b, t[1]);
                put32(b, 1);
                put32(b, t[0] == 256 || t[0] == 257 || t[0] == 278 ? side : t[0] == 279 ? side * side : t[2]);
            }
            put32(b, 0);
            return b + QByteArray(200 - b.size(), '\0') + QByteArray(64, '\x7f');
        };
        const QString huge = tmp.filePath(QStringLiteral("huge-tiff.bmp"));
        QVERIFY(writeFile(huge, tiff(20000)));
        QString error;
        QVERIFY(!PictureFile::open(QFile::encodeName(huge), 15.0, &error));
        QVERIFY(!error.isEmpty());
        const QString small = tmp.filePath(QStringLiteral("small-tiff.bmp"));
        QVERIFY(writeFile(small, tiff(4)));
        const auto pic = PictureFile::open(QFile::encodeName(small), 15.0, &error);
        QVERIFY2(pic, qPrintable(error));
        QCOMPARE(pic->pixelSize(), QSize(4, 4));
    }

    // A named pipe, a device or a folder under a picture's name is refused at once,
    // also when it replaces a file between opening and decoding.
    void onlyRegularFilesAreRead()
    {
        const QString fifo = tmp.filePath(QStringLiteral("pipe.jpg"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("folder.bmp")));
        for (const QString &path : {fifo, tmp.filePath(QStringLiteral("folder.bmp")), QStringLiteral("/dev/zero")}) {
            const Outcome o = inChild(openAndRender(path, QSize(267, 200)), 5000);
            QVERIFY2(o.finished && o.size.isEmpty() && !o.error.isEmpty(), qPrintable(path + QLatin1Char(' ') + describe(o)));
        }

        const QString swapped = tmp.filePath(QStringLiteral("swapped.bmp"));
        QByteArray dib = dibHeader(4, 4, 24, 0);
        dib.chop(8);
        QVERIFY(writeFile(swapped, bmpFile(dib, QByteArray(48, '\x40'))));
        const Outcome o = inChild([swapped](QString *error) {
            const auto pic = PictureFile::open(QFile::encodeName(swapped), 15.0, error);
            if (!pic || !QFile::remove(swapped) || mkfifo(QFile::encodeName(swapped).constData(), 0600) != 0)
                return QImage(1, 1, QImage::Format_RGB32);  // not the case under test
            return pic->render(QSize(2, 2), error);
        }, 5000);
        QVERIFY2(o.finished && o.size.isEmpty() && !o.error.isEmpty(), qPrintable(describe(o)));
    }
};

QTEST_MAIN(TestPictureBudget)
#include "test_picture_budget.moc"
