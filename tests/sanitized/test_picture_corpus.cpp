// Every file of the picture corpus, and damaged copies of the good ones, through
// open() and render() under AddressSanitizer and UndefinedBehaviorSanitizer.
#include "picture/picture.h"
#include "support/files.h"

#include <QFile>
#include <QDirIterator>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using pel::test::readFile;
using pel::test::writeFile;
using pel::PictureFile;

namespace {

QString corpus() { return QStringLiteral(PEL_CORPUS_DIR); }

QStringList corpusFiles(const QString &under = QString())
{
    QStringList files;
    QDirIterator it(corpus() + under, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

bool isGoodRaster(const QString &path)
{
    return path.contains(QLatin1String("/good/")) &&
           (path.contains(QLatin1String("/bmp/")) || path.contains(QLatin1String("/jpeg/")) ||
            path.contains(QLatin1String("/ico/")));
}

// Opens and renders at several sizes; returns false when open() refused.
// Every image that comes back must have exactly the size asked for.
bool exercise(const QString &path, QString *why)
{
    QString error;
    auto pic = PictureFile::open(QFile::encodeName(path), 15.0, &error);
    if (!pic) {
        *why = error;
        return false;
    }
    const QSize natural = pic->pixelSize();
    if (natural.isEmpty() || pic->sizeTwips().isEmpty()) {
        *why = QStringLiteral("opened with an empty size");
        return true;
    }
    const QSize targets[] = {QSize(), QSize(267, 200), QSize(7, 5), natural * 2};
    for (QSize t : targets) {
        QString renderError;
        const QImage img = pic->render(t, &renderError);
        const QSize want = t.isEmpty() ? natural : t;
        if (!img.isNull() && img.size() != want)
            *why += QStringLiteral("render(%1x%2) gave %3x%4; ")
                        .arg(want.width()).arg(want.height()).arg(img.width()).arg(img.height());
        if (img.isNull() && renderError.isEmpty())
            *why += QStringLiteral("render refused without saying why; ");
    }
    QImage canvas(120, 90, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    pic->paint(painter, QRectF(10, 10, 100, 70));
    return true;
}

void put16(QByteArray &b, int at, quint16 v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char(v >> 8);
}
void put32(QByteArray &b, int at, quint32 v)
{
    put16(b, at, quint16(v & 0xffff));
    put16(b, at + 2, quint16(v >> 16));
}

QByteArray bmpHeader(qint32 w, qint32 h, int bpp, quint32 compression, int paletteEntries)
{
    QByteArray b(14 + 40 + paletteEntries * 4, '\0');
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 10, quint32(b.size()));
    put32(b, 14, 40);
    put32(b, 18, quint32(w));
    put32(b, 22, quint32(h));
    put16(b, 26, 1);
    put16(b, 28, quint16(bpp));
    put32(b, 30, compression);
    return b;
}

}  // namespace

class TestPictureCorpus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QDir(corpus()).exists())
            QSKIP("picture corpus not found next to the project (../shared/corpus)");
    }

    // Good raster files must load and render; EMF must be refused; nothing may crash.
    void wholeCorpus()
    {
        const QStringList files = corpusFiles();
        QVERIFY(files.size() > 300);
        QStringList failures;
        int opened = 0;
        for (const QString &path : files) {
            QString why;
            const bool ok = exercise(path, &why);
            opened += ok;
            const QString rel = path.mid(corpus().size() + 1);
            if (isGoodRaster(path) && (!ok || !why.isEmpty()))
                failures << rel + QStringLiteral(": ") + why;
            else if (ok && !why.isEmpty())
                failures << rel + QStringLiteral(": ") + why;
            if (rel.startsWith(QLatin1String("emf/")) && ok)
                failures << rel + QStringLiteral(": an EMF was accepted");
        }
        qInfo("%d of %d corpus files opened", opened, int(files.size()));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }

    // Truncated and byte-flipped copies of every good raster file: refusal or a picture
    // of the asked size, never a crash.
    void damagedCopies()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        std::mt19937 rng(20240611);
        QStringList failures;
        int variants = 0;
        for (const QString &path : corpusFiles()) {
            if (!isGoodRaster(path))
                continue;
            const QByteArray bytes = readFile(path);
            QList<QByteArray> copies;
            for (int cut : {2, 8, 20, 54, 200}) {
                if (cut < bytes.size())
                    copies << bytes.left(cut);
            }
            copies << bytes.left(bytes.size() / 2) << bytes.left(bytes.size() - 1);
            for (int round = 0; round < 6; ++round) {
                QByteArray m = bytes;
                const int flips = 1 + int(rng() % 8);
                for (int i = 0; i < flips; ++i) {
                    // Headers matter most, so most flips land in the first bytes.
                    const int span = round % 2 ? int(m.size()) : std::min<int>(int(m.size()), 600);
                    m[int(rng() % quint32(span))] = char(rng() & 0xff);
                }
                copies << m;
            }
            for (const QByteArray &c : copies) {
                const QString file = dir.filePath(QStringLiteral("damaged.bin"));
                QVERIFY(writeFile(file, c));
                QString why;
                exercise(file, &why);
                ++variants;
                if (why.contains(QLatin1String(" gave ")) || why.contains(QLatin1String("without saying")))
                    failures << path + QStringLiteral(": ") + why;
            }
        }
        qInfo("%d damaged variants run", variants);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }

    // Headers that claim far more than the file could hold are refused up front.
    void bombsAreRefused()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        struct Case {
            const char *name;
            QByteArray bytes;
        };
        QByteArray rle = bmpHeader(40000, 40000, 8, 1, 2);
        rle += QByteArray("\x00\x01", 2);  // end of bitmap straight away
        QByteArray shortBmp = bmpHeader(20000, 20000, 24, 0, 0) + QByteArray(600, '\x7f');
        QByteArray huge = bmpHeader(60000, -60000, 32, 0, 0) + QByteArray(64, '\0');
        // A JPEG whose frame header claims 65000 x 65000.
        QByteArray jpeg = readFile(corpus() + QStringLiteral("/jpeg/good/jpeg-decoder-mozilla/jpg-size-8x8.jpg"));
        const int sof = int(jpeg.indexOf("\xff\xc0"));
        QVERIFY(sof > 0);
        put16(jpeg, sof + 5, 0xe8fd);  // big-endian 65000
        put16(jpeg, sof + 7, 0xe8fd);
        const Case cases[] = {{"rle", rle}, {"short", shortBmp}, {"huge", huge}, {"jpeg", jpeg}};
        for (const Case &c : cases) {
            const QString file = dir.filePath(QString::fromLatin1(c.name));
            QVERIFY(writeFile(file, c.bytes));
            QString error;
            QVERIFY2(!PictureFile::open(QFile::encodeName(file), 15.0, &error), c.name);
            QVERIFY2(!error.isEmpty(), c.name);
        }
    }
};

QTEST_MAIN(TestPictureCorpus)
#include "test_picture_corpus.moc"
