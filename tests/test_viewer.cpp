// The actual-size viewer: both paths, its layout and scrolling, copy and erase.
#include "picture/decode_cache.h"
#include "picture/file.h"
#include "support/windows.h"
#include "system/fsname.h"
#include "system/pictures.h"

#include <QClipboard>
#include <QGuiApplication>

#include <fcntl.h>

using namespace pel;
using namespace pel::test;

class TestViewer : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    Form1 *f = nullptr;

    void pick(const QString &name) { QVERIFY2(fx.pick(name), qPrintable("not listed: " + name)); }
    Form2 &v() { return Forms::form2(); }

private slots:
    void init()
    {
        QDir d(fx.folder());
        d.removeRecursively();
        QDir().mkpath(fx.folder());
        makePicture(d.filePath("huge.bmp"), 3000, 2000, "BMP");      // 45000 x 30000 twips
        makePicture(d.filePath("big.bmp"), 1200, 900, "BMP");        // 18000 x 13500 twips
        makePicture(d.filePath("mid.bmp"), 800, 600, "BMP");         // 12000 x 9000 twips
        makePicture(d.filePath("small.bmp"), 200, 150, "BMP");
        makePicture(d.filePath("limit.bmp"), 2184, 20, "BMP");       // 32760 twips wide
        makePicture(d.filePath("over.bmp"), 20, 2185, "BMP");        // 32775 twips high
        writeText(d.filePath("notes.bmp"), "not a picture\n");
        f = &fx.start();
    }
    void cleanup() { fx.stop(); }

    void reducedPathWorkedExample()
    {
        pick("huge.bmp");
        fx.shown().clear();
        f->Command1_Click();
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt,
                 QStringLiteral("画像が大きすぎて実寸での表示が出来ません。\r\n規定値に縮小して表示します。"));
        QCOMPARE(fx.shown().at(0).buttons, 16);
        QCOMPARE(fx.shown().at(0).title, QStringLiteral("PelorinaxMini"));
        QCOMPARE(v().Image1->Width(), 10752.0);
        QCOMPARE(v().Image1->Height(), 7168.0);
        QCOMPARE(v().Width(), Module1::frame_w + 10752.0);
        QCOMPARE(v().Height(), Module1::frame_h + 7168.0);
        QCOMPARE(v().Left(), (15360.0 - v().Width()) / 2);
        QCOMPARE(v().Top(), (11520.0 - v().Height()) / 2);
        QVERIFY(v().isVisible());
        QVERIFY(v().Image1->isVisible());
        QVERIFY(!v().Picture1->isVisible());
        QVERIFY(!v().HScroll1->isVisible() && !v().VScroll1->isVisible() && !v().Picture2->isVisible());
        QCOMPARE(Module1::reduce_flag, 1);
        QCOMPARE(Module1::actual_flag, 1);
        QCOMPARE(v().Caption(), QStringLiteral("huge.bmp"));
        QCOMPARE(f->Left(), 0.0);
        QCOMPARE(f->Top(), 0.0);
        // Only the reduced picture was decoded for the display.
        QCOMPARE(v().Image1->shownImage().size(), QSize(717, 478));
        QVERIFY(v().Picture1->shownImage().isNull());
    }

    void actualSizeWorkedExampleWithBothBars()
    {
        pick("big.bmp");
        f->Command1_Click();
        QVERIFY(fx.shown().isEmpty());
        QCOMPARE(Module1::hscroll_flag, 1);
        QCOMPARE(Module1::vscroll_flag, 1);
        QCOMPARE(v().ScaleWidth(), 10752.0);
        QCOMPARE(v().ScaleHeight(), 8064.0);
        QCOMPARE(v().HScroll1->Width(), 10497.0);
        QCOMPARE(v().HScroll1->Max(), 7503);
        QCOMPARE(v().HScroll1->LargeChange(), 10497);
        QCOMPARE(v().HScroll1->SmallChange(), 525);
        QCOMPARE(v().VScroll1->Height(), 7809.0);
        QCOMPARE(v().VScroll1->Max(), 5691);
        QCOMPARE(v().VScroll1->LargeChange(), 7809);
        QCOMPARE(v().VScroll1->SmallChange(), 390);
        QVERIFY(v().Picture2->isVisible());
        // The corner square shows the application icon (the resources are linked in).
        QVERIFY(!v().Picture2->shownImage().isNull());
        QVERIFY(!v().windowIcon().isNull());
        QCOMPARE(v().Picture2->Left(), 10497.0);
        QCOMPARE(v().Picture2->Top(), 7809.0);
        QCOMPARE(v().Picture2->Width(), 255.0);
        QVERIFY(v().HScroll1->isVisible() && v().VScroll1->isVisible());
        QCOMPARE(v().Caption(), QStringLiteral("big.bmp"));
        QCOMPARE(Module1::actual_flag, 1);
        QCOMPARE(Module1::reduce_flag, 0);
        QCOMPARE(v().Picture1->shownImage().size(), QSize(1200, 900));
    }

    void scrollingMovesThePicture()
    {
        pick("big.bmp");
        f->Command1_Click();
        v().HScroll1->setValue16(1000);
        QCOMPARE(v().Picture1->Left(), -1000.0);
        v().VScroll1->setValue16(5691);
        QCOMPARE(v().Picture1->Top(), -5691.0);
        // A drag reports while it moves.
        v().HScroll1->setSliderDown(true);
        emit v().HScroll1->sliderMoved(2000);
        QCOMPARE(v().Picture1->Left(), -2000.0);
        v().HScroll1->setSliderDown(false);
        // The user's arrow click changes the value and the position.
        v().VScroll1->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(v().Picture1->Top(), -(5691.0 - 390.0));
    }

    void sizeLimitIs32760Twips()
    {
        pick("limit.bmp");
        f->Command1_Click();
        QVERIFY(fx.shown().isEmpty());
        QCOMPARE(Module1::reduce_flag, 0);
        Forms::form2().close();
        pick("over.bmp");
        f->Command1_Click();
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(Module1::reduce_flag, 1);
    }

    // The viewer is sized and centred on the screen captured at start; the main
    // window comes back on the screen as it is now.
    void viewerUsesTheCapturedScreenAndTheMainWindowTheLiveOne()
    {
        fx.os().screen = QSize(1280, 1024);   // 19200 x 15360 twips from now on
        pick("mid.bmp");   // over 70 % of the captured screen, under 70 % of the live one
        f->Command1_Click();
        QCOMPARE(Module1::hscroll_flag, 1);
        QCOMPARE(Module1::vscroll_flag, 1);
        QCOMPARE(v().ScaleWidth(), 10752.0);   // 70 % of the captured 15360
        QCOMPARE(v().ScaleHeight(), 8064.0);
        QCOMPARE(v().Left(), (15360.0 - v().Width()) / 2);
        QCOMPARE(v().Top(), (11520.0 - v().Height()) / 2);
        QCOMPARE(f->Left(), 0.0);
        f->Command3_Click();
        QCOMPARE(f->Left(), (19200.0 - 9000.0) / 2);
        QCOMPARE(f->Top(), (15360.0 - 4900.0) / 4);
        f->Command1_Click();
        v().close();
        QCOMPARE(f->Left(), (19200.0 - 9000.0) / 2);
        QCOMPARE(f->Top(), (15360.0 - 4900.0) / 4);
    }

    void eachOpeningStartsWithoutBars()
    {
        pick("big.bmp");   // both bars and the corner square
        f->Command1_Click();
        QVERIFY(v().Picture2->isVisible());
        pick("small.bmp");
        f->Command1_Click();
        QCOMPARE(Module1::hscroll_flag, 0);
        QCOMPARE(Module1::vscroll_flag, 0);
        QVERIFY(!v().HScroll1->isVisible() && !v().VScroll1->isVisible());
        QVERIFY(!v().Picture2->isVisible());
        QCOMPARE(v().VScroll1->Height(), v().ScaleHeight());   // laid out as without bars
        QCOMPARE(v().HScroll1->Width(), v().ScaleWidth());
    }

    void reducedTallPictureTakesTheHeightsFactor()
    {
        pick("over.bmp");   // 300 x 32775 twips
        f->Command1_Click();
        QCOMPARE(Module1::reduce_flag, 1);
        const double s = 8064.0 / 32775.0;   // rH, far below rW = 10752 / 300
        QCOMPARE(v().Image1->Width(), double(float(300.0 * s)));
        QCOMPARE(v().Image1->Height(), double(float(32775.0 * s)));
        QCOMPARE(v().Height(), Module1::frame_h + v().Image1->Height());
        QCOMPARE(v().Top(), (11520.0 - v().Height()) / 2);
    }

    void reducedPathNeverEnlarges()
    {
        // A 4K screen at 96 DPI: 70 % of its width is more than 32760 twips.
        fx.stop();
        makePicture(QDir(fx.folder()).filePath("strip.bmp"), 2185, 100, "BMP");   // 32775 x 1500
        fx.os().screen = QSize(3840, 2160);
        Module1::reset();
        f = &Forms::form1();
        pick("strip.bmp");
        f->Command1_Click();
        QCOMPARE(fx.shown().size(), 1);   // the reduced path, with its message
        QCOMPARE(Module1::reduce_flag, 1);
        QCOMPARE(v().Image1->Width(), 32775.0);
        QCOMPARE(v().Image1->Height(), 1500.0);
        QCOMPARE(v().Image1->shownImage().size(), QSize(2185, 100));
    }

    // A photo previewed and then shown reduced is decoded once: the viewer starts from
    // the preview's eighth-size decode, and shows what a decode of its own would.
    void reducedViewStartsFromThePreviewsDecode()
    {
        auto &cache = picture::DecodeCache::shared();
        cache.clear();
        fx.stop();
        const QString path = makePicture(QDir(fx.folder()).filePath("wide.jpg"), 5760, 1600, "JPG");
        // Only a photo whose last change is a few seconds old is kept decoded.
        QTest::qSleep(int(FileStamp::kSettleNs / 1'000'000) + 200);
        f = &fx.start();
        pick("wide.jpg");   // 86400 x 24000 twips: preview from the 720 x 200 decode
        const QByteArray name = fsname::encode(f->fullPath(Module1::file_name));
        const UniqueFd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC));
        const auto stamp = FileStamp::of(fd.get(), name);
        QVERIFY(stamp);
        const picture::DecodeKey key{*stamp, 8};
        const QImage previewDecode = cache.find(key);
        QCOMPARE(previewDecode.size(), QSize(720, 200));
        f->Command1_Click();
        QCOMPARE(Module1::reduce_flag, 1);
        // The viewer took the very decode the preview kept, and made none of its own.
        QCOMPARE(cache.find(key).constBits(), previewDecode.constBits());
        const QImage shown = v().Image1->shownImage();
        QCOMPARE(shown.size(), QSize(717, 199));
        cache.clear();
        QCOMPARE(shown, openPicture(path).value->render(shown.size()));
    }

    // A window manager too slow to answer the early frame request: the borders
    // measured at load are a guess, and the first framed showing of the viewer
    // gives the real ones, used from then on. No picture is cut by the frame.
    void slowWindowManagerFrameComesFromTheFirstShowing()
    {
        fx.stop();
        const QMargins real = kit::KitForm::frameMargins(kit::Border::FixedDialog);
        QVERIFY(!real.isNull());   // the test platform draws a frame
        kit::KitForm::setFrameEstimate(kit::Border::FixedDialog, QMargins());
        f = &fx.start();
        QCOMPARE(Module1::frame_w, Integer(0));   // measured with the guess
        pick("small.bmp");
        f->Command1_Click();
        QCOMPARE(v().ScaleWidth(), 3000.0);
        QCOMPARE(v().ScaleHeight(), 2250.0);
        QCOMPARE(Module1::frame_w, Integer((real.left() + real.right()) * 15));
        QCOMPARE(Module1::frame_h, Integer((real.top() + real.bottom()) * 15));
        QCOMPARE(v().Width(), 3000.0 + Module1::frame_w);
        QCOMPARE(v().Left(), (15360.0 - v().Width()) / 2);
        QCOMPARE(v().geometry().size(), QSize(200, 150));
        pick("mid.bmp");
        f->Command1_Click();   // a new viewer: sized with the real frame at once
        QCOMPARE(v().ScaleWidth(), 10752.0);
        QCOMPARE(v().geometry().width(), 717);
        QCOMPARE(v().Width(), 10752.0 + Module1::frame_w);
    }

    void exactlySeventyPercentNeedsNoBar()
    {
        // 1020 x 980 px screen: 70 % is 714 x 686 px exactly.
        fx.stop();
        QDir d(fx.folder());
        makePicture(d.filePath("fits.bmp"), 714, 686, "BMP");
        makePicture(d.filePath("wider.bmp"), 715, 686, "BMP");
        fx.os().screen = QSize(1020, 980);
        Module1::reset();
        f = &Forms::form1();
        QCOMPARE(Module1::screen_w, 15300);
        pick("fits.bmp");
        f->Command1_Click();
        QCOMPARE(Module1::hscroll_flag, 0);
        QCOMPARE(Module1::vscroll_flag, 0);
        QCOMPARE(v().ScaleWidth(), 10710.0);
        QCOMPARE(v().Width(), 10710.0 + Module1::frame_w);
        f->Command3_Click();
        pick("wider.bmp");
        f->Command1_Click();
        QCOMPARE(Module1::hscroll_flag, 1);
        QCOMPARE(Module1::vscroll_flag, 0);
        // Overflowing one way only: the inner height is the picture's, and the bar lies over its bottom strip.
        QCOMPARE(v().ScaleHeight(), 10290.0);
        QCOMPARE(v().HScroll1->Top(), 10290.0 - 255.0);
        QCOMPARE(v().HScroll1->Width(), v().ScaleWidth());
        QVERIFY(!v().Picture2->isVisible());
    }

    void layoutRoundsHalfToEvenAndComparesStrictly_data()
    {
        QTest::addColumn<double>("bar");
        QTest::addColumn<int>("small");
        QTest::newRow("9015") << 9015.0 << 451;
        QTest::newRow("4530 (226.5)") << 4530.0 << 226;
        QTest::newRow("4590 (229.5)") << 4590.0 << 230;
        QTest::newRow("10497") << 10497.0 << 525;
    }
    void layoutRoundsHalfToEvenAndComparesStrictly()
    {
        QFETCH(double, bar);
        QFETCH(int, small);
        Form2 &w = v();
        Module1::hscroll_flag = 1;
        Module1::vscroll_flag = 0;
        const double frame = w.Width() - w.ScaleWidth();
        w.Picture1->setWidth(bar);
        w.setHeight(3000);
        w.setWidth(bar + frame);   // the layout runs at once
        QCOMPARE(w.HScroll1->Width(), bar);
        QCOMPARE(w.HScroll1->SmallChange(), small);
        QCOMPARE(w.HScroll1->LargeChange(), int(bar));
        QCOMPARE(w.HScroll1->Max(), 0);   // as wide as the bar: nothing to scroll
        w.Picture1->setWidth(bar + 1);
        w.setWidth(bar + frame + 15);
        w.setWidth(bar + frame);
        QCOMPARE(w.HScroll1->Max(), 1);
    }

    void layoutIsOffDuringARunAndOnTheReducedDisplay()
    {
        Form2 &w = v();
        Module1::reduce_flag = 1;
        const double before = w.HScroll1->Width();
        w.setWidth(7000);
        QCOMPARE(w.HScroll1->Width(), before);
        Module1::reduce_flag = 0;
        Module1::slide_flag = 1;
        w.setWidth(8000);
        QCOMPARE(w.HScroll1->Width(), before);
        Module1::slide_flag = 0;
    }

    void guardsRefuseSilently()
    {
        f->Command1_Click();   // nothing selected
        QVERIFY(!v().isVisible());
        pick("small.bmp");
        Module1::slide_flag = 1;
        f->Command1_Click();
        f->Command2_Click();
        f->Command3_Click();
        QVERIFY(!v().isVisible());
        Module1::slide_flag = 0;
        f->Command1_Click();
        QVERIFY(v().isVisible());
        QPointer<Form2> first(&v());
        f->Command1_Click();   // already showing the selection
        QCOMPARE(first.data(), &v());
        QVERIFY(fx.shown().isEmpty());
    }

    void badFileLeavesTheViewerHidden()
    {
        pick("notes.bmp");
        fx.shown().clear();
        f->Command1_Click();
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("画像ファイルが異常です\r\nnotes.bmp"));
        QCOMPARE(fx.shown().at(0).buttons, 0);
        QVERIFY(!v().isVisible());
        QCOMPARE(Module1::actual_flag, 0);
        QCOMPARE(f->Left(), 3180.0);
        QCOMPARE(Module1::file_name, QStringLiteral("notes.bmp"));
    }

    void eraseAndCloseReturnTheMainWindow()
    {
        pick("small.bmp");
        f->Command1_Click();
        QCOMPARE(f->Left(), 0.0);
        QPointer<Form2> viewer(&v());
        f->Command3_Click();
        QVERIFY(viewer && !viewer->isVisible() && Forms::isLoaded2());   // hidden, not discarded
        QCOMPARE(Module1::actual_flag, 0);
        QCOMPARE(f->Left(), 3180.0);
        QCOMPARE(f->Top(), 1655.0);
        QCOMPARE(f->focusWidget(), static_cast<QWidget *>(f->List1));
        f->Command1->setFocus();

        f->Command1_Click();
        QCOMPARE(f->Left(), 0.0);
        v().close();   // the close box
        QVERIFY(!Forms::isLoaded2());
        QCOMPARE(Module1::actual_flag, 0);
        QCOMPARE(Module1::reduce_flag, 0);
        QCOMPARE(f->Left(), 3180.0);
        QCOMPARE(f->focusWidget(), static_cast<QWidget *>(f->List1));
    }

    void eraseWithNothingShownStillRecentres()
    {
        pick("small.bmp");
        f->moveTo(0, 0);
        f->Command3_Click();
        QCOMPARE(f->Left(), 3180.0);
        f->List1->setListIndex(-1);
        f->moveTo(0, 0);
        f->Command3_Click();   // no selection: refused
        QCOMPARE(f->Left(), 0.0);
    }

    void copyPutsTheNaturalSizePictureOnTheClipboard()
    {
        pick("huge.bmp");
        f->Command1_Click();
        fx.shown().clear();
        f->Command2_Click();
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("画像をクリップボードにコピーしました。"));
        const QImage copied = QGuiApplication::clipboard()->image();
        QCOMPARE(copied.size(), QSize(3000, 2000));
        QCOMPARE(QColor(copied.pixel(10, 10)), QColor(Qt::yellow));
    }

    // The copy takes the file as it is when the button is pressed: one that went
    // away or holds another picture now is refused, and the clipboard keeps what
    // it had; one changed after the copy still pastes as copied.
    void copyTakesTheFileAsItIsThen()
    {
        const QString path = fx.folder() + "/big.bmp";
        pick("big.bmp");
        f->Command1_Click();
        QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
        QVERIFY(QFile::remove(path));
        fx.shown().clear();
        f->Command2_Click();
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("画像ファイルが異常です\r\nbig.bmp"));
        makePicture(path, 1000, 900, "BMP");   // another size
        f->Command2_Click();
        QCOMPARE(fx.shown().at(1).prompt, QStringLiteral("画像ファイルが異常です\r\nbig.bmp"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));

        makePicture(path, 1200, 900, "BMP");
        f->Command2_Click();
        QCOMPARE(fx.shown().at(2).prompt, QStringLiteral("画像をクリップボードにコピーしました。"));
        makePicture(path, 1200, 900, "BMP", Qt::green);   // changed after the copy
        const QImage copied = QGuiApplication::clipboard()->image();
        QCOMPARE(copied.size(), QSize(1200, 900));
        QCOMPARE(QColor(copied.pixel(1100, 800)), QColor(40, 120, 200));
    }

    void copyRefusesUntilTheSelectionIsOpened()
    {
        pick("small.bmp");
        f->Command1_Click();
        pick("big.bmp");   // another entry: the viewer no longer shows the selection
        fx.shown().clear();
        f->Command2_Click();
        QVERIFY(fx.shown().isEmpty());
    }

    void doubleClickBringsTheMainWindowForwardWithTheKeysInList1()
    {
        pick("big.bmp");
        f->Command1_Click();
        v().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&v()));
        QTest::mouseDClick(v().Picture1, Qt::LeftButton);
        QVERIFY(f->isVisible());
        QVERIFY(v().isVisible());
        QVERIFY(QTest::qWaitForWindowActive(f));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(f->List1));
        QTest::keyClick(f->windowHandle(), Qt::Key_Down);
        QCOMPARE(f->List1->Text(), QStringLiteral("huge.bmp"));   // the next entry
    }
};

QTEST_MAIN(TestViewer)
#include "test_viewer.moc"
