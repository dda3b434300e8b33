// The WMF reader and renderer: natural size, mapping, object table, text, bitmaps,
// hostile records and the shared corpus.
#include "picture/test_wmf_builder.h"
#include "picture/wmf.h"
#include "support/testsupport.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QPaintEngine>
#include <QPainter>
#include <QtTest>

using pel::test::WmfBuilder;
using pel::wmf::Document;

namespace {

QImage renderBytes(const QByteArray &bytes, QSize size)
{
    const auto doc = Document::parse(bytes);
    return doc ? doc->render(size) : QImage();
}

// Bounding box of the pixels that were painted (alpha above half).
QRect inkBox(const QImage &img)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) > 128) box |= QRect(x, y, 1, 1);
    return box;
}

bool near(QRgb a, QColor b, int tolerance = 40)
{
    return qAlpha(a) > 200 && std::abs(qRed(a) - b.red()) <= tolerance
           && std::abs(qGreen(a) - b.green()) <= tolerance && std::abs(qBlue(a) - b.blue()) <= tolerance;
}

int countColor(const QImage &img, QColor c)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += near(img.pixel(x, y), c, 30);
    return n;
}

// A paint device that records the text the renderer draws.
class TextRecorder : public QPaintDevice {
public:
    QStringList texts;
    QPaintEngine *paintEngine() const override { return &engine_; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: case PdmHeight: return 400;
        case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
        case PdmDepth: return 32;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(QPaintDevice::devicePixelRatioFScale());
        default: return 1;
        }
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(TextRecorder *owner) : QPaintEngine(AllFeatures), owner_(owner) {}
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &) override {}
        void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
        void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
        void drawPath(const QPainterPath &) override {}
        void drawTextItem(const QPointF &, const QTextItem &item) override { owner_->texts << item.text(); }
        Type type() const override { return User; }

    private:
        TextRecorder *owner_;
    };
    mutable Engine engine_{this};
};

QStringList recordedText(const QByteArray &bytes)
{
    const auto doc = Document::parse(bytes);
    if (!doc) return {"<refused>"};
    TextRecorder rec;
    QPainter p(&rec);
    doc->paint(p, QRectF(0, 0, 400, 400));
    p.end();
    return rec.texts;
}

// A 200x100 picture with one text record in a 40-unit font at (100, 50).
QByteArray alignedText(int align, int count = 1)
{
    WmfBuilder b;
    b.window(0, 0, 200, 100).font(-40, 0).select(0).rec(WmfBuilder::SetBkMode, {1});
    b.rec(WmfBuilder::SetTextAlign, {align}).rec(WmfBuilder::MoveTo, {50, 20});
    for (int i = 0; i < count; ++i) b.textOut(100, 50, "HH");
    return b.bytes();
}

}  // namespace

class TestWmf : public QObject {
    Q_OBJECT
private slots:
    void sizeRules_data();
    void sizeRules();
    void nothingToShowIsRefused();
    void negativeExtentsFlip();
    void objectTable();
    void objectTableLimits();
    void textDecoding_data();
    void textDecoding();
    void dxPlacesCharacters();
    void textAlignment();
    void textScalesWithPicture();
    void opaqueTextBackground();
    void penWidths();
    void embeddedBitmapAndClip();
    void hostileRecords_data();
    void hostileRecords();
    void drawingIsBudgeted();
    void truncatedFilesNeverCrash();
    void corpusGoodFilesRender();
    void corpusBadAndEmfRefused();
    void fulltestMatchesReference();
};

