// The slideshow and the sequential display, driven tick by tick and key by key.
#include "slideshow/slide_readahead.h"
#include "support/windows.h"
#include "system/storage.h"

#include <QKeyEvent>

using namespace pel;
using namespace pel::test;

namespace {
// A form that previews its keys, as the viewer does; its handler does what a
// step may do while the key is being delivered.
class KeyedForm : public kit::KitForm {
public:
    std::function<void()> during;
    int presses = 0;
    KeyedForm() : KitForm(kit::Border::FixedSingle) { setKeyPreview(true); }

protected:
    void Form_KeyDown(int, int) override
    {
        ++presses;
        if (during)
            during();
    }
};
}  // namespace

class TestSlideshow : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    Form1 *f = nullptr;

    Form2 &v() { return Forms::form2(); }
    void keyDown(QWidget &w, Qt::Key k, bool autoRepeat = false)
    {
        QKeyEvent e(QEvent::KeyPress, k, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(&w, &e);
    }
    void keyUp(Form2 &w, Qt::Key k, bool autoRepeat = false)
    {
        QKeyEvent e(QEvent::KeyRelease, k, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(&w, &e);
    }
    // A key event from the window system, with its time stamp and no auto-repeat mark.
    void stamped(Form2 &w, QEvent::Type type, Qt::Key k, quint64 time)
    {
        QKeyEvent e(type, k, Qt::NoModifier, QString());
        e.setTimestamp(time);
        QApplication::sendEvent(&w, &e);
    }
    static void activate(QWidget &w)
    {
        w.activateWindow();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }
    void press(Form2 &w, Qt::Key k)
    {
        keyDown(w, k);
        keyUp(w, k);
    }
    void restartWith(const QStringList &files)
    {
        fx.stop();
        QDir d(fx.folder());
        d.removeRecursively();
        QDir().mkpath(fx.folder());
        for (const QString &n : files) {
            if (n.startsWith("bad"))
                writeText(d.filePath(n), "garbage");
            else
                makePicture(d.filePath(n), 40, 30, "BMP");
        }
        f = &fx.start();
    }

private slots:
    void init() { restartWith({"a1.bmp", "a2.bmp", "a3.bmp"}); }
    void cleanup() { fx.stop(); }

    void intervalItemsSetTheCaptionAndTheTimer_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("caption");
        QTest::newRow("0.5") << 0 << QStringLiteral("スライドショー　0.5sec");
        QTest::newRow("1.0") << 1 << QStringLiteral("スライドショー　1sec");
        QTest::newRow("1.5") << 2 << QStringLiteral("スライドショー　1.5sec");
        QTest::newRow("2.0") << 3 << QStringLiteral("スライドショー　2sec");
        QTest::newRow("2.5") << 4 << QStringLiteral("スライドショー　2.5sec");
        QTest::newRow("3.0") << 5 << QStringLiteral("スライドショー　3sec");
    }
    void intervalItemsSetTheCaptionAndTheTimer()
    {
        QFETCH(int, item);
        QFETCH(QString, caption);
        f->jyun_disp->trigger();
        QCOMPARE(f->Command4->text(), QStringLiteral("スライドショー↓↑"));
        QCOMPARE(Module1::jyun_flag, 1);
        f->s_time[item]->trigger();
        QCOMPARE(f->Command4->text(), caption);
        QCOMPARE(f->Timer1->interval(), 500 * (item + 1));
        QCOMPARE(Module1::jyun_flag, 0);
        int checked = 0;
        for (QAction *a : f->s_time)
            checked += a->isChecked();
        checked += f->jyun_disp->isChecked();
        QCOMPARE(checked, 1);
        QVERIFY(f->s_time[item]->isChecked());
    }

    void startIsRefusedWhenNothingCanRun()
    {
        Module1::actual_flag = 1;
        f->Command4_Click();
        QVERIFY(!f->Timer1->isActive());
        QCOMPARE(f->Left(), 3180.0);
        Module1::actual_flag = 0;
        restartWith({});
        f->Command4_Click();
        QVERIFY(!f->Timer1->isActive());
        QCOMPARE(Module1::slide_flag, 0);
    }

    void timedRunShowsEachFileThenEndsOneIntervalAfterTheLast()
    {
        f->Command4_Click();
        QVERIFY(f->Timer1->isActive());
        QCOMPARE(Module1::slide_flag, 1);
        QCOMPARE(f->Left(), 0.0);
        QVERIFY(!v().isVisible());   // the first picture comes with the first tick
        f->Command4_Click();          // already running
        QCOMPARE(Module1::slide_pos, 0);

        QStringList captions;
        for (int i = 0; i < 3; ++i) {
            f->Timer1_Timer();
            captions << v().Caption();
            QVERIFY(v().isVisible());
        }
        QCOMPARE(captions, (QStringList{"1/3   a1.bmp", "2/3   a2.bmp", "3/3   a3.bmp"}));
        QCOMPARE(Module1::slide_flag, 0);   // draining: the last stays one interval
        QVERIFY(f->Timer1->isActive());
        QCOMPARE(f->Left(), 0.0);
        f->Timer1_Timer();
        QVERIFY(!f->Timer1->isActive());
        QCOMPARE(Module1::slide_pos, 0);
        QCOMPARE(f->Left(), 3180.0);
        QVERIFY(Forms::isLoaded2());
        QVERIFY(!v().isVisible());
        QVERIFY(fx.shown().isEmpty());
    }

    void oneFileFolder()
    {
        restartWith({"only.bmp"});
        f->Command4_Click();
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("1/1   only.bmp"));
        f->Timer1_Timer();
        QVERIFY(!f->Timer1->isActive());
        QVERIFY(!v().isVisible());
    }

    void badFileCostsOneIntervalAndTheRunGoesOn()
    {
        restartWith({"a.bmp", "bad.bmp", "c.bmp"});
        f->Command4_Click();
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("1/3   a.bmp"));
        f->Timer1_Timer();
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("画像ファイルが異常です\r\nbad.bmp"));
        QCOMPARE(fx.shown().at(0).buttons, 0);
        QCOMPARE(Module1::slide_pos, 2);
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("3/3   c.bmp"));
        QCOMPARE(Module1::slide_flag, 0);
    }

    void intervalChosenDuringARunTakesEffectAtOnce()
    {
        f->Command4_Click();
        QVERIFY(f->Timer1->remainingTime() <= 500);
        f->s_time[5]->trigger();
        QVERIFY(f->Timer1->isActive());
        QCOMPARE(f->Timer1->interval(), 3000);
        QVERIFY(f->Timer1->remainingTime() > 2500);   // the countdown restarted
    }

    // A tick that arrives while the bad-file message of the previous one is open
    // (the message box runs an event loop) does nothing.
    void noTickWhileItsBadFileMessageIsOpen()
    {
        restartWith({"a.bmp", "bad.bmp", "c.bmp"});
        f->Command4_Click();
        f->Timer1_Timer();
        int nested = 0;
        fx.answer = [&](const MsgBoxShown &) {
            if (nested++ == 0)
                f->Timer1_Timer();
            return int(vbOK);
        };
        f->Timer1_Timer();
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(v().Caption(), QStringLiteral("1/3   a.bmp"));
        QCOMPARE(Module1::slide_pos, 2);
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("3/3   c.bmp"));
    }

    // A run stopped by Esc leaves the timer idle; once the list is emptied (a
    // folder with no pictures) its next tick ends the show, and that is the last.
    void afterAnEscStoppedRunAnEmptiedListEndsTheShowOnce()
    {
        f->Command4_Click();
        f->Timer1_Timer();
        press(v(), Qt::Key_Escape);
        QVERIFY(f->Timer1->isActive());
        f->Timer1_Timer();
        QVERIFY(f->Timer1->isActive());   // idle while the list has files
        const QString empty = fx.folder() + "/empty";
        QVERIFY(QDir().mkpath(empty));
        f->Dir1->setPath(empty);
        QCOMPARE(f->List1->ListCount(), 0);
        f->moveTo(0, 0);
        f->Timer1_Timer();
        QVERIFY(!f->Timer1->isActive());
        QCOMPARE(f->Left(), 3180.0);
        QVERIFY(fx.shown().isEmpty());
    }

    void aFileChangedAfterItWasReadAheadShowsAsItIsNow()
    {
        f->Command4_Click();
        f->Timer1_Timer();   // shows a1, reads a2 ahead
        QCOMPARE(v().Image1->Width(), 600.0);
        // The user replaces a2 and removes a3 while a1 shows.
        const QDir d(fx.folder());
        QFile::remove(d.filePath("a2.bmp"));
        makePicture(d.filePath("a2.bmp"), 80, 60, "BMP", Qt::red);
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("2/3   a2.bmp"));
        QCOMPARE(v().Image1->Width(), 1200.0);
        QCOMPARE(v().Image1->shownImage().size(), QSize(80, 60));
        QCOMPARE(v().Image1->shownImage().pixelColor(79, 59), QColor(Qt::red));
        QFile::remove(d.filePath("a3.bmp"));
        f->Timer1_Timer();
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("画像ファイルが異常です\r\na3.bmp"));
    }

    void aReadAheadPictureIsTheOneDecodedOnTheSpot()
    {
        restartWith({"a.bmp", "b.bmp"});
        const QDir d(fx.folder());
        makePicture(d.filePath("b.bmp"), 1500, 900, "BMP", Qt::green);   // shown reduced
        f->Command4_Click();
        f->Timer1_Timer();
        f->Timer1_Timer();
        const QImage ahead = v().Image1->shownImage();
        const auto direct = SlideReadAhead::prepareHere(d.filePath("b.bmp"), QSizeF(15360, 11520), 15);
        QCOMPARE(QSizeF(v().Image1->Width(), v().Image1->Height()), direct.shown);
        QCOMPARE(ahead, direct.image);
    }

    void fitNeverEnlargesAndTakesTheSmallerFactor()
    {
        fx.stop();
        QDir d(fx.folder());
        d.removeRecursively();
        QDir().mkpath(fx.folder());
        makePicture(d.filePath("a_fits.bmp"), 714, 686, "BMP");
        makePicture(d.filePath("b_wider.bmp"), 715, 686, "BMP");
        makePicture(d.filePath("c_tall.bmp"), 100, 1372, "BMP");
        f = &fx.start();
        fx.os().screen = QSize(1020, 980);   // 70 % is 10710 x 10290 twips
        Module1::screen_w = 15300;
        Module1::screen_h = 14700;
        f->Command4_Click();
        f->Timer1_Timer();
        QCOMPARE(v().Image1->Width(), 10710.0);
        QCOMPARE(v().Image1->Height(), 10290.0);
        QCOMPARE(v().Left(), (15300.0 - v().Width()) / 2);
        f->Timer1_Timer();
        const double s = 10710.0 / 10725.0;
        QCOMPARE(v().Image1->Width(), double(float(s * 10725.0)));
        QCOMPARE(v().Image1->Height(), double(float(s * 10290.0)));
        f->Timer1_Timer();
        QCOMPARE(v().Image1->Height(), double(float(10290.0)));
        QCOMPARE(v().Image1->Width(), double(float(10290.0 / 20580.0 * 1500.0)));
    }

    void sequentialWalkDownAndUp()
    {
        f->jyun_disp->trigger();
        QStringList seen;
        fx.modal = [&](kit::KitForm *w) {
            auto &viewer = static_cast<Form2 &>(*w);
            QCOMPARE(Module1::slide_pos, 1);   // consumed as soon as it shows
            seen << viewer.Caption();
            press(viewer, Qt::Key_Down);
            seen << viewer.Caption();
            press(viewer, Qt::Key_Down);
            seen << viewer.Caption();
            press(viewer, Qt::Key_Up);
            seen << viewer.Caption();
            press(viewer, Qt::Key_Up);
            seen << viewer.Caption();
            press(viewer, Qt::Key_Up);   // at the first file: the first again
            seen << viewer.Caption();
            press(viewer, Qt::Key_Down);
            press(viewer, Qt::Key_Down);
            seen << viewer.Caption();
            QCOMPARE(Module1::slide_flag, 0);
            press(viewer, Qt::Key_Up);   // after the last: the one before it
            seen << viewer.Caption();
            press(viewer, Qt::Key_Down);
            press(viewer, Qt::Key_Down);   // past the end: closes
            QVERIFY(!viewer.isVisible());
        };
        f->Command4_Click();
        QCOMPARE(seen, (QStringList{"1/3   a1.bmp", "2/3   a2.bmp", "3/3   a3.bmp", "2/3   a2.bmp",
                                    "1/3   a1.bmp", "1/3   a1.bmp", "3/3   a3.bmp", "2/3   a2.bmp"}));
        QCOMPARE(Module1::slide_flag, 0);
        QCOMPARE(Module1::slide_pos, 0);
        QCOMPARE(f->Left(), 3180.0);
        QVERIFY(f->Timer1->isActive());   // left enabled and idle
        f->Timer1_Timer();
        QVERIFY(!Forms::isLoaded2() || !v().isVisible());
    }

    // A bad first file: the message, then the viewer all the same, already past it.
    void sequentialBadFirstFileStillAdvancesAndShowsTheViewer()
    {
        restartWith({"bad.bmp", "c.bmp", "d.bmp"});
        f->jyun_disp->trigger();
        bool ran = false;
        fx.modal = [&](kit::KitForm *w) {
            ran = true;
            auto &viewer = static_cast<Form2 &>(*w);
            QVERIFY(viewer.isVisible());
            QCOMPARE(fx.shown().size(), 1);
            QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("画像ファイルが異常です\r\nbad.bmp"));
            QCOMPARE(Module1::slide_pos, 1);
            QCOMPARE(Module1::slide_flag, 1);
            press(viewer, Qt::Key_Down);
            QCOMPARE(viewer.Caption(), QStringLiteral("2/3   c.bmp"));
            press(viewer, Qt::Key_Escape);
        };
        f->Command4_Click();
        QVERIFY(ran);
    }

    // A step that fails leaves key_flag at 0: the key still held steps again.
    void sequentialFailedStepLeavesKeyFlagClear()
    {
        restartWith({"a.bmp", "bad.bmp", "c.bmp"});
        f->jyun_disp->trigger();
        fx.modal = [&](kit::KitForm *w) {
            auto &viewer = static_cast<Form2 &>(*w);
            keyDown(viewer, Qt::Key_Down);
            QCOMPARE(fx.shown().size(), 1);
            QCOMPARE(viewer.key_flag, 0);
            QCOMPARE(Module1::slide_pos, 2);
            keyDown(viewer, Qt::Key_Down, true);
            QCOMPARE(viewer.Caption(), QStringLiteral("3/3   c.bmp"));
            QCOMPARE(viewer.key_flag, 1);
            press(viewer, Qt::Key_Escape);
        };
        f->Command4_Click();
    }

    // One press reaches the handler once, also when the handler waits for the disk or
    // makes a window while the press is being delivered (a bad file once made the
    // next one show too).
    void aPressReachesTheHandlerOnceWhateverTheHandlerDoes_data()
    {
        QTest::addColumn<int>("what");
        QTest::newRow("waits for the disk") << 0;
        QTest::newRow("makes a window") << 1;
    }
    void aPressReachesTheHandlerOnceWhateverTheHandlerDoes()
    {
        QFETCH(int, what);
        KeyedForm form;
        std::unique_ptr<KeyedForm> made;
        form.during = [&] {
            if (what == 0)
                QVERIFY(storage::run(fx.folder(), storage::Limit::Answer, [] { QThread::msleep(30); return 0; }).ok());
            else
                made = std::make_unique<KeyedForm>();
        };
        form.Show();
        keyDown(form, Qt::Key_Down);
        QCOMPARE(form.presses, 1);
    }

    // An Enter pressed while a wait holds input back is a press when it is delivered,
    // not the repeat of itself.
    void anEnterPressedDuringAWaitClicksOnceItIsOver()
    {
        KeyedForm form;
        auto *button = new kit::CommandButton(QStringLiteral("b"), &form);
        int clicks = 0;
        connect(button, &QPushButton::clicked, [&] { ++clicks; });
        form.Show();
        button->setFocus();
        QTimer::singleShot(5, button, [button] {
            QCoreApplication::postEvent(button, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
        });
        QVERIFY(storage::run(fx.folder(), storage::Limit::Answer, [] { QThread::msleep(60); return 0; }).ok());
        QCOMPARE(clicks, 0);   // held back
        QTRY_COMPARE(clicks, 1);
    }

    void holdingDownStepsOnce()
    {
        f->jyun_disp->trigger();
        fx.modal = [&](kit::KitForm *w) {
            auto &viewer = static_cast<Form2 &>(*w);
            keyDown(viewer, Qt::Key_Down);
            QCOMPARE(viewer.Caption(), QStringLiteral("2/3   a2.bmp"));
            // X11 repeats a held key as release/press pairs marked auto-repeat.
            for (int i = 0; i < 5; ++i) {
                keyUp(viewer, Qt::Key_Down, true);
                keyDown(viewer, Qt::Key_Down, true);
            }
            QCOMPARE(viewer.Caption(), QStringLiteral("2/3   a2.bmp"));
            keyUp(viewer, Qt::Key_Down);
            keyDown(viewer, Qt::Key_Down);
            QCOMPARE(viewer.Caption(), QStringLiteral("3/3   a3.bmp"));
            press(viewer, Qt::Key_Escape);
        };
        f->Command4_Click();
        QVERIFY(!Forms::isLoaded2() || !v().isVisible());
    }

    // A held Up steps back once, like a held Down steps once: the repeats of the
    // window system (marked, or unmarked pairs with one time stamp) do not rewind.
    void holdingUpStepsBackOnce()
    {
        f->jyun_disp->trigger();
        fx.modal = [&](kit::KitForm *w) {
            auto &viewer = static_cast<Form2 &>(*w);
            press(viewer, Qt::Key_Down);
            press(viewer, Qt::Key_Down);
            QCOMPARE(viewer.Caption(), QStringLiteral("3/3   a3.bmp"));
            keyDown(viewer, Qt::Key_Up);
            QCOMPARE(viewer.Caption(), QStringLiteral("2/3   a2.bmp"));
            for (int i = 0; i < 5; ++i) {
                keyUp(viewer, Qt::Key_Up, true);
                keyDown(viewer, Qt::Key_Up, true);
            }
            for (quint64 t = 1660; t < 1900; t += 40) {
                stamped(viewer, QEvent::KeyRelease, Qt::Key_Up, t);
                stamped(viewer, QEvent::KeyPress, Qt::Key_Up, t);
            }
            QCOMPARE(viewer.Caption(), QStringLiteral("2/3   a2.bmp"));
            QCOMPARE(Module1::slide_pos, 2);
            keyUp(viewer, Qt::Key_Up);
            viewer.settleKeys();
            press(viewer, Qt::Key_Down);   // the next file, not one far back
            QCOMPARE(viewer.Caption(), QStringLiteral("3/3   a3.bmp"));
            press(viewer, Qt::Key_Escape);
        };
        f->Command4_Click();
    }

    // In a timed run Up moves back two places (the next tick shows the file
    // before), once per press however long it is held.
    void upInATimedRunMovesBackTwoPlacesOncePerPress()
    {
        f->Command4_Click();
        f->Timer1_Timer();
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("2/3   a2.bmp"));
        keyDown(v(), Qt::Key_Up);
        QCOMPARE(Module1::slide_pos, 0);
        QCOMPARE(Module1::slide_flag, 1);
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("1/3   a1.bmp"));
        for (int i = 0; i < 3; ++i) {
            keyUp(v(), Qt::Key_Up, true);
            keyDown(v(), Qt::Key_Up, true);
        }
        QCOMPARE(Module1::slide_pos, 1);   // still held: no second step
        keyUp(v(), Qt::Key_Up);
        f->Timer1_Timer();
        f->Timer1_Timer();
        keyDown(v(), Qt::Key_Up);   // a new press at the end of the run
        QCOMPARE(Module1::slide_pos, 1);
        QCOMPARE(Module1::slide_flag, 1);
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("2/3   a2.bmp"));
    }

    void holdingDownStepsOnceWhenRepeatsComeUnmarked()
    {
        // Qt does not always mark X11's pairs: a release and a press with one time stamp.
        f->jyun_disp->trigger();
        fx.modal = [&](kit::KitForm *w) {
            auto &viewer = static_cast<Form2 &>(*w);
            stamped(viewer, QEvent::KeyPress, Qt::Key_Down, 1000);
            QCOMPARE(viewer.Caption(), QStringLiteral("2/3   a2.bmp"));
            for (quint64 t = 1660; t < 1900; t += 40) {
                stamped(viewer, QEvent::KeyRelease, Qt::Key_Down, t);
                stamped(viewer, QEvent::KeyPress, Qt::Key_Down, t);
            }
            QCOMPARE(viewer.Caption(), QStringLiteral("2/3   a2.bmp"));
            QCOMPARE(viewer.key_flag, 1);
            stamped(viewer, QEvent::KeyRelease, Qt::Key_Down, 1950);   // let go
            viewer.settleKeys();
            QCOMPARE(viewer.key_flag, 0);
            stamped(viewer, QEvent::KeyPress, Qt::Key_Down, 2300);
            QCOMPARE(viewer.Caption(), QStringLiteral("3/3   a3.bmp"));
            // A release held back is delivered before the next press, whatever the key.
            stamped(viewer, QEvent::KeyRelease, Qt::Key_Down, 2400);
            stamped(viewer, QEvent::KeyPress, Qt::Key_Up, 2500);
            QCOMPARE(viewer.Caption(), QStringLiteral("2/3   a2.bmp"));
            press(viewer, Qt::Key_Escape);
        };
        f->Command4_Click();
        QCOMPARE(Module1::slide_flag, 0);
    }

    void escClosesTheViewerInEveryMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("actual size") << 0;
        QTest::newRow("timed run") << 1;
        QTest::newRow("sequential") << 2;
    }
    void escClosesTheViewerInEveryMode()
    {
        QFETCH(int, mode);
        if (mode == 0) {
            f->List1->setListIndex(0);
            f->Command1_Click();
            press(v(), Qt::Key_Escape);
        } else if (mode == 1) {
            f->Command4_Click();
            f->Timer1_Timer();
            press(v(), Qt::Key_Down);   // timed: the arrows do nothing
            QCOMPARE(v().Caption(), QStringLiteral("1/3   a1.bmp"));
            press(v(), Qt::Key_Escape);
            QVERIFY(f->Timer1->isActive());
            f->Timer1_Timer();   // idle
            QVERIFY(!Forms::isLoaded2() || !v().isVisible());
        } else {
            f->jyun_disp->trigger();
            fx.modal = [&](kit::KitForm *w) { press(static_cast<Form2 &>(*w), Qt::Key_Escape); };
            f->Command4_Click();
        }
        QVERIFY(!Forms::isLoaded2() || !v().isVisible());
        QCOMPARE(Module1::slide_flag, 0);
        QCOMPARE(Module1::actual_flag, 0);
        QCOMPARE(Module1::slide_pos, 0);
        QCOMPARE(f->Left(), 3180.0);
    }

    // The sequential viewer blocks the main window, also when it was on screen
    // already (an actual-size viewer that the run takes over); when it closes, the
    // keyboard is back in List1, whose cue says so, and the next Down moves there.
    void sequentialViewerIsModalAndLeavesTheFocusInList1_data()
    {
        QTest::addColumn<bool>("viewerOnScreen");
        QTest::addColumn<int>("closeBy");   // 0 Esc, 1 Down past the last file
        QTest::newRow("hidden viewer, Esc") << false << 0;
        QTest::newRow("viewer on screen, Esc") << true << 0;
        QTest::newRow("viewer on screen, Down past the end") << true << 1;
    }
    void sequentialViewerIsModalAndLeavesTheFocusInList1()
    {
        QFETCH(bool, viewerOnScreen);
        QFETCH(int, closeBy);
        activate(*f);
        if (viewerOnScreen) {
            f->List1->setListIndex(0);
            f->Command1_Click();
            QVERIFY(v().isVisible());
            f->List1->setListIndex(1);   // another entry: the viewer no longer shows the selection
        }
        f->jyun_disp->trigger();
        f->Command1->setFocus();   // the button was pressed: the lists' cue is white
        bool ran = false;
        fx.modal = [&](kit::KitForm *w) {
            ran = true;
            auto &viewer = static_cast<Form2 &>(*w);
            QCOMPARE(QApplication::activeModalWidget(), static_cast<QWidget *>(&viewer));
            // Input from the window system to the main window is refused.
            const int before = f->List1->ListIndex();
            QTest::keyClick(f->windowHandle(), Qt::Key_Down);
            const QPoint row2 = f->List1->visualRect(f->List1->model()->index(2, 0)).center();
            QTest::mouseClick(f->windowHandle(), Qt::LeftButton, {},
                              f->List1->viewport()->mapTo(f, row2));
            QCOMPARE(f->List1->ListIndex(), before);
            if (closeBy == 0) {
                press(viewer, Qt::Key_Escape);
            } else {
                for (int i = 0; i < 3; ++i)
                    press(viewer, Qt::Key_Down);
            }
            QVERIFY(!viewer.isVisible());
        };
        f->Command4_Click();
        QVERIFY(ran);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(f->focusWidget(), static_cast<QWidget *>(f->List1));
        QVERIFY(QTest::qWaitForWindowActive(f));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(f->List1));
        QCOMPARE(f->List1->backColor(), QColor(192, 255, 255));
        const int before = f->List1->ListIndex();
        QTest::keyClick(f->windowHandle(), Qt::Key_Down);
        QCOMPARE(f->List1->ListIndex(), before + 1);
    }

    // After an erase the viewer is only hidden; a run that takes it over shows
    // no bar and no corner square over its slides.
    void runAfterAnEraseShowsNoCornerSquare_data()
    {
        QTest::addColumn<bool>("sequential");
        QTest::newRow("timed") << false;
        QTest::newRow("sequential") << true;
    }
    void runAfterAnEraseShowsNoCornerSquare()
    {
        QFETCH(bool, sequential);
        makePicture(QDir(fx.folder()).filePath("a1.bmp"), 1200, 900, "BMP");   // both bars
        f->List1->setListIndex(0);
        f->Command1_Click();
        QVERIFY(v().Picture2->isVisible());
        f->Command3_Click();
        QVERIFY(Forms::isLoaded2() && !v().isVisible());
        bool checked = false;
        auto check = [&](Form2 &w) {
            QVERIFY(w.isVisible());
            QVERIFY(w.Image1->isVisible());
            QVERIFY(!w.Picture2->isVisible());
            QVERIFY(!w.HScroll1->isVisible() && !w.VScroll1->isVisible());
            checked = true;
        };
        if (sequential) {
            f->jyun_disp->trigger();
            fx.modal = [&](kit::KitForm *w) {
                check(static_cast<Form2 &>(*w));
                press(static_cast<Form2 &>(*w), Qt::Key_Escape);
            };
            f->Command4_Click();
        } else {
            f->Command4_Click();
            f->Timer1_Timer();
            check(v());
        }
        QVERIFY(checked);
    }

    void upInAnActualSizeViewerLeavesNoRunBehind()
    {
        f->jyun_disp->trigger();
        f->List1->setListIndex(1);
        f->Command1_Click();
        press(v(), Qt::Key_Up);
        QCOMPARE(Module1::slide_flag, 0);
        QCOMPARE(v().Caption(), QStringLiteral("a2.bmp"));
        v().close();
        QCOMPARE(Module1::slide_flag, 0);
        f->List1->setListIndex(2);   // the main window answers again
        QCOMPARE(Module1::file_name, QStringLiteral("a3.bmp"));
    }

    void closingTheSequentialViewerEndsTheRun()
    {
        f->jyun_disp->trigger();
        fx.modal = [&](kit::KitForm *w) { w->close(); };
        f->Command4_Click();
        QCOMPARE(Module1::slide_flag, 0);
        f->List1->setListIndex(2);
        QCOMPARE(Module1::file_name, QStringLiteral("a3.bmp"));
        f->Command4_Click();   // a new run can start
        QCOMPARE(Module1::slide_flag, 0);
    }

    void choosingSequentialDuringATimedRunHandsItToTheKeys()
    {
        f->Command4_Click();
        f->Timer1_Timer();
        f->jyun_disp->trigger();
        f->Timer1_Timer();   // ticks now do nothing
        QCOMPARE(v().Caption(), QStringLiteral("1/3   a1.bmp"));
        press(v(), Qt::Key_Down);
        QCOMPARE(v().Caption(), QStringLiteral("2/3   a2.bmp"));
        f->s_time[0]->trigger();   // back to timed: the ticks go on from here
        f->Timer1_Timer();
        QCOMPARE(v().Caption(), QStringLiteral("3/3   a3.bmp"));
    }

    void shuttingDownDuringARun()
    {
        f->Command4_Click();
        f->Timer1_Timer();
        f->owari->trigger();
        QVERIFY(!Forms::isLoaded1());
        QVERIFY(!Forms::isLoaded2());
    }
};

QTEST_MAIN(TestSlideshow)
#include "test_slideshow.moc"
