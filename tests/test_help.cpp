// The help menu: the quick manual (Form4), the version window (Form3) and the help
// viewer, on a 1024 x 768 screen.
#include "help/Form3.h"
#include "help/Form4.h"
#include "help/help_viewer.h"
#include "support/windows.h"

#include <QTextBrowser>

using namespace pel;
using namespace pel::test;

namespace {
const QColor kBlack(0, 0, 0), kBlue(0, 0, 255), kRed(255, 0, 0), kWhite(255, 255, 255);

QColor colour(const QWidget *w) { return w->palette().color(QPalette::WindowText); }

struct Place {
    const char *name;
    QRectF tw;
};

void checkPlaces(QWidget *form, std::initializer_list<Place> table)
{
    for (const Place &row : table) {
        auto *w = form->findChild<QWidget *>(QString::fromLatin1(row.name));
        QVERIFY2(w, row.name);
        QCOMPARE(w->geometry(), twips::toPixels(row.tw));
    }
}

void checkFont(const QWidget *w, double points, bool bold, bool italic, const QString &face = fonts::kGothic)
{
    // The face through its installed stand-in, as every window gets it.
    QCOMPARE(w->font().family(), fonts::font(face, points).family());
    QCOMPARE(w->font().pointSizeF(), points);
    QCOMPARE(w->font().bold(), bold);
    QCOMPARE(w->font().italic(), italic);
}

// The photograph is drawn unscaled from the top-left corner of the client area.
void checkPhotograph(kit::Canvas *canvas, const QString &resource, QSize size, QPoint probe)
{
    const QImage photo = QImage(resource).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(photo.size(), size);
    const QImage shown = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.pixel(probe), photo.pixel(probe));
    QCOMPARE(shown.pixel(0, 0), photo.pixel(0, 0));
}
}  // namespace

class TestHelp : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    Form1 *f = nullptr;
    QTemporaryDir m_data;   // the data folders the help viewer searches

    static void activate(QWidget *w)
    {
        w->activateWindow();
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
    }
    // The explanation lit blue, or -1; fails on anything but one blue and six black.
    static int blue(Form4 *m)
    {
        int lit = -1;
        for (int i = 0; i < 7; ++i) {
            const QColor c = colour(m->Label4[i]);
            if (c == kBlue) {
                if (lit >= 0)
                    return -2;
                lit = i;
            } else if (c != kBlack) {
                return -3;
            }
        }
        return lit;
    }
    static void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), k, mods);
    }
    // Opens the quick manual from the menu and runs `body` while it is shown.
    void withManual(const std::function<void(Form4 *)> &body)
    {
        bool ran = false;
        fx.modal = [&](kit::KitForm *w) {
            ran = true;
            body(qobject_cast<Form4 *>(w));
        };
        f->how_to->trigger();
        QVERIFY(ran);
    }
    void withVersion(const std::function<void(Form3 *)> &body)
    {
        bool ran = false;
        fx.modal = [&](kit::KitForm *w) {
            ran = true;
            body(qobject_cast<Form3 *>(w));
        };
        f->ver->trigger();
        QVERIFY(ran);
    }

