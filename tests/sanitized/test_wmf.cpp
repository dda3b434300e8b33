// The WMF reader under AddressSanitizer and UndefinedBehaviorSanitizer: every metafile
// of the corpus (good, bad, EMF), hand-made hostile records and bitmaps, truncations
// and random mutations go through parse() and render().
#include "picture/test_wmf_builder.h"
#include "picture/wmf.h"
#include "support/files.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QtTest>

using pel::test::readFile;
using pel::test::WmfBuilder;
using pel::wmf::Document;

namespace {

const QString kCorpus = QStringLiteral(PEL_CORPUS_DIR);

// Parses and, when accepted, renders small and at a capped natural size.
// Returns whether the bytes were accepted.
bool exercise(const QByteArray &bytes)
{
    const auto doc = Document::parse(bytes);
    if (!doc) return false;
    const QSizeF twips = doc->sizeTwips();
    if (!(twips.width() > 0 && twips.height() > 0)) qFatal("accepted with an empty size");
    if (doc->render(QSize(48, 36)).isNull()) qFatal("render failed");
    QSize px = (twips / 15).toSize().expandedTo(QSize(1, 1));
    if (px.width() > 300 || px.height() > 300) px.scale(300, 300, Qt::KeepAspectRatio);
    doc->render(px.expandedTo(QSize(1, 1)));
    return true;
}

QByteArray dib(int headerSize, int w, int h, int bits, int compression, int colors, const QByteArray &rest)
{
    QByteArray b;
    WmfBuilder::put32(b, quint32(headerSize));
    if (headerSize == 12) {
        WmfBuilder::put16(b, quint16(w));
        WmfBuilder::put16(b, quint16(h));
        WmfBuilder::put16(b, 1);
        WmfBuilder::put16(b, quint16(bits));
        return b + rest;
    }
    WmfBuilder::put32(b, quint32(w));
    WmfBuilder::put32(b, quint32(h));
    WmfBuilder::put16(b, 1);
    WmfBuilder::put16(b, quint16(bits));
    WmfBuilder::put32(b, quint32(compression));
    WmfBuilder::put32(b, 0);
    WmfBuilder::put32(b, 0);
    WmfBuilder::put32(b, 0);
    WmfBuilder::put32(b, quint32(colors));
    WmfBuilder::put32(b, 0);
    b += QByteArray(headerSize - 40, '\0');
    return b + rest;
}

QList<QByteArray> bitmaps()
{
    const QByteArray gray16 = QByteArray::fromHex("00000000808080ffffffff00");
    QList<QByteArray> out;
    out << dib(40, 8, 8, 1, 0, 2, gray16.left(8) + QByteArray(32, '\x55'));
    out << dib(40, 9, 3, 4, 0, 3, gray16 + QByteArray(12, '\x12'));
    out << dib(40, 5, -5, 8, 0, 0, QByteArray(1024, '\x01') + QByteArray(40, '\xfe'));
    out << dib(40, 7, 7, 16, 0, 0, QByteArray(7 * 16, '\x7f'));
    out << dib(40, 7, 7, 16, 3, 0, QByteArray::fromHex("00f80000e00700001f000000") + QByteArray(7 * 16, '\x3c'));
    out << dib(40, 3, 3, 32, 3, 0, QByteArray::fromHex("000000ff0000ff0000ff0000") + QByteArray(36, '\x99'));
    out << dib(108, 3, 3, 32, 3, 0, QByteArray(36, '\x42'));
    out << dib(12, 4, 4, 8, 0, 0, QByteArray(3 * 256, '\x10') + QByteArray(16, '\x03'));
    // RLE8 with runs, an absolute run, a delta past the edge and an early end.
    out << dib(40, 6, 6, 8, 1, 2, gray16.left(8) + QByteArray::fromHex("05010003000100000002ff04ff0000000001"));
    out << dib(40, 6, 6, 8, 1, 2, gray16.left(8) + QByteArray::fromHex("0005010100"));  // absolute run cut short
    out << dib(40, 6, -6, 8, 1, 2, gray16.left(8) + QByteArray::fromHex("0401"));     // top-down RLE: refused
    out << dib(40, 9, 4, 4, 2, 4, gray16 + QByteArray::fromHex("0912000512345000000209020001"));
    out << dib(40, 30000, 30000, 8, 1, 0, QByteArray::fromHex("ff01ff01ff010002ffff0001"));
    out << dib(40, 2, 2, 24, 4, 0, QByteArray(64, '\xd8'));  // JPEG inside: not supported
    out << dib(40, 2, 2, 24, 0, 0, QByteArray());              // no bits at all
    out << QByteArray::fromHex("28000000");                    // header cut short
    return out;
}

}  // namespace

