// The help menu: the quick manual (Form4), the version window (Form3) and the help
// viewer, on a 1024 x 768 screen unless a test says otherwise.
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

// Where a label's text puts ink, drawn as the label draws it but without its clip,
// in its parent's coordinates: one rectangle per band of rows that hold ink (a
// line of text). `overflow` is set when any of it falls outside the label.
QList<QRect> inkOf(const QLabel *l, bool *overflow)
{
    const int m = 12;   // room around the label for ink it would lose
    QLabel copy(l->text());
    copy.setTextFormat(l->textFormat());
    copy.setFont(l->font());
    copy.setAlignment(l->alignment());
    copy.setWordWrap(l->wordWrap());
    copy.setContentsMargins(l->contentsMargins() + QMargins(m, m, m, m));
    copy.resize(l->size() + QSize(2 * m, 2 * m));
    QPalette pal;
    pal.setColor(QPalette::WindowText, Qt::black);
    pal.setColor(QPalette::Window, Qt::white);
    copy.setPalette(pal);
    copy.setAutoFillBackground(true);
    const QImage img = copy.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // A pixel's leeway: some glyphs of the Japanese faces reach a pixel past their
    // line's box, and lose nothing that shows when it is cut.
    const QRect inside = QRect(m, m, l->width(), l->height()).adjusted(-1, -1, 1, 1);
    *overflow = false;
    QList<QRect> bands;
    QRect band;
    for (int y = 0; y < img.height(); ++y) {
        int left = img.width(), right = -1;
        for (int x = 0; x < img.width(); ++x) {
            if (qGray(img.pixel(x, y)) < 128) {   // half-covered or more: the anti-aliased fringe aside
                left = std::min(left, x);
                right = x;
                *overflow = *overflow || !inside.contains(x, y);
            }
        }
        if (right >= 0) {
            band = band.united(QRect(left, y, right - left + 1, 1));
        } else if (!band.isNull()) {
            bands << band.translated(l->pos() - QPoint(m, m));
            band = QRect();
        }
    }
    if (!band.isNull())
        bands << band.translated(l->pos() - QPoint(m, m));
    return bands;
}

QString rectText(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Every control of a help window keeps its text inside itself and clear of the
// others', and stays inside the window.
void checkLayout(kit::KitForm *form)
{
    QWidget *client = form->client();
    struct Ink {
        QWidget *owner;
        QRect rect;
    };
    QList<Ink> inks;
    for (QWidget *w : client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisible())
            continue;
        QVERIFY2(client->rect().contains(w->geometry()), qPrintable(w->objectName()));
        if (auto *l = qobject_cast<QLabel *>(w)) {
            bool overflow = false;
            const QList<QRect> bands = inkOf(l, &overflow);
            QVERIFY2(!overflow, qPrintable(l->objectName() + ": " + l->text()));
            for (const QRect &r : bands)
                inks << Ink{w, r};
        } else {
            if (auto *b = qobject_cast<QPushButton *>(w))
                QVERIFY2(QFontMetrics(b->font()).horizontalAdvance(b->text()) < b->width() - 4, qPrintable(b->text()));
            inks << Ink{w, w->geometry()};
        }
    }
    for (qsizetype i = 0; i < inks.size(); ++i)
        for (qsizetype j = i + 1; j < inks.size(); ++j)
            if (inks[i].owner != inks[j].owner && inks[i].rect.intersects(inks[j].rect))
                QFAIL(qPrintable(QStringLiteral("%1 %2 and %3 %4 overlap")
                                     .arg(inks[i].owner->objectName(), rectText(inks[i].rect),
                                          inks[j].owner->objectName(), rectText(inks[j].rect))));
}

// Every text in one of the Japanese faces the program installs.
void checkFaces(kit::KitForm *form)
{
    const QStringList faces{fonts::installedFamily(fonts::kGothic), fonts::installedFamily(fonts::kMincho)};
    for (QWidget *w : form->client()->findChildren<QWidget *>())
        if (qobject_cast<QLabel *>(w) || qobject_cast<QPushButton *>(w))
            QVERIFY2(faces.contains(w->font().family()), qPrintable(w->objectName() + ": " + w->font().family()));
}

// The photograph is drawn unscaled from the top-left corner of the client area.
void checkPhotograph(kit::Canvas *canvas, const QString &resource, QPoint probe)
{
    const QImage photo = QImage(resource).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!photo.isNull());
    const QImage shown = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.pixel(probe), photo.pixel(probe));
    QCOMPARE(shown.pixel(0, 0), photo.pixel(0, 0));
}