void TestWmf::sizeRules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSizeF>("twips");
    auto drawn = [](WmfBuilder b) { return b.brush(Qt::red).select(0).rect(10, 20, 110, 70).bytes(); };

    QTest::newRow("placeable 1440 per inch") << drawn(WmfBuilder().placeable({0, 0, 2880, 1440}, 1440).window(0, 0, 100, 100))
                                             << QSizeF(2880, 1440);
    QTest::newRow("placeable 2540 per inch") << drawn(WmfBuilder().placeable({0, 0, 27940, 21590}, 2540))
                                             << QSizeF(15840, 12240);
    QTest::newRow("placeable, offset box") << drawn(WmfBuilder().placeable({-1000, 500, 500, 250}, 1000))
                                           << QSizeF(720, 360);
    QTest::newRow("window extent as twips") << drawn(WmfBuilder().window(0, 0, 1000, 500)) << QSizeF(1000, 500);
    QTest::newRow("negative window extent") << drawn(WmfBuilder().window(0, 500, 1000, -500)) << QSizeF(1000, 500);
    QTest::newRow("zero units per inch falls back to the window")
        << drawn(WmfBuilder().placeable({0, 0, 2880, 1440}, 0).window(0, 0, 400, 300)) << QSizeF(400, 300);
    QTest::newRow("bounds of the drawing, in pixels") << drawn(WmfBuilder()) << QSizeF(100 * 15, 50 * 15);
    QTest::newRow("zero window extent is ignored")
        << drawn(WmfBuilder().rec(WmfBuilder::SetWindowExt, {0, 0})) << QSizeF(100 * 15, 50 * 15);
}

void TestWmf::sizeRules()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSizeF, twips);
    QString error;
    const auto doc = Document::parse(bytes, &error);
    QVERIFY2(doc, qPrintable(error));
    QCOMPARE(doc->sizeTwips(), twips);
    QVERIFY(!doc->render(QSize(64, 64)).isNull());
}

void TestWmf::nothingToShowIsRefused()
{
    QString error;
    QVERIFY(!Document::parse(WmfBuilder().brush(Qt::red).bytes(), &error));
    QVERIFY(!error.isEmpty());
    // A size alone is enough: an empty placeable picture is a valid blank picture.
    QVERIFY(Document::parse(WmfBuilder().placeable({0, 0, 100, 100}, 100).bytes()));
}

void TestWmf::negativeExtentsFlip()
{
    // y up: the rectangle at the top of the logical range lands at the top of the image.
    QImage img = renderBytes(
        WmfBuilder().window(0, 100, 100, -100).nullPen().brush(Qt::red).select(0).select(1).rect(0, 75, 50, 100).bytes(),
        QSize(100, 100));
    QVERIFY(near(img.pixel(10, 10), Qt::red));
    QCOMPARE(qAlpha(img.pixel(10, 90)), 0);
    // x mirrored: the right end of the logical range is on the left.
    img = renderBytes(
        WmfBuilder().window(100, 0, -100, 100).nullPen().brush(Qt::blue).select(0).select(1).rect(75, 0, 100, 50).bytes(),
        QSize(100, 100));
    QVERIFY(near(img.pixel(10, 10), Qt::blue));
    QCOMPARE(qAlpha(img.pixel(90, 10)), 0);
    // A viewport of the file's own maps the window onto it; both flips together.
    img = renderBytes(WmfBuilder()
                          .window(0, 0, 100, 100)
                          .rec(WmfBuilder::SetViewportOrg, {0, 0})
                          .rec(WmfBuilder::SetViewportExt, {-10, -10})
                          .nullPen().brush(Qt::green).select(0).select(1).rect(0, 0, 25, 25)
                          .bytes(),
                      QSize(100, 100));
    QVERIFY(near(img.pixel(90, 90), Qt::green));
    QCOMPARE(qAlpha(img.pixel(10, 10)), 0);
}

void TestWmf::objectTable()
{
    WmfBuilder b;
    b.window(0, 0, 100, 100).nullPen().brush(Qt::red).brush(Qt::blue);  // slots 0, 1, 2
    b.select(0).select(1).rect(0, 0, 50, 50);
    b.rec(WmfBuilder::DeleteObject, {1}).select(1).rect(50, 0, 100, 50);  // deleted: red stays
    b.select(77).rect(0, 50, 50, 100);                                    // out of range: ignored
    b.brush(Qt::green).select(1).rect(50, 50, 100, 100);                  // reuses the freed slot 1
    const QImage img = renderBytes(b.bytes(), QSize(100, 100));
    QVERIFY(near(img.pixel(25, 25), Qt::red));
    QVERIFY(near(img.pixel(75, 25), Qt::red));
    QVERIFY(near(img.pixel(25, 75), Qt::red));
    QVERIFY(near(img.pixel(75, 75), Qt::green));
}