class TestWmfSanitized : public QObject {
    Q_OBJECT
private slots:
    void corpusFiles();
    void bitmapsInEveryRecord();
    void hostileRecords();
    void truncations();
    void mutations();
};

void TestWmfSanitized::corpusFiles()
{
    if (!QDir(kCorpus).exists()) QSKIP("picture corpus not found next to the project (../shared/corpus)");
    int accepted = 0, refused = 0;
    for (const QString sub : {"/wmf", "/emf"}) {
        QDirIterator it(kCorpus + sub, {"*.wmf", "*.emf", "*.WMF"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const bool ok = exercise(readFile(path));
            if (path.contains("/good/")) QVERIFY2(ok, qPrintable(path));
            if (path.endsWith(".emf")) QVERIFY2(!ok, qPrintable(path));
            ok ? ++accepted : ++refused;
        }
    }
    QVERIFY(accepted >= 25 && refused >= 10);
}

void TestWmfSanitized::bitmapsInEveryRecord()
{
    for (const QByteArray &bmp : bitmaps()) {
        for (int cut : {0, 1, 7}) {  // the bitmap as is, and with its last bytes missing
            const QByteArray d = bmp.left(bmp.size() - cut);
            WmfBuilder b;
            b.window(0, 0, 100, 100);
            b.rec(WmfBuilder::StretchDib, {0x0020, 0x00CC, 0, 4, 4, 1, 1, 50, -50, 90, 10}, d);
            b.rec(WmfBuilder::StretchDib, {0x00C6, 0x0088, 1, 4, 4, 0, 0, 50, 50, 0, 0}, d);  // SRCAND, palette indexes
            b.rec(WmfBuilder::DibBitBlt, {0x0086, 0x00EE, 0, 0, 3, 3, 20, 20}, d);           // SRCPAINT
            b.rec(0x0B41, {0x0008, 0x0033, 9, 9, -3, -3, 60, 60, 5, 5}, d);                  // DibStretchBlt, NOTSRCCOPY
            b.rec(0x0D33, {0, 3, 0, 0, 0, 3, 3, 40, 40}, d);                                 // SetDIBitsToDevice
            b.rec(WmfBuilder::DibCreatePatternBrush, {5, 0}, d).select(0).rect(0, 0, 100, 100);
            QVERIFY(exercise(b.bytes()));
        }
    }
}

void TestWmfSanitized::hostileRecords()
{
    auto base = [] { return WmfBuilder(200).window(0, 0, 100, 100).brush(Qt::red).select(0); };
    QVERIFY(!exercise(base().rawRecord(0, WmfBuilder::Rectangle).bytes()));
    QVERIFY(!exercise(base().rawRecord(0xFFFFFFFF, WmfBuilder::Polygon, QByteArray(4, 1)).bytes()));
    QVERIFY(!exercise(base().rawRecord(2, WmfBuilder::Polygon).bytes()));

    WmfBuilder many = base();
    // Every parameter layout with too few or absurd parameters.
    const QList<quint16> funcs = {0x001E, 0x0127, 0x0102, 0x0103, 0x0104, 0x0106, 0x0108, 0x0201, 0x0209, 0x020B,
                                  0x020C, 0x020D, 0x020E, 0x020F, 0x0211, 0x0213, 0x0214, 0x0220, 0x0228, 0x012E,
                                  0x012C, 0x012D, 0x012A, 0x012B, 0x01F0, 0x0324, 0x0325, 0x0410, 0x0412, 0x0415,
                                  0x0416, 0x0418, 0x041B, 0x041F, 0x0429, 0x0521, 0x0538, 0x061C, 0x061D, 0x0817,
                                  0x081A, 0x0830, 0x0940, 0x0A32, 0x0B41, 0x0D33, 0x0F43, 0x00F7, 0x01F9, 0x02FA,
                                  0x02FB, 0x02FC, 0x02FD, 0x06FE, 0x06FF, 0x0142};
    for (quint16 f : funcs) {
        many.rec(f, {});
        many.rec(f, {-1});
        many.rec(f, {32767, -32768, 32767, -32768, 1, 0, 0, 0});
        many.rec(f, {-32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768});
        many.rec(f, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    }
    // A region whose scan count runs past the record, then used every way a region can be.
    many.rec(0x06FF, {0, 6, 0, 0, 40, 9000, 3, 0, 0, 50, 50, 2, 0, 50, 0, 50, 2, 60000});
    many.rec(0x06FF, {0, 6, 0, 0, 40, 1, 3, 0, 0, 50, 50, 2, 0, 50, 0, 50, 2});
    many.rec(0x012C, {1}).rec(0x0220, {5, 5}).rec(0x0228, {2, 0}).rec(0x0429, {2, 0, 3, 3}).rec(0x012B, {2});
    many.rec(0x0415, {50, 50, 10, 10}).rec(0x0416, {-5, -5, 5, 5}).rec(0x0220, {-32768, 32767});
    many.rec(WmfBuilder::SetMapMode, {7}).rec(WmfBuilder::SetViewportExt, {-1, 3}).rect(0, 0, 9, 9);
    many.rec(0x0412, {0, 1, 0, 1}).rec(0x0410, {-32768, 32767, 1, -32768}).rect(0, 0, 9, 9);
    // Text: every alignment, huge and tiny fonts, Dx arrays of the wrong length.
    for (int align : {0, 1, 2, 6, 8, 24, 25, 31}) {
        many.rec(WmfBuilder::SetTextAlign, {align});
        many.font(align * 10 - 40, align & 1 ? 128 : 2, align & 2 ? "Symbol" : "");
        many.select(1).rec(WmfBuilder::DeleteObject, {1});
        many.textOut(5, 5, "\x81\x40\x82");
        many.rec(WmfBuilder::ExtTextOut, {5, 5, 3, 6, 0, 0, 50, 50}, QByteArray("\x93\xfa\x96", 3) + QByteArray(3, 9));
        many.rec(WmfBuilder::ExtTextOut, {5, 5, 2, 0}, "ab");
    }
    for (int i = 0; i < 2000; ++i) many.rec(WmfBuilder::SaveDC, {});
    many.rec(WmfBuilder::RestoreDC, {5}).rec(WmfBuilder::RestoreDC, {-3000});
    QVERIFY(exercise(many.bytes()));
    QVERIFY(exercise(many.bytes(false)));
}

void TestWmfSanitized::truncations()
{
    const QByteArray full = readFile(kCorpus + "/wmf/good/wmf2svg/fulltest.wmf");
    if (full.isEmpty()) QSKIP("picture corpus not found next to the project (../shared/corpus)");
    for (qsizetype len = 0; len < full.size(); len += 41) exercise(full.left(len));
}

void TestWmfSanitized::mutations()
{
    const QStringList files = {"/wmf/good/wmf2svg/fulltest.wmf", "/wmf/good/libwmf/fjftest.wmf",
                               "/wmf/good/poi/60677.wmf", "/wmf/good/libwmf/formula1.wmf"};
    QRandomGenerator rng(20240607);  // fixed seed: the same cases on every run
    int tried = 0;
    for (const QString &name : files) {
        const QByteArray original = readFile(kCorpus + name);
        if (original.isEmpty()) QSKIP("picture corpus not found next to the project (../shared/corpus)");
        for (int round = 0; round < 120; ++round) {
            QByteArray b = original;
            const int flips = 1 + int(rng.bounded(8));
            for (int k = 0; k < flips; ++k) {
                const qsizetype at = rng.bounded(int(b.size()));
                switch (rng.bounded(3)) {
                case 0: b[at] = char(rng.bounded(256)); break;
                case 1: b[at] = char(0xFF); break;
                default: b[at] = 0; break;
                }
            }
            exercise(b);
            ++tried;
        }
    }
    QCOMPARE(tried, 480);
}

QTEST_MAIN(TestWmfSanitized)
#include "test_wmf.moc"