private slots:
    void initTestCase()
    {
        // The help viewer searches these, and the test's own folder, which holds no document.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.filePath("home")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_data.filePath("system")));
    }
    void init()
    {
        makePicture(QDir(fx.folder()).filePath("a.bmp"), 20, 10, "BMP");
        makePicture(QDir(fx.folder()).filePath("b.bmp"), 20, 10, "BMP");
        f = &fx.start();
    }
    void cleanup()
    {
        help::closeViewer();
        fx.stop();
    }

    void quickManualStandsAsDesigned()
    {
        withManual([](Form4 *m) {
            QVERIFY(m && m->isVisible() && m->isModal());
            QCOMPARE(m->Caption(), QStringLiteral("簡易マニュアル"));
            QVERIFY(m->windowFlags().testFlag(Qt::Tool));
            QVERIFY(!(m->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
            QCOMPARE(m->Width(), 9500.0);
            QCOMPARE(m->Height(), 6700.0);
            QCOMPARE(m->Left(), (15360.0 - 9500.0) / 2);
            QCOMPARE(m->Top(), (11520.0 - 6700.0) / 2);
            QCOMPARE(m->frameGeometry(), QRect(195, 161, 633, 447));

            checkPlaces(m, {{"Image1", {1080, 120, 705, 705}},   {"Label1", {3120, 120, 2775, 495}},
                            {"Label3", {5640, 360, 495, 255}},   {"Label2", {6120, 360, 1095, 255}},
                            {"Command2", {240, 1080, 2295, 495}}, {"Command1", {240, 1680, 2295, 495}},
                            {"Command3", {240, 2280, 2295, 495}}, {"Command4", {240, 2880, 2295, 495}},
                            {"Command7", {240, 3480, 2295, 495}}, {"Command6", {240, 4080, 2295, 495}},
                            {"Command8", {240, 4920, 2295, 495}}, {"Command5", {720, 5760, 1095, 375}},
                            {"Label5", {2760, 5760, 6015, 495}}});
            const double tops[7] = {1200, 1800, 2400, 2880, 3480, 4200, 4800};
            const double heights[7] = {495, 495, 495, 495, 615, 495, 975};
            for (int i = 0; i < 7; ++i) {
                QCOMPARE(m->Label4[i]->geometry(), twips::toPixels(QRectF(2880, tops[i], 6000, heights[i])));
                QCOMPARE(m->Label4[i]->property("Index").toInt(), i);
                checkFont(m->Label4[i], 12, true, false);
            }

            QCOMPARE(m->Label1->text(), QStringLiteral("Pelorinax"));
            QCOMPARE(m->Label3->text(), QStringLiteral("Mini"));
            QCOMPARE(m->Label2->text(), QStringLiteral("Ver.1.23"));
            const QStringList explanations{
                "実寸表示画像をクリップボードにコピー",
                "プレビュー画像を実寸で表示",
                "実寸表示画面を消去",
                "画像を順番に実寸または縮小画像で表示\r\n（Ｅｓｃで終了）",
                "矢印キー（↓、↑）で実寸または縮小画像を順次表示\r\n（Ｅｓｃで終了）",
                "ファイル選択後  削除は'D' or 'd'　名前変更は'R' or 'r'",
                "・フォルダ選択は↑↓で選択しEnterで確定\r\n・フォルダ一覧からドライブ一覧への移動＝Shift+↑\r\n"
                "・フォルダ一覧とファイル一覧間の移動＝→，←"};
            for (int i = 0; i < 7; ++i)
                QCOMPARE(m->Label4[i]->text(), explanations[i]);
            QCOMPARE(m->Label5->text(), QStringLiteral("\u3000\u3000表示出来る画像ファイルは\uFF64下記拡張子を持つ5種類です\uFF61\r\n"
                                                       "\u3000\u3000\u3000\u3000\u3000\u3000\u3000BMP , WNF, JPEG, JPG, ICO"));

            const QStringList captions{"クリップボードにコピー", "実寸表示", "実寸表示消去", "スライドショー0.5sec",
                                       "スライドショー↓↑", "ファイル操作", "その他のキー", "Ｏ　Ｋ"};
            const QList<kit::CommandButton *> buttons{m->Command2, m->Command1, m->Command3, m->Command4,
                                                      m->Command7, m->Command6, m->Command8, m->Command5};
            const QList<QColor> faces{{255, 255, 128}, {255, 255, 128}, {255, 255, 128}, {255, 255, 128},
                                      {255, 255, 128}, {192, 255, 255}, {192, 255, 255}, {255, 255, 192}};
            for (int i = 0; i < 8; ++i) {
                QCOMPARE(buttons[i]->text(), captions[i]);
                QCOMPARE(buttons[i]->palette().color(QPalette::Button), faces[i]);
            }
            for (kit::CommandButton *b : {m->Command2, m->Command1, m->Command7})
                checkFont(b, 9.75, false, false);
            checkFont(m->Command5, 12, true, false);
            checkFont(m->Label1, 24, true, true, fonts::kMincho);
            checkFont(m->Label3, 9.75, false, true);
            checkFont(m->Label2, 9.75, true, true);
            checkFont(m->Label5, 9.75, false, false);
            for (QWidget *w : {m->Label1, m->Label2, m->Label3, m->Label5})
                QCOMPARE(colour(w), kRed);
            for (QLabel *l : m->findChildren<QLabel *>()) {
                QCOMPARE(l->focusPolicy(), Qt::NoFocus);
                QVERIFY(!l->autoFillBackground());
            }

            QCOMPARE(m->canvas->palette().color(QPalette::Window), QColor(255, 224, 192));
            checkPhotograph(m->canvas, ":/form4.jpg", QSize(640, 480), QPoint(620, 20));
        });
    }

    void highlightFollowsTheFocusThroughAWholeTabCycleAndBack()
    {
        withManual([this](Form4 *m) {
            activate(m);
            QVERIFY(m->Command2->hasFocus());
            QCOMPARE(blue(m), 0);
            // Forward through the seven buttons, onto "Ｏ　Ｋ" (all black) and round again.
            const QList<kit::CommandButton *> order{m->Command1, m->Command3, m->Command4, m->Command7,
                                                    m->Command6, m->Command8, m->Command5, m->Command2};
            const int lit[8] = {1, 2, 3, 4, 5, 6, -1, 0};
            for (int i = 0; i < 8; ++i) {
                key(Qt::Key_Tab);
                QVERIFY(order[i]->hasFocus());
                QCOMPARE(blue(m), lit[i]);
            }
            // And back the other way.
            for (int i = 6; i >= 0; --i) {
                key(Qt::Key_Backtab, Qt::ShiftModifier);
                QVERIFY(order[i]->hasFocus());
                QCOMPARE(blue(m), lit[i]);
            }
            // A click highlights its own explanation; Enter repeats it and never closes.
            QTest::mouseClick(m->Command6, Qt::LeftButton);
            QCOMPARE(blue(m), 5);
            m->Command7->setFocus();
            QCOMPARE(blue(m), 4);
            key(Qt::Key_Return);
            QCOMPARE(blue(m), 4);
            QVERIFY(Forms::isLoaded4());
            key(Qt::Key_Escape);
            QVERIFY(Forms::isLoaded4() && m->isVisible());
            m->Command5->setFocus();
            QCOMPARE(blue(m), -1);
            key(Qt::Key_Enter);
            QVERIFY(!Forms::isLoaded4());
            QVERIFY(!m->isVisible());
        });
    }

    void eachOpeningLoadsAFreshWindow()
    {
        QPointer<Form4> first;
        withManual([&](Form4 *m) {
            first = m;
            m->Label4[0]->setForeColor(kBlack);
            m->Label4[3]->setForeColor(kBlue);
            m->close();   // the close box
        });
        QVERIFY(!Forms::isLoaded4());
        WindowsFixture::settle();
        QVERIFY(first.isNull());
        withManual([](Form4 *m) {
            // Before the focus arrives, load leaves element 0 red and the rest black.
            QVERIFY(colour(m->Label4[0]) == kRed || colour(m->Label4[0]) == kBlue);
            for (int i = 1; i < 7; ++i)
                QCOMPARE(colour(m->Label4[i]), kBlack);
            QTest::mouseClick(m->Command5, Qt::LeftButton);
            QVERIFY(!Forms::isLoaded4());
        });
    }

    void versionWindowStandsAsDesigned()
    {
        withVersion([](Form3 *v) {
            QVERIFY(v && v->isVisible() && v->isModal());
            QCOMPARE(v->Caption(), QStringLiteral("バージョン情報"));
            QVERIFY(v->windowFlags().testFlag(Qt::Tool));
            QCOMPARE(v->Width(), 4470.0);
            QCOMPARE(v->Height(), 3255.0);
            QCOMPARE(v->Left(), (15360.0 - 4470.0) / 2);
            QCOMPARE(v->Top(), (11520.0 - 3255.0) / 2);
            QCOMPARE(v->frameGeometry(), QRect(363, 276, 298, 217));
            checkPlaces(v, {{"Label1", {240, 240, 2655, 495}},  {"Label3", {2520, 480, 495, 375}},
                            {"Label2", {3000, 480, 1095, 255}}, {"Label4", {120, 840, 4095, 1455}},
                            {"Image1", {360, 1080, 705, 705}},  {"Command1", {1680, 2400, 975, 375}}});
            QCOMPARE(v->Label1->text(), QStringLiteral("Pelorinax"));
            QCOMPARE(v->Label3->text(), QStringLiteral("Mini"));
            QCOMPARE(v->Label2->text(), QStringLiteral("Ver.1.23"));
            QCOMPARE(colour(v->Label1), kRed);
            for (QWidget *w : {v->Label2, v->Label3, v->Label4})
                QCOMPARE(colour(w), kWhite);
            checkFont(v->Label1, 24, true, true, fonts::kMincho);
            checkFont(v->Label3, 11.25, false, true);
            checkFont(v->Label2, 9.75, true, true);
            checkFont(v->Label4, 9.75, true, false);
            checkFont(v->Command1, 12, true, false);
            QCOMPARE(v->Command1->text(), QStringLiteral("Ｏ　Ｋ"));
            QCOMPARE(v->Command1->palette().color(QPalette::Button), QColor(128, 128, 255));

            // Six lines: empty, copyright, author, empty, the colour-depth note.
            const QString text = v->Label4->text();
            QVERIFY(!text.contains(QRegularExpression("[^\r]\n")));
            const QStringList lines = text.split("\r\n");
            QCOMPARE(lines.size(), 6);
            QVERIFY(lines[0].isEmpty() && lines[3].isEmpty());
            for (int i : {1, 2}) {
                QVERIFY(lines[i].startsWith("\u3000\u3000\u3000"));
                QVERIFY(!lines[i].mid(3).trimmed().isEmpty() && lines[i][3] != QChar(0x3000));
            }
            QCOMPARE(lines[4], QStringLiteral("\u3000\u3000\u3000High color(16ビット)"));
            QCOMPARE(lines[5], QStringLiteral("\u3000\u3000\u3000\u3000以上の環境で使用下さい。"));
            checkPhotograph(v->canvas, ":/form3.jpg", QSize(320, 240), QPoint(280, 190));
        });
    }

    void versionWindowClosesOnItsButtonOnly()
    {
        withVersion([](Form3 *v) {
            activate(v);
            QVERIFY(v->Command1->hasFocus());
            key(Qt::Key_Escape);
            QVERIFY(Forms::isLoaded3() && v->isVisible());
            key(Qt::Key_Return);
            QVERIFY(!Forms::isLoaded3());
        });
        withVersion([](Form3 *v) {
            v->close();
            QVERIFY(!Forms::isLoaded3());
        });
    }

    void bothShowTheVersionOfTheSharedState()
    {
        Module1::ver_str = QStringLiteral("Ver.9.87");
        withManual([](Form4 *m) { QCOMPARE(m->Label2->text(), QStringLiteral("Ver.9.87")); });
        withVersion([](Form3 *v) { QCOMPARE(v->Label2->text(), QStringLiteral("Ver.9.87")); });
    }

    void aBackgroundClickCentresAgainButNotOnLabelsOrTheIcon()
    {
        auto check = [](kit::KitForm *w, QWidget *canvas, QList<QWidget *> notBackground, QPoint background) {
            const double left = w->Left(), top = w->Top();
            w->moveTo(300, 450);   // dragged away
            for (QWidget *c : notBackground) {
                QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(3, 3));
                QCOMPARE(w->Left(), 300.0);
                QCOMPARE(w->Top(), 450.0);
            }
            QVERIFY(!canvas->childAt(background));
            QTest::mouseClick(canvas, Qt::LeftButton, {}, background);
            QCOMPARE(w->Left(), left);
            QCOMPARE(w->Top(), top);
        };
        withManual([&](Form4 *m) {
            check(m, m->canvas, {m->Label1, m->Label2, m->Label3, m->Label4[6], m->Label5, m->Image1}, QPoint(5, 5));
        });
        withVersion([&](Form3 *v) {
            check(v, v->canvas, {v->Label1, v->Label2, v->Label3, v->Label4, v->Image1}, QPoint(290, 190));
        });
    }

    void shutdownClosesEachHelpWindow_data()
    {
        QTest::addColumn<int>("window");
        QTest::newRow("quick manual") << 4;
        QTest::newRow("version") << 3;
        QTest::newRow("help viewer") << 0;
    }
    void shutdownClosesEachHelpWindow()
    {
        QFETCH(int, window);
        QPointer<Form1> main(f);
        QPointer<QWidget> open;
        if (window == 0) {
            f->howtouse->trigger();
            open = help::viewer();
            f->owari->trigger();
        } else {
            fx.modal = [&](kit::KitForm *w) {
                open = w;
                main->owari->trigger();
                QVERIFY(!w->isVisible());
            };
            (window == 4 ? f->how_to : f->ver)->trigger();
        }
        QVERIFY(open);
        QVERIFY(!Forms::isLoaded1() && !Forms::isLoaded3() && !Forms::isLoaded4());
        WindowsFixture::settle();
        QVERIFY(open.isNull());
        QVERIFY(main.isNull());
        QVERIFY(fx.shown().isEmpty());
    }

    void howToUseOpensTheViewerBesideAWorkingMainWindow()
    {
        const QString document = m_data.filePath("system/pelorinax/pelorinax.html");
        QDir().mkpath(QFileInfo(document).path());
        writeText(document, "<html><head><title>T</title></head><body><a name=\"top\"></a>help</body></html>");
        f->howtouse->trigger();   // returns at once: no loop runs in this test
        help::HelpViewer *v = help::viewer();
        QVERIFY(v && v->isVisible());
        QCOMPARE(v->owner(), f);
        QCOMPARE(v->documentPath(), document);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(fx.shown().isEmpty());

        // The main window still takes input: a click in its list picks a file.
        activate(f);
        f->List1->setFocus();
        const QRect row = f->List1->visualRect(f->List1->model()->index(1, 0));
        QTest::mouseClick(f->List1->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(Module1::file_name, QStringLiteral("b.bmp"));

        // A second choice brings the same viewer forward.
        f->howtouse->trigger();
        QCOMPARE(help::viewer(), v);
        const QWidgetList tops = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(tops.begin(), tops.end(),
                               [](QWidget *w) { return qobject_cast<help::HelpViewer *>(w) != nullptr; }),
                 1);
    }
};

QTEST_MAIN(TestHelp)
#include "test_help.moc"