void TestWmf::objectTableLimits()
{
    // A table of two: the third object finds no slot and is dropped.
    QImage img = renderBytes(
        WmfBuilder(2).window(0, 0, 10, 10).nullPen().brush(Qt::red).brush(Qt::blue).select(0).select(1).select(2).rect(0, 0, 10, 10).bytes(),
        QSize(10, 10));
    QVERIFY(near(img.pixel(5, 5), Qt::red));
    // A palette holds a slot like any object, so the brush after it sits at index 2.
    img = renderBytes(WmfBuilder(3)
                          .window(0, 0, 10, 10)
                          .rec(WmfBuilder::CreatePalette, {0x300, 1, 0, 0})
                          .brush(Qt::blue)
                          .brush(Qt::red)
                          .select(2)
                          .rect(0, 0, 10, 10)
                          .bytes(),
                      QSize(10, 10));
    QVERIFY(near(img.pixel(5, 5), Qt::red));
}

void TestWmf::textDecoding_data()
{
    QTest::addColumn<int>("charset");
    QTest::addColumn<QByteArray>("face");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("Shift_JIS") << 128 << QByteArray("MS Gothic") << QByteArray("\x93\xfa\x96\x7b\x8c\xea") << QStringLiteral("日本語");
    QTest::newRow("ANSI is Windows-1252") << 0 << QByteArray("Arial") << QByteArray("\x80 caf\xe9") << QStringLiteral("€ café");
    QTest::newRow("Russian") << 204 << QByteArray("Arial") << QByteArray("\xcf\xf0\xe8") << QStringLiteral("При");
    QTest::newRow("GB2312") << 134 << QByteArray("SimSun") << QByteArray("\xd6\xd0\xce\xc4") << QStringLiteral("中文");
    QTest::newRow("Symbol font letters are Greek") << 2 << QByteArray("Symbol") << QByteArray("abgD") << QStringLiteral("αβγΔ");
    // Equation editors: ellipses, arrows, ℏ and accents where Latin letters would be.
    QTest::newRow("MT Extra signs") << 2 << QByteArray("MT Extra") << QByteArray("LKaZh&")
                                    << QStringLiteral("⋯…↦↗ℏ˙");
    QTest::newRow("MT Extra under the ANSI charset") << 0 << QByteArray("MT Extra") << QByteArray("cM\xa1")
                                                     << QStringLiteral("⇕⋮ℝ");
    QTest::newRow("another font keeps its letters") << 2 << QByteArray("MT Symbolic") << QByteArray("LK") << QStringLiteral("LK");
}

void TestWmf::textDecoding()
{
    QFETCH(int, charset);
    QFETCH(QByteArray, face);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    // TextOut, through the font selected at the time.
    const QByteArray plain =
        WmfBuilder().window(0, 0, 400, 400).font(-20, 0).font(-20, charset, face).select(1).textOut(10, 10, bytes).bytes();
    QCOMPARE(recordedText(plain).join(QString()), text);

    // ExtTextOut with a Dx array: one entry per byte, so a double-byte character is
    // placed as a whole.
    QByteArray tail = bytes;
    if (tail.size() % 2) tail += '\0';
    for (int i = 0; i < bytes.size(); ++i) WmfBuilder::put16(tail, 15);
    const QByteArray spaced = WmfBuilder()
                                  .window(0, 0, 400, 400)
                                  .font(-20, charset, face)
                                  .select(0)
                                  .rec(WmfBuilder::ExtTextOut, {10, 10, int(bytes.size()), 0}, tail)
                                  .bytes();
    const QStringList pieces = recordedText(spaced);
    QCOMPARE(pieces.join(QString()), text);
    QCOMPARE(pieces.size(), text.size());
}

