// The preview box: centred at natural size, stretched when larger, the bad-file
// message, and a clean box between pictures.
#include "picture/test_wmf_builder.h"
#include "support/windows.h"

using namespace pel;
using namespace pel::test;

class TestPreview : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    Form1 *f = nullptr;

    void pick(const QString &name) { QVERIFY2(fx.pick(name), qPrintable("not listed: " + name)); }

private slots:
    void init()
    {
        QDir d(fx.folder());
        d.removeRecursively();
        QDir().mkpath(fx.folder());
        makePicture(d.filePath("small.bmp"), 200, 150, "BMP");
        makePicture(d.filePath("large.jpg"), 1600, 400, "JPG");
        makePicture(d.filePath("wide.bmp"), 267, 10, "BMP");   // 4005 twips wide
        makePicture(d.filePath("edge.bmp"), 266, 200, "BMP");  // 3990 x 3000: fits
        makePicture(d.filePath("tall.bmp"), 10, 201, "BMP");   // 3015 twips high
        writeText(d.filePath("notes.bmp"), "a text file, not a picture\n");
        makePicture(d.filePath("x.bmp"), 30, 30, "JPG");       // a JPEG under a BMP name
        f = &fx.start();
    }
    void cleanup() { fx.stop(); }

    void smallPictureIsCentredAtNaturalSize()
    {
        pick("small.bmp");
        QCOMPARE(f->canvas->painted().size(), 1);
        const auto &p = f->canvas->painted().first();
        QCOMPARE(p.twips, QRectF(700, 1075, 3000, 2250));
        QCOMPARE(p.image.size(), QSize(200, 150));
        QCOMPARE(f->Image1->Width(), 3000.0);
        QCOMPARE(f->Image1->Height(), 2250.0);
        QVERIFY(fx.shown().isEmpty());
    }

    void largerPicturesAreStretchedOverTheBox_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("wide and low") << "large.jpg";
        QTest::newRow("one pixel too wide") << "wide.bmp";
        QTest::newRow("one pixel too high") << "tall.bmp";
    }
    void largerPicturesAreStretchedOverTheBox()
    {
        QFETCH(QString, name);
        pick(name);
        QCOMPARE(f->canvas->painted().size(), 1);
        const auto &p = f->canvas->painted().first();
        QCOMPARE(p.twips, QRectF(200, 700, 4000, 3000));
        QCOMPARE(p.image.size(), QSize(267, 200));
    }

    void pictureThatFitsExactlyIsNotStretched()
    {
        pick("edge.bmp");
        const auto &p = f->canvas->painted().first();
        QCOMPARE(p.twips, QRectF(205, 700, 3990, 3000));
        QCOMPARE(p.image.size(), QSize(266, 200));
    }

    void pictureExactlyAsWideAsTheBoxIsNotStretched()
    {
        // A metafile holds its size in twips: exactly 4000 x 1500.
        const QByteArray wmf = WmfBuilder()
                                   .placeable(QRect(0, 0, 4000, 1500), 1440)
                                   .window(0, 0, 4000, 1500)
                                   .brush(Qt::red)
                                   .rect(0, 0, 4000, 1500)
                                   .bytes();
        writeText(QDir(fx.folder()).filePath("box.wmf"), wmf);
        f->File1->Refresh();
        f->disp_data1();
        pick("box.wmf");
        QVERIFY(fx.shown().isEmpty());
        QCOMPARE(f->canvas->painted().size(), 1);
        QCOMPARE(f->canvas->painted().first().twips, QRectF(200, 1450, 4000, 1500));
    }

    void eachPreviewClearsTheLastOne()
    {
        pick("large.jpg");
        pick("small.bmp");
        QCOMPARE(f->canvas->painted().size(), 1);
        QCOMPARE(f->canvas->painted().first().image.size(), QSize(200, 150));
    }

    void contentDecidesNotTheName()
    {
        pick("notes.bmp");
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().first().prompt, QStringLiteral("画像ファイルが異常です\r\nnotes.bmp"));
        QCOMPARE(fx.shown().first().buttons, 0);
        QCOMPARE(fx.shown().first().title, QStringLiteral("pelorinax"));
        QVERIFY(f->canvas->painted().isEmpty());
        QCOMPARE(Module1::file_name, QStringLiteral("notes.bmp"));
        QCOMPARE(f->List1->Text(), QStringLiteral("notes.bmp"));
        pick("x.bmp");   // the next good file previews normally
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(f->canvas->painted().size(), 1);
    }

    void badPreviewKeepsTheLastPictureInImage1()
    {
        pick("small.bmp");
        pick("notes.bmp");
        QCOMPARE(f->Image1->Width(), 3000.0);
    }

    void fileGoneAfterListingGivesTheMessage()
    {
        QFile::remove(QDir(fx.folder()).filePath("small.bmp"));
        pick("small.bmp");
        QCOMPARE(fx.shown().size(), 1);
        QVERIFY(f->canvas->painted().isEmpty());
    }

    void doubledSeparatorAtTheRootStillOpens()
    {
        f->File1->setPath("/");
        const QString rel = QDir(fx.folder()).filePath("small.bmp").mid(1);
        QCOMPARE(f->fullPath(rel), "//" + rel);
        Module1::file_name = rel;
        f->disp_picture();
        QVERIFY(fx.shown().isEmpty());
        QCOMPARE(f->canvas->painted().size(), 1);
    }
};

QTEST_MAIN(TestPreview)
#include "test_preview.moc"
