// A colour daemon changes the display's profile: every picture on screen is made
// again for it, through the windows' usual path, and is not made again when the
// profile read is the one in use.
#include "picture/test_wmf_builder.h"
#include "support/windows.h"
#include "system/display_profile.h"
#include "system/pictures.h"

using namespace pel;
using namespace pel::test;

namespace {

QByteArray adobeRgb()
{
    QFile f(QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The pixels a window shows of a picture, and the picture they were made from.
struct Shown {
    QImage image;
    PicturePtr file;
};

QImage argb(const QImage &img) { return img.convertToFormat(QImage::Format_ARGB32); }

}  // namespace

class TestDisplayColours : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    Form1 *f = nullptr;

    Form2 &v() { return Forms::form2(); }

    // Reads the display's profile `icc` as a colour daemon's change makes the
    // program do, and lets the deferred redraw run.
    void publish(const QByteArray &icc)
    {
        fx.os().displayIcc = icc;
        display_profile::refresh();
    }

    void checkMadeAgain(const std::function<Shown()> &shown)
    {
        const Shown before = shown();
        QVERIFY(before.file && !before.image.isNull());
        publish({});   // what is in use already
        QTest::qWait(60);
        QCOMPARE(shown().image.cacheKey(), before.image.cacheKey());
        for (const QByteArray &icc : {adobeRgb(), QByteArray()}) {
            const qint64 last = shown().image.cacheKey();
            publish(icc);
            QTRY_VERIFY(shown().image.cacheKey() != last);
            const Shown now = shown();
            QCOMPARE(now.file, before.file);
            QCOMPARE(now.image.size(), before.image.size());
            // What the loader makes for the display now: converted for Adobe RGB,
            // then plain sRGB again.
            QCOMPARE(argb(now.image), argb(now.file->render(now.image.size())));
        }
    }

private slots:
    void initTestCase()
    {
        if (adobeRgb().isEmpty())
            QSKIP("colord-data's profiles are not installed");
    }

    void init()
    {
        QDir d(fx.folder());
        d.removeRecursively();
        QDir().mkpath(fx.folder());
        makePicture(d.filePath("a_small.bmp"), 200, 150, "BMP");
        makePicture(d.filePath("b_huge.bmp"), 3000, 2000, "BMP");   // reduced at actual size
        makePicture(d.filePath("c_wide.jpg"), 1600, 400, "JPG");    // stretched in the preview
        writeText(d.filePath("d_box.wmf"), WmfBuilder()
                                               .placeable(QRect(0, 0, 1500, 1500), 1440)
                                               .window(0, 0, 1500, 1500)
                                               .brush(QColor(200, 60, 30))
                                               .rect(0, 0, 1500, 1500)
                                               .bytes());
        f = &fx.start();
    }
    void cleanup()
    {
        fx.stop();
        display_profile::refresh();   // the real Os: no X here, so sRGB
    }

    void picturesOnScreenAreMadeAgain_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("window");
        QTest::newRow("preview") << "a_small.bmp" << "preview";
        QTest::newRow("preview, stretched") << "c_wide.jpg" << "preview";
        QTest::newRow("actual size") << "a_small.bmp" << "viewer";
        QTest::newRow("actual size, reduced") << "b_huge.bmp" << "viewer";
        QTest::newRow("actual size, metafile") << "d_box.wmf" << "viewer";
        QTest::newRow("sequential display") << "a_small.bmp" << "sequential";
    }
    void picturesOnScreenAreMadeAgain()
    {
        QFETCH(QString, name);
        QFETCH(QString, window);
        QVERIFY(fx.pick(name));
        if (window == "preview") {
            checkMadeAgain([this] { return Shown{f->canvas->painted().value(0).image, f->Image1->picture()}; });
            return;
        }
        if (window == "viewer") {
            f->Command1_Click();
            QVERIFY(v().isVisible());
            checkMadeAgain([this] {
                kit::PictureBox *box = Module1::reduce_flag == 1 ? v().Image1 : v().Picture1;
                if (box->picture() && box->picture()->isVector())
                    box->repaint();   // the box draws a metafile when it paints
                return Shown{box->shownImage(), box->picture()};
            });
            return;
        }
        f->jyun_disp->trigger();
        bool ran = false;
        fx.modal = [&](kit::KitForm *) {
            ran = true;
            checkMadeAgain([this] { return Shown{v().Image1->shownImage(), v().Image1->picture()}; });
        };
        f->Command4_Click();
        QVERIFY(ran);
    }
};

QTEST_MAIN(TestDisplayColours)
#include "test_display_colours.moc"