void TestWmf::dxPlacesCharacters()
{
    // Two Shift_JIS characters, 100 units per byte: the second one starts at x = 200,
    // whatever its own advance; on a raster image as on any other device.
    QByteArray tail("\x93\xfa\x96\x7b");
    for (int i = 0; i < 4; ++i) WmfBuilder::put16(tail, 100);
    const QImage img = renderBytes(WmfBuilder()
                                       .window(0, 0, 400, 100)
                                       .font(-40, 128, "MS Gothic")
                                       .select(0)
                                       .rec(WmfBuilder::SetBkMode, {1})
                                       .rec(WmfBuilder::ExtTextOut, {30, 0, 4, 0}, tail)
                                       .bytes(),
                                   QSize(400, 100));
    auto inkIn = [&](int from, int to) {
        QImage part = img.copy(from, 0, to - from, img.height());
        return !inkBox(part).isEmpty();
    };
    QVERIFY(inkIn(0, 45));
    QVERIFY(!inkIn(60, 190));
    QVERIFY(inkIn(200, 245));
    QVERIFY(!inkIn(260, 400));
}

void TestWmf::textAlignment()
{
    const QSize size(200, 100);
    const QRect left = inkBox(renderBytes(alignedText(0), size));  // TA_LEFT | TA_TOP
    QVERIFY(!left.isEmpty());
    QVERIFY(left.left() >= 99 && left.top() >= 49);
    const QRect right = inkBox(renderBytes(alignedText(2), size));
    QVERIFY(right.right() <= 101 && right.left() < 90);
    const QRect center = inkBox(renderBytes(alignedText(6), size));
    QVERIFY(center.left() < 95 && center.right() > 105);
    QVERIFY(std::abs((center.left() + center.right()) / 2 - 100) <= 3);
    const QRect baseline = inkBox(renderBytes(alignedText(24), size));
    QVERIFY(baseline.bottom() <= 51 && baseline.top() < 40);
    const QRect bottom = inkBox(renderBytes(alignedText(8), size));
    QVERIFY(bottom.bottom() < 50 && bottom.bottom() < baseline.bottom());
    // TA_UPDATECP: text starts at the current position (20, 50) and moves it along.
    const QRect once = inkBox(renderBytes(alignedText(1, 1), size));
    const QRect twice = inkBox(renderBytes(alignedText(1, 2), size));
    QVERIFY(once.left() >= 19 && once.left() < 30);
    QVERIFY(twice.right() > once.right() + 20);
}

void TestWmf::textScalesWithPicture()
{
    const QByteArray doc = alignedText(0);
    const QRect small = inkBox(renderBytes(doc, QSize(200, 100)));
    const QRect large = inkBox(renderBytes(doc, QSize(400, 200)));
    const double ratio = double(large.height()) / small.height();
    QVERIFY2(ratio > 1.8 && ratio < 2.2, qPrintable(QString::number(ratio)));
    QVERIFY(std::abs(double(large.width()) / small.width() - 2.0) < 0.2);
}

void TestWmf::opaqueTextBackground()
{
    auto withMode = [](int mode) {
        return WmfBuilder()
            .window(0, 0, 200, 100)
            .font(-40, 0)
            .select(0)
            .color(WmfBuilder::SetBkColor, Qt::yellow)
            .rec(WmfBuilder::SetBkMode, {mode})
            .textOut(10, 10, "Hi")
            .bytes();
    };
    QVERIFY(countColor(renderBytes(withMode(2), QSize(200, 100)), Qt::yellow) > 200);  // OPAQUE
    QCOMPARE(countColor(renderBytes(withMode(1), QSize(200, 100)), Qt::yellow), 0);    // TRANSPARENT
}

