// The main window: start-up, menus, focus cues, keys among the lists, shutdown.
#include "support/windows.h"

#include "app/state/appicon.h"
#include "support/testsupport.h"
#include "system/single_instance.h"

#include <QImageReader>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <sys/stat.h>
#include <unistd.h>

using namespace pel;
using namespace pel::test;

class TestMainWindow : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    Form1 *f = nullptr;

    void activate()
    {
        f->activateWindow();
        QApplication::setActiveWindow(f);
        QVERIFY(QTest::qWaitForWindowActive(f));
    }

private slots:
    void init()
    {
        QDir d(fx.folder());
        for (const QString &n : d.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
            QFileInfo(d.filePath(n)).isDir() ? QDir(d.filePath(n)).removeRecursively() : d.remove(n);
        makePicture(d.filePath(QStringLiteral("IMG10.bmp")), 20, 10, "BMP");
        makePicture(d.filePath(QStringLiteral("IMG2.bmp")), 20, 10, "BMP");
        makePicture(d.filePath(QStringLiteral("photojpg")), 30, 20, "JPG");
        makePicture(d.filePath(QStringLiteral("Shot.JPEG")), 30, 20, "JPG");
        makePicture(d.filePath(QStringLiteral("a.gif")), 10, 10, "PNG");
        makePicture(d.filePath(QStringLiteral(".hidden.jpg")), 10, 10, "JPG");
        writeText(d.filePath(QStringLiteral("readme.txt")), "x");
        d.mkdir(QStringLiteral("sub"));
        makePicture(d.filePath(QStringLiteral("sub/inner.ico")), 16, 16, "ICO");
        f = &fx.start();
    }
    void cleanup() { fx.stop(); }

    void startsAtItsSizeAndPlace()
    {
        QCOMPARE(f->Width(), 9000.0);
        QCOMPARE(f->Height(), 4900.0);
        QCOMPARE(f->Left(), (15360.0 - 9000.0) / 2);
        QCOMPARE(f->Top(), (11520.0 - 4900.0) / 4);
        // On screen: 600 x 327 px at (212, 110) with no window manager.
        QCOMPARE(f->frameGeometry().topLeft(), QPoint(212, 110));
        QCOMPARE(f->frameGeometry().size(), QSize(600, 327));
        QCOMPARE(f->Caption(), QStringLiteral("ＰｅｌｏｒｉｎａｘMini"));
        QCOMPARE(f->Line1.X2, f->ScaleWidth());
        QCOMPARE(f->Line1.Y2, 0.0);
        QCOMPARE(f->Shape1.Left, 160.0);
        QCOMPARE(f->Shape1.Height, 3060.0);
    }

    void startsWithTheSharedStateOfALoad()
    {
        QCOMPARE(Module1::screen_w, 15360);
        QCOMPARE(Module1::screen_h, 11520);
        QCOMPARE(Module1::ver_str, QStringLiteral("Ver.1.23"));
        QCOMPARE(Module1::actual_flag, 0);
        QCOMPARE(Module1::slide_flag, 0);
        QCOMPARE(f->show_time, 500);
        QCOMPARE(f->Timer1->interval(), 500);
        QVERIFY(!f->Timer1->isActive());
        QCOMPARE(f->Command4->text(), QStringLiteral("スライドショー　0.5sec"));
        // The viewer is loaded hidden and its borders measured before it ever showed:
        // they must be the ones it gets on screen.
        QVERIFY(Forms::isLoaded2());
        Form2 &v = Forms::form2();
        QVERIFY(!v.isVisible());
        QCOMPARE(Module1::frame_w, Integer(v.Width() - v.ScaleWidth()));
        v.Show();
        QCOMPARE(Module1::frame_w, Integer((v.frameGeometry().width() - v.geometry().width()) * 15));
        QCOMPARE(Module1::frame_h, Integer((v.frameGeometry().height() - v.geometry().height()) * 15));
    }

    void iconHasThePixelsQtReadsFromItsFile()
    {
        // The icon is compiled in as pixels; they must stay what the file gives.
        QImageReader reader(QStringLiteral(PEL_SOURCE_DIR "/resources/icon.png"));
        const QImage file = reader.read();
        QVERIFY2(!file.isNull(), qPrintable(reader.errorString()));
        const QImage icon = appIconImage();
        QCOMPARE(icon.format(), file.format());
        QCOMPARE(icon.size(), file.size());
        QVERIFY(icon == file);
        QCOMPARE(Forms::form2().windowIcon().pixmap(icon.size()).toImage(),
                 QPixmap::fromImage(file).toImage());
    }

    void listsThePictureFilesInNaturalOrderWithNothingSelected()
    {
        QStringList names;
        for (int i = 0; i < f->List1->ListCount(); ++i)
            names << f->List1->List(i);
        QCOMPARE(names, (QStringList{"IMG2.bmp", "IMG10.bmp", "photojpg", "Shot.JPEG"}));
        QCOMPARE(f->List1->ListIndex(), -1);
        QVERIFY(f->List1->Text().isEmpty());
        QVERIFY(f->canvas->painted().isEmpty());
        QCOMPARE(f->File1->Path(), fx.folder());
        QCOMPARE(f->Dir1->Path(), fx.folder());
    }

    // Every kind the pattern admits, as set at load: "*.WMF" in any case, the
    // dot-less "*jpg" and "*bmp", "*.jpeg", "*.ico"; nothing else.
    void filePatternAsSetAtLoad()
    {
        fx.stop();
        QDir d(fx.folder());
        QVERIFY(QFile::copy(sourceDir() + "/sample/diagram.wmf", d.filePath("Diagram.wmf")));
        makePicture(d.filePath("tilebmp"), 20, 10, "BMP");
        makePicture(d.filePath("mark.ico"), 16, 16, "ICO");
        writeText(d.filePath("photo.png"), "x");
        f = &fx.start();
        QStringList names;
        for (int i = 0; i < f->List1->ListCount(); ++i)
            names << f->List1->List(i);
        names.sort(Qt::CaseInsensitive);
        QCOMPARE(names, (QStringList{"Diagram.wmf", "IMG10.bmp", "IMG2.bmp", "mark.ico", "photojpg", "Shot.JPEG",
                                     "tilebmp"}));
        QCOMPARE(f->File1->Pattern(), QStringLiteral("*.WMF;*.jpeg;*jpg;*bmp;*.ico"));
    }

    void captionsOfTheButtonsAndMenus()
    {
        const QList<std::pair<const char *, QString>> buttons = {
            {"Command1", "実寸表示"}, {"Command2", "クリップボードにコピー"},
            {"Command3", "実寸表示消去"}, {"Command4", "スライドショー　0.5sec"}};
        for (const auto &[name, caption] : buttons) {
            auto *b = f->findChild<QPushButton *>(QString::fromLatin1(name));
            QVERIFY2(b, name);
            QCOMPARE(b->text(), caption);
        }
        const QList<std::pair<const char *, QString>> menus = {
            {"file_mnu", "ファイル"}, {"set_dat", "設定"}, {"s_showtime", "スライドショー表示時間"},
            {"ime_mod", "漢字入力"}, {"help_mnu", "ヘルプ"}};
        for (const auto &[name, caption] : menus) {
            auto *m = f->findChild<QMenu *>(QString::fromLatin1(name));
            QVERIFY2(m, name);
            QCOMPARE(m->title(), caption);
        }
        const QList<std::pair<const char *, QString>> items = {
            {"owari", "終　了"}, {"jyun_disp", "順次表示↓"}, {"ime_mon", "ON"}, {"ime_moff", "OFF"},
            {"how_to", "簡易マニュアル"}, {"howtouse", "使い方"}, {"ver", "バージョン情報"},
            {"s_time1", "0.5 sec"}, {"s_time6", "3.0 sec"}};
        for (const auto &[name, caption] : items) {
            auto *a = f->findChild<QAction *>(QString::fromLatin1(name));
            QVERIFY2(a, name);
            QCOMPARE(a->text(), caption);
        }
        // The order of the help menu: the separator between the manuals and the version.
        QCOMPARE(f->help_mnu->actions(), (QList<QAction *>{f->how_to, f->howtouse, f->kugiri2, f->ver}));
    }

    void controlsStandWhereTheyBelong()
    {
        struct { const char *name; QRectF tw; } table[] = {
            {"List1", {4320, 120, 2175, 2985}},  {"Drive1", {6600, 120, 2055, 315}},
            {"Dir1", {6600, 480, 2055, 2565}},   {"Command1", {6600, 3240, 2055, 375}},
            {"Command2", {4320, 3240, 2175, 375}}, {"Command3", {6600, 3600, 2055, 375}},
            {"Command4", {4320, 3600, 2175, 375}}, {"Label1", {600, 120, 3255, 495}},
            {"Label3", {3000, 360, 615, 255}},
        };
        for (const auto &row : table) {
            auto *w = f->findChild<QWidget *>(QString::fromLatin1(row.name));
            QVERIFY2(w, row.name);
            QCOMPARE(w->geometry(), twips::toPixels(row.tw));
        }
        QCOMPARE(f->List1->backColor(), QColor(192, 255, 255));
        QCOMPARE(f->Command1->palette().color(QPalette::Button), QColor(255, 255, 128));
    }

    // At start-up the windows are built while the fonts are still being read, with
    // the application's font a bare name: none may keep it, and the layout must be
    // the one measured with the real fonts.
    void startsWithItsFontsThoughBuiltBeforeThem()
    {
        fx.stop();
        fonts::applicationReady();
        QCOMPARE(QApplication::font().family(), fonts::kGothic);
        f = &fx.start();

        const auto check = [](const QWidget *w, const QString &face, double points, bool bold, bool italic) {
            QVERIFY2(w->font().family() == fonts::font(face, points).family(), qPrintable(w->objectName()));
            QCOMPARE(w->font().pointSizeF(), points);
            QCOMPARE(w->font().bold(), bold);
            QCOMPARE(w->font().italic(), italic);
        };
        check(f->Label1, fonts::kMincho, 24, true, true);
        check(f->Label3, fonts::kGothic, 15.75, true, false);
        for (const QWidget *w : std::initializer_list<const QWidget *>{
                 f->Command1, f->Command2, f->Command3, f->Command4, f->menuBar(), f->List1, f->Dir1, f->Drive1})
            check(w, fonts::kGothic, 9, false, false);
        for (QWidget *top : QApplication::topLevelWidgets()) {
            QList<QWidget *> all = top->findChildren<QWidget *>();
            all << top;
            for (const QWidget *w : all)
                QVERIFY2(w->font().family() != fonts::kGothic,
                         qPrintable(QStringLiteral("%1 %2").arg(w->metaObject()->className(), w->objectName())));
        }

        const int menuH = f->menuBar()->sizeHint().height();
        QCOMPARE(f->menuBar()->geometry(), QRect(0, 0, f->width(), menuH));
        QCOMPARE(f->client()->geometry().top(), menuH);
        QCOMPARE(f->frameGeometry(), QRect(212, 110, 600, 327));
    }

    // The folder list is filled before the window shows; the open folder of a deep
    // path must still be in view once it does.
    void folderListShowsTheOpenFolderOfADeepPath()
    {
        fx.stop();
        QString deep = fx.folder();
        for (int i = 0; i < 30; ++i)
            deep += QStringLiteral("/level%1").arg(i);
        QVERIFY(QDir().mkpath(deep));
        f = &fx.start(deep);
        QCOMPARE(f->Dir1->Path(), deep);
        const QListWidgetItem *open = f->Dir1->currentItem();
        QVERIFY(open);
        QCOMPARE(open->text().trimmed(), QStringLiteral("level29"));
        const QRect at = f->Dir1->visualItemRect(open);   // deep entries are wider than the list
        QVERIFY2(at.top() >= 0 && at.bottom() <= f->Dir1->viewport()->height(), qPrintable(QString::number(at.top())));
    }

    void menuBarHasEveryItemWithItsStartMarks()
    {
        QStringList captions;
        for (QAction *a : f->menuBar()->actions())
            captions << a->text();
        QCOMPARE(captions, (QStringList{"ファイル", "設定", "ヘルプ"}));
        QCOMPARE(f->owari->text(), QStringLiteral("終　了"));
        QStringList intervals;
        for (QAction *a : f->s_time)
            intervals << a->text() + (a->isChecked() ? "*" : "");
        QCOMPARE(intervals, (QStringList{"0.5 sec*", "1.0 sec", "1.5 sec", "2.0 sec", "2.5 sec", "3.0 sec"}));
        QVERIFY(f->ime_mon->isChecked());
        QVERIFY(!f->ime_moff->isChecked());
        QVERIFY(f->kugiri2->isSeparator());
        QCOMPARE(f->help_mnu->actions().size(), 4);
        QCOMPARE(f->jyun_disp->text(), QStringLiteral("順次表示↓"));
    }

    void kanjiInputItemsBehaveAsAPair()
    {
        f->ime_moff->trigger();
        QVERIFY(f->ime_moff->isChecked() && !f->ime_mon->isChecked());
        QCOMPARE(Module1::ime_flag, 0);
        f->ime_mon->trigger();
        QVERIFY(f->ime_mon->isChecked() && !f->ime_moff->isChecked());
        QCOMPARE(Module1::ime_flag, 1);
        f->ime_mon->trigger();   // choosing the checked item again keeps its mark
        QVERIFY(f->ime_mon->isChecked());
    }

    void focusCuesFollowTheTable()
    {
        activate();
        const QColor white(255, 255, 255), cyan(192, 255, 255);
        auto colours = [this] {
            return QList<QColor>{f->List1->backColor(), f->Drive1->backColor(), f->Dir1->backColor()};
        };
        QVERIFY(f->Command1->hasFocus());   // first in the focus order
        QCOMPARE(colours(), (QList<QColor>{white, white, white}));
        f->List1->setFocus();
        QCOMPARE(colours(), (QList<QColor>{cyan, white, white}));
        // Gaining the focus picks no entry (and so previews nothing).
        QCOMPARE(f->List1->ListIndex(), -1);
        QVERIFY(Module1::file_name.isEmpty());
        f->Drive1->setFocus();
        QCOMPARE(colours(), (QList<QColor>{white, cyan, white}));
        f->Dir1->setFocus();
        QCOMPARE(colours(), (QList<QColor>{white, white, cyan}));
        f->Command3->setFocus();
        QCOMPARE(colours(), (QList<QColor>{white, white, white}));
        f->List1->setFocus();
        f->List1->clearFocus();   // leaving a list changes nothing
        QCOMPARE(colours(), (QList<QColor>{cyan, white, white}));
    }

    void tabOrderRunsFromCommand1ToDir1()
    {
        activate();
        QList<QWidget *> seen;
        QWidget *w = f->Command1;
        for (int i = 0; i < 7; ++i) {
            seen << w;
            w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible())
                w = w->nextInFocusChain();
        }
        QCOMPARE(seen, (QList<QWidget *>{f->Command1, f->Command3, f->Command4, f->Command2, f->List1, f->Drive1, f->Dir1}));
    }

    void keysMoveBetweenTheLists()
    {
        activate();
        f->Dir1->setFocus();
        key(f->Dir1, Qt::Key_Up);   // Up alone only moves the highlight
        QVERIFY(f->Dir1->hasFocus());
        key(f->Dir1, Qt::Key_Up, Qt::ShiftModifier | Qt::ControlModifier);
        QVERIFY(f->Drive1->hasFocus());
        key(f->Drive1, Qt::Key_Return);
        QVERIFY(f->Dir1->hasFocus());
        key(f->Dir1, Qt::Key_Left);
        QVERIFY(f->List1->hasFocus());
        QCOMPARE(f->List1->backColor(), QColor(192, 255, 255));
        key(f->List1, Qt::Key_Right);
        QVERIFY(f->Dir1->hasFocus());
        QCOMPARE(f->Dir1->backColor(), QColor(192, 255, 255));
    }

    void enterOpensTheHighlightedFolderAndMovingOpensNothing()
    {
        activate();
        f->Dir1->setFocus();
        const QString start = f->Dir1->Path();
        // Highlight the sub-folder (the last entry) without opening it.
        f->Dir1->setCurrentRow(f->Dir1->count() - 1);
        QCOMPARE(f->Dir1->Path(), start);
        QCOMPARE(f->List1->ListCount(), 4);
        key(f->Dir1, Qt::Key_Return);
        QCOMPARE(f->Dir1->Path(), start + "/sub");
        QCOMPARE(f->File1->Path(), start + "/sub");
        QCOMPARE(f->List1->ListCount(), 1);
        QCOMPARE(f->List1->List(0), QStringLiteral("inner.ico"));
        QCOMPARE(f->List1->ListIndex(), -1);
        // Enter on the parent folder of the chain opens it again.
        f->Dir1->setCurrentRow(f->Dir1->count() - 2);
        key(f->Dir1, Qt::Key_Return);
        QCOMPARE(f->Dir1->Path(), start);
        QCOMPARE(f->List1->ListCount(), 4);
    }

    void doubleClickOnAFolderOpensIt()
    {
        activate();
        f->List1->setListIndex(1);
        QListWidgetItem *sub = f->Dir1->item(f->Dir1->count() - 1);
        QVERIFY(sub->text().trimmed() == QStringLiteral("sub"));
        const QPoint at = f->Dir1->visualItemRect(sub).center();
        QTest::mouseClick(f->Dir1->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(f->List1->ListCount(), 4);   // a click only highlights
        QTest::mouseDClick(f->Dir1->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(f->Dir1->Path(), fx.folder() + "/sub");
        QCOMPARE(f->File1->Path(), fx.folder() + "/sub");
        QCOMPARE(f->List1->ListCount(), 1);
        QCOMPARE(f->List1->List(0), QStringLiteral("inner.ico"));
        QCOMPARE(f->List1->ListIndex(), -1);
    }

    void pickingAnEntrySetsTheNameAndClearsTheViewerFlag()
    {
        Module1::actual_flag = 1;
        f->List1->setListIndex(2);
        QCOMPARE(Module1::file_name, QStringLiteral("photojpg"));
        QCOMPARE(Module1::actual_flag, 0);
    }

    void duringARunTheListsKeepTheirNames()
    {
        Module1::slide_flag = 1;
        f->Dir1->setPath(fx.folder() + "/sub");
        QCOMPARE(f->Dir1->Path(), fx.folder() + "/sub");
        QCOMPARE(f->File1->Path(), fx.folder());
        QCOMPARE(f->List1->ListCount(), 4);
        Module1::file_name = QStringLiteral("before");
        f->List1->setListIndex(1);
        QCOMPARE(Module1::file_name, QStringLiteral("before"));
        Module1::slide_flag = 0;
    }

    void backgroundClickRecentresOnlyWhenNothingShows()
    {
        f->moveTo(0, 0);
        Module1::actual_flag = 1;
        QTest::mouseClick(f->canvas, Qt::LeftButton, {}, QPoint(5, 200));
        QCOMPARE(f->Left(), 0.0);
        Module1::actual_flag = 0;
        Module1::slide_flag = 1;
        QTest::mouseClick(f->canvas, Qt::LeftButton, {}, QPoint(5, 200));
        QCOMPARE(f->Left(), 0.0);
        Module1::slide_flag = 0;
        QTest::mouseClick(f->canvas, Qt::LeftButton, {}, QPoint(5, 200));
        QCOMPARE(f->Left(), 3180.0);
        QCOMPARE(f->Top(), 1655.0);
    }

    // Only a live instance holding the lock is "already running"; a lock that
    // cannot be tried lets the program start and says why on one line of stderr.
    void secondInstanceMessageOnlyWhenAnotherInstanceHoldsTheLock()
    {
        QTemporaryDir runtime;
        QVERIFY(chmod(QFile::encodeName(runtime.path()).constData(), 0700) == 0);
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        auto restore = qScopeGuard([&] {
            saved.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", saved);
        });
        fx.shown().clear();
        {
            SingleInstance running(QStringLiteral("pelorinax"));
            SingleInstance second(QStringLiteral("pelorinax"));
            QVERIFY(!Module1::firstInstance(second));
            QCOMPARE(fx.shown().size(), 1);
            QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("Ｐｅｌｏｒｉｎａｘは、すでに起動されています。"));
            QCOMPARE(fx.shown().at(0).buttons, 16);   // OK with the stop icon
            QCOMPARE(fx.shown().at(0).title, QStringLiteral("pelorinax"));
        }
        fx.shown().clear();
        QVERIFY(QFile::remove(runtime.filePath("pelorinax.lock")));
        QVERIFY(QDir().mkdir(runtime.filePath("pelorinax.lock")));   // cannot be locked
        SingleInstance blocked(QStringLiteral("pelorinax"));
        QTemporaryFile err;
        QVERIFY(err.open());
        std::fflush(stderr);
        const int savedErr = dup(2);
        dup2(err.handle(), 2);
        const bool starts = Module1::firstInstance(blocked);
        std::fflush(stderr);
        dup2(savedErr, 2);
        close(savedErr);
        QVERIFY(starts);
        QVERIFY(fx.shown().isEmpty());
        err.seek(0);
        const QByteArray said = err.readAll();
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains(QFile::encodeName(runtime.filePath("pelorinax.lock"))), said.constData());
    }

    void exitClosesEveryWindowInEveryState_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("browsing") << 0;
        QTest::newRow("viewer shown") << 1;
        QTest::newRow("slideshow running") << 2;
        QTest::newRow("close box") << 3;
    }
    void exitClosesEveryWindowInEveryState()
    {
        QFETCH(int, state);
        if (state == 1) {
            f->List1->setListIndex(0);
            f->Command1_Click();
            QVERIFY(Forms::form2().isVisible());
        } else if (state == 2) {
            f->Command4_Click();
            f->Timer1_Timer();
            QVERIFY(f->Timer1->isActive());
            QVERIFY(Forms::form2().isVisible());
        }
        QPointer<Form1> main(f);
        QPointer<Form2> viewer(&Forms::form2());
        if (state == 3)
            f->close();
        else
            f->owari->trigger();
        QVERIFY(!Forms::isLoaded1());
        QVERIFY(!Forms::isLoaded2());
        WindowsFixture::settle();
        QVERIFY(main.isNull());
        QVERIFY(viewer.isNull());
        QVERIFY(fx.shown().isEmpty());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