// The window's middle, in twips, against the screen's.
void checkCentred(const kit::KitForm *w, QSize screen)
{
    const double tpp = 15;
    QVERIFY2(qAbs(w->Left() + w->Width() / 2 - screen.width() * tpp / 2) <= tpp, qPrintable(QString::number(w->Left())));
    QVERIFY2(qAbs(w->Top() + w->Height() / 2 - screen.height() * tpp / 2) <= tpp, qPrintable(QString::number(w->Top())));
    QVERIFY(QRect(QPoint(), screen).contains(w->frameGeometry()));
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
    // The explanation beside a button: the one whose lines share the most height with it.
    static int beside(Form4 *m, const QWidget *button)
    {
        int best = -1, shared = 0;
        for (int i = 0; i < 7; ++i) {
            const QRect l = m->Label4[i]->geometry(), b = button->geometry();
            const int common = std::min(l.bottom(), b.bottom()) - std::max(l.top(), b.top());
            if (l.left() > b.right() && common > shared) {
                best = i;
                shared = common;
            }
        }
        return best;
    }
    static kit::CommandButton *button(Form4 *m, const QString &caption)
    {
        for (auto *b : m->findChildren<kit::CommandButton *>())
            if (b->text() == caption)
                return b;
        return nullptr;
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
            checkCentred(m, QSize(1024, 768));
            checkLayout(m);
            checkFaces(m);

            QCOMPARE(m->Label1->text(), QStringLiteral("Pelorinax"));
            QCOMPARE(m->Label3->text(), QStringLiteral("Mini"));
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
            for (QWidget *w : {m->Label1, m->Label2, m->Label3, m->Label5})
                QCOMPARE(colour(w), kRed);
            for (QLabel *l : m->findChildren<QLabel *>()) {
                QCOMPARE(l->focusPolicy(), Qt::NoFocus);
                QVERIFY(!l->autoFillBackground());
            }
            QCOMPARE(m->canvas->palette().color(QPalette::Window), QColor(255, 224, 192));
            checkPhotograph(m->canvas, ":/form4.jpg", QPoint(620, 20));
        });
    }

    // Each button of the column lights the explanation beside it, and only that one,
    // when it gets the focus and when it is clicked; "Ｏ　Ｋ" lights none.
    void eachButtonHighlightsItsOwnExplanation_data()
    {
        QTest::addColumn<QString>("caption");
        for (const char *c : {"クリップボードにコピー", "実寸表示", "実寸表示消去", "スライドショー0.5sec",
                              "スライドショー↓↑", "ファイル操作", "その他のキー"})
            QTest::newRow(c) << QString::fromUtf8(c);
    }
    void eachButtonHighlightsItsOwnExplanation()
    {
        QFETCH(QString, caption);
        withManual([&](Form4 *m) {
            activate(m);
            kit::CommandButton *b = button(m, caption), *ok = button(m, QStringLiteral("Ｏ　Ｋ"));
            QVERIFY(b && ok);
            const int own = beside(m, b);
            QVERIFY(own >= 0);
            ok->setFocus();
            QCOMPARE(blue(m), -1);
            b->setFocus();
            QCOMPARE(blue(m), own);
            m->color_black();
            QTest::mouseClick(b, Qt::LeftButton);   // already focused: the click alone
            QCOMPARE(blue(m), own);
            ok->setFocus();
            QTest::mouseClick(b, Qt::LeftButton);   // focus and click at once
            QCOMPARE(blue(m), own);
            QVERIFY(Forms::isLoaded4() && m->isVisible());
        });
    }

    void highlightFollowsTheFocusThroughAWholeTabCycleAndBack()
    {
        withManual([this](Form4 *m) {
            activate(m);
            QWidget *first = QApplication::focusWidget();
            QCOMPARE(first, static_cast<QWidget *>(button(m, QStringLiteral("クリップボードにコピー"))));
            QCOMPARE(blue(m), beside(m, first));
            // Forward round the eight buttons: each lights what is beside it ("Ｏ　Ｋ" nothing).
            QList<QWidget *> met{first};
            for (int i = 0; i < 8; ++i) {
                key(Qt::Key_Tab);
                QWidget *now = QApplication::focusWidget();
                QVERIFY(qobject_cast<kit::CommandButton *>(now));
                QCOMPARE(blue(m), beside(m, now));
                met << now;
            }
            QCOMPARE(met.last(), first);
            QCOMPARE(QSet<QWidget *>(met.begin(), met.end()).size(), 8);
            QCOMPARE(blue(m), beside(m, first));
            // And back the other way.
            for (int i = 7; i >= 0; --i) {
                key(Qt::Key_Backtab, Qt::ShiftModifier);
                QCOMPARE(QApplication::focusWidget(), met[i]);
                QCOMPARE(blue(m), beside(m, met[i]));
            }
            // Enter repeats a button and never closes; Esc does nothing; Enter on "Ｏ　Ｋ" closes.
            button(m, QStringLiteral("スライドショー↓↑"))->setFocus();
            const int lit = blue(m);
            key(Qt::Key_Return);
            QCOMPARE(blue(m), lit);
            key(Qt::Key_Escape);
            QVERIFY(Forms::isLoaded4() && m->isVisible());
            button(m, QStringLiteral("Ｏ　Ｋ"))->setFocus();
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
            checkLayout(v);
            checkFaces(v);
            QCOMPARE(v->Label1->text(), QStringLiteral("Pelorinax"));
            QCOMPARE(v->Label3->text(), QStringLiteral("Mini"));
            QCOMPARE(colour(v->Label1), kRed);
            for (QWidget *w : {v->Label2, v->Label3, v->Label4})
                QCOMPARE(colour(w), kWhite);
            QCOMPARE(v->Command1->text(), QStringLiteral("Ｏ　Ｋ"));

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
            checkPhotograph(v->canvas, ":/form3.jpg", QPoint(280, 190));
        });
    }

    // The screen as it is at each opening, and at each click on the background.
    void versionWindowCentresOnTheLiveScreen()
    {
        for (const QSize screen : {QSize(1024, 768), QSize(1920, 1080), QSize(800, 600)}) {
            fx.os().screen = screen;
            withVersion([&](Form3 *v) {
                checkCentred(v, screen);
                const QSize next(screen.width() + 256, screen.height() + 200);
                fx.os().screen = next;
                QTest::mouseClick(v->canvas, Qt::LeftButton, {}, QPoint(290, 190));
                checkCentred(v, next);
                v->close();
            });
            if (QTest::currentTestFailed())
                return;
        }
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