void TestWmf::penWidths()
{
    auto line = [](int width) {
        return WmfBuilder()
            .window(0, 0, 1000, 1000)
            .pen(Qt::black, width)
            .select(0)
            .rec(WmfBuilder::MoveTo, {500, 0})
            .rec(WmfBuilder::LineTo, {500, 1000})
            .bytes();
    };
    auto thickness = [](const QImage &img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y) n += qAlpha(img.pixel(200, y)) > 100;
        return n;
    };
    // Width 0 is one device pixel at any zoom; a real width scales with the picture.
    QVERIFY(thickness(renderBytes(line(0), QSize(400, 400))) <= 2);
    QVERIFY(thickness(renderBytes(line(0), QSize(400, 400))) >= 1);
    const int wide = thickness(renderBytes(line(100), QSize(400, 400)));
    QVERIFY2(wide >= 38 && wide <= 42, qPrintable(QString::number(wide)));
}

void TestWmf::embeddedBitmapAndClip()
{
    WmfBuilder b;
    b.window(0, 0, 100, 100);
    b.rec(WmfBuilder::StretchDib, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 100, 100, 0, 0}, pel::test::tinyDib());
    QImage img = renderBytes(b.bytes(), QSize(100, 100));
    QVERIFY(near(img.pixel(25, 25), Qt::red));
    QVERIFY(near(img.pixel(75, 25), Qt::green));
    QVERIFY(near(img.pixel(25, 75), Qt::blue));
    QVERIFY(near(img.pixel(75, 75), Qt::white));

    // IntersectClipRect limits drawing until RestoreDC widens the clip again.
    img = renderBytes(WmfBuilder()
                          .window(0, 0, 100, 100)
                          .nullPen()
                          .brush(Qt::red)
                          .select(0)
                          .select(1)
                          .rec(WmfBuilder::SaveDC, {})
                          .rec(WmfBuilder::IntersectClipRect, {50, 50, 0, 0})
                          .rect(0, 0, 100, 50)
                          .rec(WmfBuilder::RestoreDC, {-1})
                          .rect(0, 60, 100, 100)
                          .bytes(),
                      QSize(100, 100));
    QVERIFY(near(img.pixel(25, 25), Qt::red));
    QCOMPARE(qAlpha(img.pixel(75, 25)), 0);
    QVERIFY(near(img.pixel(75, 80), Qt::red));
}

void TestWmf::hostileRecords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expect");  // 0 refused, 1 accepted, 2 either
    auto base = [] { return WmfBuilder().window(0, 0, 100, 100).brush(Qt::red).select(0); };
    auto dib = [](int w, int h, int bits, const QByteArray &data) {
        QByteArray b;
        WmfBuilder::put32(b, 40);
        WmfBuilder::put32(b, quint32(w));
        WmfBuilder::put32(b, quint32(h));
        WmfBuilder::put16(b, 1);
        WmfBuilder::put16(b, quint16(bits));
        for (int i = 0; i < 6; ++i) WmfBuilder::put32(b, 0);
        return b + data;
    };
    const QList<int> blt = {0x0020, 0x00CC, 0, 2, 2, 0, 0, 100, 100, 0, 0};

    QTest::newRow("record size 0") << base().rawRecord(0, WmfBuilder::Rectangle).bytes() << 0;
    QTest::newRow("record size 1") << base().rawRecord(1, WmfBuilder::Rectangle).bytes() << 0;
    QTest::newRow("record past the end") << base().rect(0, 0, 9, 9).rawRecord(5000, WmfBuilder::Rectangle, QByteArray(8, 1)).bytes(false) << 0;
    QTest::newRow("polygon count beyond record") << base().rec(WmfBuilder::Polygon, {30000, 0, 0, 50, 50, 0, 50}).bytes() << 1;
    QTest::newRow("polyline count beyond record") << base().rec(WmfBuilder::Polyline, {-1, 0, 0, 50, 50}).bytes() << 1;
    QTest::newRow("polypolygon counts beyond record") << base().rec(WmfBuilder::PolyPolygon, {3, 30000, 2, 2, 0, 0, 9, 9}).bytes() << 1;
    QTest::newRow("polypolygon count beyond record") << base().rec(WmfBuilder::PolyPolygon, {30000, 1}).bytes() << 1;
    QTest::newRow("text length beyond record") << base().rec(WmfBuilder::TextOut, {5000}, "ab").bytes() << 1;
    QTest::newRow("text length negative") << base().rec(WmfBuilder::TextOut, {-4}, "ab").bytes() << 1;
    QTest::newRow("exttext length beyond record") << base().rec(WmfBuilder::ExtTextOut, {1, 1, 9000, 6, 0, 0, 5, 5}, "xy").bytes() << 1;
    {
        WmfBuilder b = base();
        for (int i = 0; i < 100000; ++i) b.rec(WmfBuilder::SaveDC, {});
        b.rect(0, 0, 50, 50).rec(WmfBuilder::RestoreDC, {-100000}).rec(WmfBuilder::RestoreDC, {-5});
        QTest::newRow("100000 nested SaveDC") << b.bytes() << 1;
    }
    QTest::newRow("RestoreDC without SaveDC") << base().rec(WmfBuilder::RestoreDC, {-3}).rec(WmfBuilder::RestoreDC, {7}).rect(0, 0, 9, 9).bytes() << 1;
    QTest::newRow("object index out of range") << base().select(65535).rec(WmfBuilder::DeleteObject, {40000}).rect(0, 0, 9, 9).bytes() << 1;
    {
        WmfBuilder b(65535);
        b.window(0, 0, 100, 100);
        for (int i = 0; i < 70000; ++i) b.brush(Qt::red);
        QTest::newRow("object table overflow") << b.select(65534).rect(0, 0, 50, 50).bytes() << 1;
    }
    {
        WmfBuilder b = base();
        for (int i = 0; i < 20000; ++i) b.rec(0x0415, {i % 90 + 2, i % 97 + 2, i % 90, i % 97});  // ExcludeClipRect
        QTest::newRow("20000 clip exclusions") << b.rect(0, 0, 100, 100).bytes() << 1;
    }
    QTest::newRow("zero object table") << WmfBuilder(0).window(0, 0, 9, 9).brush(Qt::red).select(0).rect(0, 0, 9, 9).bytes() << 1;
    QTest::newRow("zero window extent only") << WmfBuilder().rec(WmfBuilder::SetWindowExt, {0, 0}).rect(0, 0, 9, 9).bytes() << 1;
    QTest::newRow("zero viewport extent") << base().rec(WmfBuilder::SetViewportExt, {0, 5}).rect(0, 0, 9, 9).bytes() << 1;
    QTest::newRow("dib claims 30000x30000") << base().rec(WmfBuilder::StretchDib, blt, dib(30000, 30000, 24, QByteArray(8, 0))).bytes() << 1;
    QTest::newRow("dib claims 65535x65535 rle") << base().rec(WmfBuilder::StretchDib, blt, [&] {
        QByteArray d = dib(65535, 65535, 8, QByteArray(1024, 0) + QByteArray("\x00\x01", 2));
        d[16] = 1;  // BI_RLE8
        return d;
    }()).bytes() << 1;
    QTest::newRow("dib negative width") << base().rec(WmfBuilder::StretchDib, blt, dib(-5, 5, 24, QByteArray(100, 0))).bytes() << 1;
    QTest::newRow("dib odd bit count") << base().rec(WmfBuilder::StretchDib, blt, dib(2, 2, 7, QByteArray(100, 0))).bytes() << 1;
    QTest::newRow("dib header size huge") << base().rec(WmfBuilder::StretchDib, blt, QByteArray::fromHex("ffffff7f0200000002000000")).bytes() << 1;
    QTest::newRow("dib truncated bits") << base().rec(WmfBuilder::StretchDib, blt, dib(64, 64, 24, QByteArray(200, 0x7f))).bytes() << 1;
    QTest::newRow("dib pattern brush broken") << base().rec(WmfBuilder::DibCreatePatternBrush, {5, 0}, QByteArray(6, 0x28)).select(1).rect(0, 0, 9, 9).bytes() << 1;
    QTest::newRow("bitblt without bitmap") << base().rec(WmfBuilder::DibBitBlt, {0x0021, 0x00F0, 0, 0, 0, 50, 50, 0, 0}).bytes() << 1;
    QTest::newRow("huge font") << base().font(-32768, 128).select(1).textOut(0, 0, "\x93\xfa\x93").bytes() << 1;
    QTest::newRow("no EOF record") << base().rect(0, 0, 9, 9).bytes(false) << 1;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("text file") << QByteArray("This is not a metafile at all, only some words.") << 0;
    QTest::newRow("placeable header alone") << WmfBuilder().placeable({0, 0, 10, 10}, 10).bytes().left(22) << 0;
    QTest::newRow("header claims a huge size")
        << [] { QByteArray b = WmfBuilder().window(0, 0, 9, 9).rect(0, 0, 9, 9).bytes(); b[6] = '\xff'; b[7] = '\xff'; b[8] = '\xff'; return b; }() << 1;
}

void TestWmf::hostileRecords()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, expect);
    QElapsedTimer timer;
    timer.start();
    const auto doc = Document::parse(bytes);
    if (expect != 2) QCOMPARE(bool(doc), expect == 1);
    if (doc) {
        QVERIFY(doc->sizeTwips().width() > 0 && doc->sizeTwips().height() > 0);
        QVERIFY(!doc->render(QSize(64, 64)).isNull());
        QVERIFY(!doc->render(QSize(640, 480)).isNull());
    }
    QVERIFY2(timer.elapsed() < 5000, "hostile input must not take long");
}

// Long self-crossing polygons and millions of full-size shapes cost a budget of the
// pixels their edges reach: a preview stays fast, and what fits is still drawn.
void TestWmf::drawingIsBudgeted()
{
    auto star = [](int points, int polygons) {
        QByteArray pts;
        WmfBuilder::put16(pts, quint16(points));
        for (int i = 0; i < points; ++i) {
            const double a = 2 * M_PI * ((i % 17) * 7 % 17) / 17.0;
            WmfBuilder::put16(pts, quint16(500 + int(480 * std::cos(a))));
            WmfBuilder::put16(pts, quint16(500 + int(480 * std::sin(a))));
        }
        WmfBuilder b;
        b.window(0, 0, 1000, 1000).brush(Qt::red).select(0);
        for (int k = 0; k < polygons; ++k) b.rec(WmfBuilder::Polygon, {}, pts);
        return b.bytes();
    };
    QElapsedTimer timer;
    timer.start();
    renderBytes(star(65535, 1), QSize(150, 150));
    const qint64 one = timer.restart();
    renderBytes(star(65535, 10), QSize(267, 200));
    const qint64 ten = timer.restart();
    WmfBuilder many;
    many.window(0, 0, 100, 100).brush(Qt::red).select(0);
    for (int i = 0; i < 300000; ++i) many.rect(0, 0, 100, 100);
    const QImage rects = renderBytes(many.bytes(), QSize(267, 200));
    const qint64 manyMs = timer.restart();
    qInfo("65535-point polygon at 150 px: %lld ms; ten of them: %lld ms; 300000 rectangles: %lld ms", one, ten, manyMs);
    QVERIFY2(one < 1000 && ten < 2000 && manyMs < 2000, "hostile drawings must stay within the budget");
    QVERIFY(near(rects.pixel(130, 100), Qt::red));  // the first of them are drawn

    // A dense star of 2000 points is within the budget: drawn (without antialiasing).
    const QImage dense = renderBytes(star(2000, 1), QSize(150, 150));
    QVERIFY(countColor(dense, Qt::red) > 100);
    QVERIFY(countColor(dense, Qt::black) > 100);
}

void TestWmf::truncatedFilesNeverCrash()
{
    PEL_REQUIRE_CORPUS();
    QFile f(pel::test::corpusDir() + "/wmf/good/wmf2svg/fulltest.wmf");
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray full = f.readAll();
    int accepted = 0, refused = 0;
    for (qsizetype len = 0; len < full.size(); len += 97) {
        const auto doc = Document::parse(full.left(len));
        if (!doc) {
            ++refused;
            continue;
        }
        ++accepted;
        QVERIFY(!doc->render(QSize(100, 80)).isNull());
    }
    // Cut inside a record is a refusal; cut on a record boundary is a partial picture.
    QVERIFY(refused > 0);
    QVERIFY(accepted + refused > 200);
}

void TestWmf::corpusGoodFilesRender()
{
    PEL_REQUIRE_CORPUS();
    QDirIterator it(pel::test::corpusDir() + "/wmf/good", {"*.wmf"}, QDir::Files, QDirIterator::Subdirectories);
    int files = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QString error;
        const auto doc = Document::parse(f.readAll(), &error);
        QVERIFY2(doc, qPrintable(path + ": " + error));
        const QSizeF twips = doc->sizeTwips();
        QVERIFY2(twips.width() >= 15 && twips.height() >= 15, qPrintable(path));
        // At its natural size (within reason), some of it must be painted.
        QSize px = (twips / 15).toSize().expandedTo(QSize(1, 1));
        if (px.width() > 800 || px.height() > 800) px.scale(800, 800, Qt::KeepAspectRatio);
        const QImage img = doc->render(px);
        QVERIFY(!img.isNull());
        int ink = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) ink += qAlpha(img.pixel(x, y)) > 0;
        QVERIFY2(ink > img.width() * img.height() / 200, qPrintable(path));
        ++files;
    }
    QVERIFY(files >= 25);
}

void TestWmf::corpusBadAndEmfRefused()
{
    PEL_REQUIRE_CORPUS();
    int files = 0;
    for (const QString sub : {"/wmf/bad", "/emf"}) {
        QDirIterator it(pel::test::corpusDir() + sub, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QString error;
            QVERIFY2(!Document::parse(f.readAll(), &error), qPrintable(path));
            QVERIFY(!error.isEmpty());
            ++files;
        }
    }
    QVERIFY(files >= 10);
}

void TestWmf::fulltestMatchesReference()
{
    PEL_REQUIRE_CORPUS();
    const QString dir = pel::test::corpusDir() + "/wmf";
    QFile f(dir + "/good/wmf2svg/fulltest.wmf");
    QVERIFY(f.open(QIODevice::ReadOnly));
    const auto doc = Document::parse(f.readAll());
    QVERIFY(doc);
    QImage ref(dir + "/reference/wmf2svg/fulltest.png");
    QVERIFY(!ref.isNull());
    auto onWhite = [](const QImage &img) {
        QImage out(img.size(), QImage::Format_RGB32);
        out.fill(Qt::white);
        QPainter p(&out);
        p.drawImage(0, 0, img);
        return out;
    };
    const QImage mine = onWhite(doc->render(ref.size()));
    const QImage theirs = onWhite(ref.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    // Tolerant comparison: both reduced 4x (averaging away anti-aliasing and font
    // differences), then the grey-level difference per reduced pixel.
    const QSize small = ref.size() / 4;
    const QImage a = mine.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage b = theirs.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum = 0;
    int off = 0;
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x) {
            const int d = std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
            sum += d;
            off += d > 64;
        }
    const int total = small.width() * small.height();
    const double mean = sum / total, offShare = 100.0 * off / total;
    qInfo("fulltest vs reference at 1/4 scale: mean grey difference %.2f, %.2f%% pixels differ by more than 64",
          mean, offShare);
    QVERIFY2(mean < 6.0, qPrintable(QString::number(mean)));
    QVERIFY2(offShare < 2.5, qPrintable(QString::number(offShare)));
}

QTEST_MAIN(TestWmf)
#include "test_wmf.moc"
