// Delete and rename from the file list: the keys, the questions, the trash, the
// rename dialog, and that neither ever loses a file or leaves the list lying.
#include "fileops/Form5.h"
#include "support/windows.h"
#include "system/file_ops.h"
#include "system/fsname.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>

using namespace pel;
using namespace pel::test;

namespace {
QByteArray read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The entries of a folder as bytes (Qt's own listing would lose the names that
// are not UTF-8).
QList<QByteArray> entriesOf(const QString &folder)
{
    QList<QByteArray> names;
    if (DIR *d = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names << QByteArray(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

class TestDeleteRename : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    QTemporaryDir m_home;
    Form1 *f = nullptr;
    int m_modals = 0;

    QString at(const QString &name) const { return fx.folder() + '/' + name; }
    QByteArray rawAt(const QByteArray &name) const { return QFile::encodeName(fx.folder()) + '/' + name; }
    QByteArray readRaw(const QByteArray &path) const
    {
        QFile f;
        FILE *file = std::fopen(path.constData(), "rb");
        if (!file || !f.open(file, QIODevice::ReadOnly, QFile::AutoCloseHandle))
            return "<missing>";
        return f.readAll();
    }
    // A picture under a name of any bytes, in the folder shown, the list read again.
    QByteArray placePicture(const QByteArray &name, QColor fill)
    {
        makePicture(at("placing.bmp"), 8, 6, "BMP", fill);
        if (::rename(QFile::encodeName(at("placing.bmp")).constData(), rawAt(name).constData()) != 0)
            qWarning("could not place %s", name.constData());
        f->File1->Refresh();
        f->disp_data1();
        return readRaw(rawAt(name));
    }
    QStringList shownEntries() const
    {
        QStringList texts;
        for (int i = 0; i < f->List1->ListCount(); ++i)
            texts << f->List1->Shown(i);
        return texts;
    }
    void sendEnter(QWidget *to, QEvent::Type type, bool marked, quint64 time)
    {
        QKeyEvent e(type, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), marked);
        e.setTimestamp(time);
        QApplication::sendEvent(to, &e);
    }
    QString trashed(const QString &name) const { return m_home.path() + "/share/Trash/files/" + name; }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < f->List1->ListCount(); ++i)
            names << f->List1->List(i);
        return names;
    }
    void press(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(f->List1, k, m); }
    void send(QEvent::Type type, Qt::Key k, bool autoRepeat, quint64 time = 0)
    {
        QKeyEvent e(type, k, Qt::NoModifier, QStringLiteral("d"), autoRepeat);
        e.setTimestamp(time);
        QApplication::sendEvent(f->List1, &e);
    }
    // Opens the rename dialog on `name`; `drive` works it while it is open.
    void rename(const QString &name, std::function<void(Form5 &)> drive)
    {
        QVERIFY(fx.pick(name));
        fx.answer = [](const MsgBoxShown &b) { return (b.buttons & 7) == vbYesNo ? vbYes : vbOK; };
        fx.modal = [&](kit::KitForm *w) {
            ++m_modals;
            auto *dialog = qobject_cast<Form5 *>(w);
            QVERIFY(dialog);
            drive(*dialog);
        };
        press(Qt::Key_R);
        fx.answer = nullptr;
        fx.modal = nullptr;
        fx.settle();
    }

private slots:
    void initTestCase()
    {
        // The trash of these tests stays in their own home.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path() + "/share"));
    }
    void init()
    {
        QDir d(fx.folder());
        // Names of any bytes too.
        QProcess::execute(QStringLiteral("find"), {fx.folder(), "-mindepth", "1", "-delete"});
        QDir(m_home.path() + "/share").removeRecursively();
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path() + "/share"));
        for (const char *n : {"a.bmp", "b.bmp", "d1.bmp", "IMG.bmp", "r1.bmp"})
            makePicture(at(n), 8, 6, "BMP");
        writeText(at(".hidden.jpg"), "hidden");
        writeText(at("notes.txt"), "notes");
        d.mkdir(QStringLiteral("sub"));
        m_modals = 0;
        f = &fx.start();
        QCOMPARE(listed(), (QStringList{"a.bmp", "b.bmp", "d1.bmp", "IMG.bmp", "r1.bmp"}));
    }
    void cleanup()
    {
        fx.answer = nullptr;
        fx.modal = nullptr;
        fx.stop();
    }

    void lettersAskNothingWithoutAPickOrWhileAPictureOrRunShows()
    {
        press(Qt::Key_R, Qt::ShiftModifier);
        QVERIFY(fx.shown().isEmpty());
        QCOMPARE(f->List1->ListIndex(), 4);   // asking nothing, the letter is the list's own search
        QVERIFY(fx.pick("b.bmp"));
        Module1::actual_flag = 1;
        press(Qt::Key_D);
        Module1::actual_flag = 0;
        QVERIFY(fx.pick("b.bmp"));
        Module1::slide_flag = 1;
        press(Qt::Key_R);
        Module1::slide_flag = 0;
        QVERIFY(fx.shown().isEmpty());
        QCOMPARE(m_modals, 0);
    }

    void theQuestionsNameTheEntryAndNoChangesNothing()
    {
        QVERIFY(fx.pick("b.bmp"));
        press(Qt::Key_D);
        press(Qt::Key_D, Qt::ShiftModifier);
        press(Qt::Key_R, Qt::ShiftModifier);
        press(Qt::Key_R);
        QCOMPARE(fx.shown().size(), 4);
        for (int i : {0, 1}) {
            QCOMPARE(fx.shown()[i].prompt, QStringLiteral("b.bmp\r\n\r\nを削除しますか？"));
            QCOMPARE(fx.shown()[i].title, QStringLiteral("ファイル削除"));
            QCOMPARE(fx.shown()[i].buttons, 36);
        }
        for (int i : {2, 3}) {
            QCOMPARE(fx.shown()[i].prompt, QStringLiteral("b.bmp\r\n\r\nの名前を変更しますか？"));
            QCOMPARE(fx.shown()[i].title, QStringLiteral("ファイル名変更"));
            QCOMPARE(fx.shown()[i].buttons, 36);
        }
        QCOMPARE(m_modals, 0);
        QVERIFY(!Forms::isLoaded5());
        QCOMPARE(listed().size(), 5);
        QCOMPARE(f->List1->ListIndex(), 1);   // nor did the letters' search move the pick
        QVERIFY(QFile::exists(at("b.bmp")));
    }

    void deleteTrashesTheFileNamedInTheQuestion()
    {
        QVERIFY(fx.pick("a.bmp"));
        QCOMPARE(f->canvas->painted().size(), 1);
        const QImage preview = f->canvas->painted().first().image;
        fx.answer = [](const MsgBoxShown &) { return vbYes; };
        press(Qt::Key_D, Qt::ShiftModifier);
        QCOMPARE(listed(), (QStringList{"b.bmp", "d1.bmp", "IMG.bmp", "r1.bmp"}));
        QCOMPARE(f->List1->ListIndex(), -1);   // the letter picked no "d1.bmp"
        QVERIFY(!QFile::exists(at("a.bmp")));
        QVERIFY(QFile::exists(trashed("a.bmp")));
        QCOMPARE(Module1::file_name, QStringLiteral("a.bmp"));
        QCOMPARE(f->canvas->painted().size(), 1);   // the preview still shows it
        QCOMPARE(f->canvas->painted().first().image, preview);
        press(Qt::Key_D);
        QCOMPARE(fx.shown().size(), 1);

        // Whatever moved the pick while the question was open, the named file goes.
        QVERIFY(fx.pick("IMG.bmp"));
        fx.answer = [this](const MsgBoxShown &) {
            f->List1->setListIndex(0);
            return vbYes;
        };
        press(Qt::Key_D);
        QCOMPARE(fx.shown().last().prompt, QStringLiteral("IMG.bmp\r\n\r\nを削除しますか？"));
        QCOMPARE(listed(), (QStringList{"b.bmp", "d1.bmp", "r1.bmp"}));
        QVERIFY(QFile::exists(trashed("IMG.bmp")));
        QVERIFY(QFile::exists(at("b.bmp")));
    }

    void aHeldKeyAsksOnce()
    {
        QVERIFY(fx.pick("b.bmp"));
        send(QEvent::KeyPress, Qt::Key_D, false, 1000);
        QCOMPARE(fx.shown().size(), 1);
        for (int i = 0; i < 3; ++i)
            send(QEvent::KeyPress, Qt::Key_D, true);   // marked repeats
        for (quint64 t = 1500; t < 1700; t += 50) {   // X11's pairs, left unmarked
            send(QEvent::KeyRelease, Qt::Key_D, false, t);
            send(QEvent::KeyPress, Qt::Key_D, false, t);
        }
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(f->List1->ListIndex(), 1);   // and searched nothing
        send(QEvent::KeyRelease, Qt::Key_D, false, 1800);
        send(QEvent::KeyPress, Qt::Key_D, false, 2400);   // pressed again
        QCOMPARE(fx.shown().size(), 2);
    }

    void withoutATrashOnlyASecondYesDeletesForGood()
    {
        writeText(m_home.path() + "/plain", "x");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path() + "/plain/share"));
        QVERIFY(fx.pick("b.bmp"));
        fx.answer = [](const MsgBoxShown &b) { return b.prompt.endsWith("を削除しますか？") ? vbYes : vbNo; };
        press(Qt::Key_D);
        QCOMPARE(fx.shown().size(), 2);
        const MsgBoxShown again = fx.shown()[1];
        QCOMPARE(again.buttons, vbYesNo + vbExclamation + vbDefaultButton2);   // No is the default
        QVERIFY(again.prompt.startsWith("b.bmp\r\n\r\n"));
        QVERIFY(again.prompt.contains(QString::fromLocal8Bit(std::strerror(ENOTDIR))));
        QVERIFY(again.prompt.contains("完全に削除しますか？"));
        QVERIFY(QFile::exists(at("b.bmp")));
        QCOMPARE(listed().at(1), QStringLiteral("b.bmp"));   // back at its place
        QCOMPARE(f->List1->ListIndex(), -1);

        QVERIFY(fx.pick("b.bmp"));
        fx.answer = [](const MsgBoxShown &) { return vbYes; };
        press(Qt::Key_D);
        QVERIFY(!QFile::exists(at("b.bmp")));
        QCOMPARE(listed(), (QStringList{"a.bmp", "d1.bmp", "IMG.bmp", "r1.bmp"}));
        QCOMPARE(QDir(fx.folder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"sub"});
    }

    void aFailedOrVanishedDeleteLeavesTheListTrue()
    {
        fx.os().faccessatScript = [](int, const char *, int, int) { errno = EACCES; return -1; };   // a read-only folder
        QVERIFY(fx.pick("b.bmp"));
        fx.answer = [](const MsgBoxShown &b) { return (b.buttons & 7) == vbYesNo ? vbYes : vbOK; };
        press(Qt::Key_D);
        QCOMPARE(fx.shown().size(), 2);
        QCOMPARE(fx.shown()[1].buttons, int(vbCritical));
        QVERIFY(fx.shown()[1].prompt.startsWith("b.bmp\r\n"));
        QVERIFY(fx.shown()[1].prompt.contains(QString::fromLocal8Bit(std::strerror(EACCES))));
        QVERIFY(QFile::exists(at("b.bmp")));
        QCOMPARE(listed().at(1), QStringLiteral("b.bmp"));
        fx.os().faccessatScript = nullptr;

        // Removed by someone else while the question was open: said so, entry stays out.
        QVERIFY(fx.pick("d1.bmp"));
        fx.answer = [this](const MsgBoxShown &b) {
            QFile::remove(at("d1.bmp"));
            return (b.buttons & 7) == vbYesNo ? vbYes : vbOK;
        };
        press(Qt::Key_D);
        QVERIFY(fx.shown().last().prompt.contains("見つかりません"));
        QCOMPARE(listed(), (QStringList{"a.bmp", "b.bmp", "IMG.bmp", "r1.bmp"}));
    }

    void theRenameDialogAtItsPlaceBlockingTheMainWindow()
    {
        rename("IMG.bmp", [&](Form5 &w) {
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QCOMPARE(w.Caption(), QStringLiteral("ファイル名変更"));
            QVERIFY(w.windowFlags() & Qt::Tool);
            QCOMPARE(w.size(), QSize(201, 115));   // 3015 x 1725 twips of client area
            QCOMPARE(w.Left(), double(float((15360 - w.Width()) / 2)));
            QCOMPARE(w.Top(), double(float((11520 - w.Height()) / 1.7)));
            struct { QWidget *c; QRectF tw; } table[] = {
                {w.Label1, {240, 120, 2655, 375}}, {w.Text1, {240, 600, 2535, 375}},
                {w.Command1, {240, 1200, 1215, 375}}, {w.Command2, {1560, 1200, 1215, 375}}};
            for (const auto &row : table)
                QCOMPARE(row.c->geometry(), twips::toPixels(row.tw));
            QCOMPARE(w.Label1->text(), QStringLiteral("IMG.bmp"));
            QCOMPARE(w.Text1->text(), QStringLiteral("IMG.bmp"));
            QCOMPARE(w.Command1->text(), QStringLiteral("変更"));
            QCOMPARE(w.Command2->text(), QStringLiteral("キャンセル"));
            QCOMPARE(w.Text1->font().pointSizeF(), 12.0);
            QVERIFY(w.Command2->font().bold());
            QCOMPARE(w.Command2->font().pointSizeF(), 9.75);
            QCOMPARE(QApplication::focusWidget(), w.Text1);
            QCOMPARE(w.Text1->nextInFocusChain(), w.Command1);
            QCOMPARE(w.Command1->nextInFocusChain(), w.Command2);
            // Kanji input on: the input method is switched on for the box, never off.
            QTRY_VERIFY(!fx.os().inputMethod.isEmpty());
            QVERIFY(!fx.os().inputMethod.contains(false));

            // Really modal: a key the window system brings to the main window is refused.
            QCOMPARE(QGuiApplication::modalWindow(), w.windowHandle());
            QTest::keyClick(f->windowHandle(), Qt::Key_D);
            QCOMPARE(fx.shown().size(), 1);

            QTest::keyClick(w.Text1, Qt::Key_Return);   // Enter moves on, renames nothing
            QCOMPARE(QApplication::focusWidget(), w.Command1);
            QTest::keyClick(w.Command1, Qt::Key_Escape);   // Esc does nothing
            QVERIFY(w.isVisible() && Forms::isLoaded5());
            QTest::keyClick(w.Command1, Qt::Key_Return);   // a second Enter presses "変更"
            QCOMPARE(fx.shown().last().prompt, QStringLiteral("同一ファイル名が存在します"));
            QCOMPARE(fx.shown().last().title, QStringLiteral("pelorinax"));
            QCOMPARE(fx.shown().last().buttons, 0);
            QCOMPARE(QApplication::focusWidget(), w.Text1);
            w.Command2->click();
        });
        QVERIFY(!Forms::isLoaded5());
        QCOMPARE(listed(), (QStringList{"a.bmp", "b.bmp", "d1.bmp", "IMG.bmp", "r1.bmp"}));
        QCOMPARE(f->focusWidget(), f->List1);
        rename("b.bmp", [](Form5 &w) {
            w.Text1->setText("x.bmp");
            w.close();   // the close box changes nothing either
        });
        QVERIFY(QFile::exists(at("b.bmp")) && !QFile::exists(at("x.bmp")));
        QCOMPARE(m_modals, 2);

        // The worked example: a 3100 x 2200 dialog on a 15360 x 11520 screen.
        Form5 &w = Forms::form5();
        w.setDesignSize(3100, 2200);
        w.Form_Load();
        QCOMPARE(w.Left(), 6130.0);
        QCOMPARE(w.Top(), double(float(9320 / 1.7)));
        QVERIFY(qAbs(w.Top() - 5482.35) < 0.01);
    }

    void renamedInPlaceAfterAnExactCheckAgainstTheList()
    {
        const QByteArray bytes = read(at("IMG.bmp"));
        rename("IMG.bmp", [&](Form5 &w) {
            QTRY_VERIFY(w.Text1->hasFocus());
            QTRY_COMPARE(fx.os().inputMethod, QList<bool>{true});
            for (const char *other : {"a.bmp", "r1.bmp"}) {
                w.Text1->setText(QString::fromLatin1(other));
                w.Command1->click();
                QCOMPARE(fx.shown().last().prompt, QStringLiteral("同一ファイル名が存在します"));
            }
            w.Text1->setText("img.bmp");   // differs from its own entry in case only
            w.Command1->click();
        });
        QCOMPARE(listed(), (QStringList{"a.bmp", "b.bmp", "d1.bmp", "img.bmp", "r1.bmp"}));
        QCOMPARE(f->List1->ListIndex(), -1);
        QCOMPARE(read(at("img.bmp")), bytes);
        QCOMPARE(QDir(fx.folder()).entryList({"img.bmp", "IMG.bmp"}, QDir::Files, QDir::Name), QStringList{"img.bmp"});
        // Switched off again once the name is changed (the box still had the focus).
        QCOMPARE(fx.os().inputMethod.last(), false);
        QCOMPARE(f->focusWidget(), f->List1);

        // Kanji input off: the box opens as designed; a name outside the pattern stays listed.
        f->ime_moff->trigger();
        fx.os().inputMethod.clear();
        rename("b.bmp", [this](Form5 &w) {
            QTRY_VERIFY(w.Text1->hasFocus());
            QCoreApplication::processEvents();   // the focus handlers run
            QVERIFY(fx.os().inputMethod.isEmpty());
            w.Text1->setText("b.txt");
            w.Command1->click();
        });
        QCOMPARE(listed().at(1), QStringLiteral("b.txt"));
        QVERIFY(QFile::exists(at("b.txt")));
        QCOMPARE(fx.os().inputMethod, QList<bool>{false});
    }

    void refusedNamesKeepTheDialogTheFileAndTheList()
    {
        const QByteArray bytes = read(at("b.bmp"));
        rename("b.bmp", [&](Form5 &w) {
            const QStringList refused{"", ".", "..", "x/y.bmp", ".hidden.jpg", "notes.txt", "sub",
                                      QString(86, QChar(0x3042))};
            for (const QString &name : refused) {
                const qsizetype before = fx.shown().size();
                w.Text1->setText(name);
                w.Command1->click();
                QVERIFY2(fx.shown().size() == before + 1, qPrintable(name));
                QCOMPARE(fx.shown().last().title, QStringLiteral("ファイル名変更"));
                QVERIFY(Forms::isLoaded5() && w.isVisible());
                QCOMPARE(w.focusWidget(), w.Text1);
            }
            w.Command2->click();
        });
        QCOMPARE(read(at("b.bmp")), bytes);
        QCOMPARE(read(at(".hidden.jpg")), QByteArray("hidden"));
        QCOMPARE(read(at("notes.txt")), QByteArray("notes"));
        QVERIFY(QFileInfo(at("sub")).isDir());
        QCOMPARE(listed(), (QStringList{"a.bmp", "b.bmp", "d1.bmp", "IMG.bmp", "r1.bmp"}));

        // The file went away while the dialog was open: said so, and its entry goes too.
        rename("d1.bmp", [&](Form5 &w) {
            QFile::remove(at("d1.bmp"));
            w.Text1->setText("d2.bmp");
            w.Command1->click();
        });
        QVERIFY(fx.shown().last().prompt.contains("見つかりません"));
        QVERIFY(!Forms::isLoaded5());
        QCOMPARE(listed(), (QStringList{"a.bmp", "b.bmp", "IMG.bmp", "r1.bmp"}));
        QVERIFY(!QFile::exists(at("d2.bmp")));
    }

    // Two names that Qt would read alike: the one picked is the one acted on.
    void twinNamesActOnThePickedFile_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("delete") << int(Qt::Key_D);
        QTest::newRow("rename") << int(Qt::Key_R);
    }
    void twinNamesActOnThePickedFile()
    {
        QFETCH(int, key);
        const QByteArray raw("x\xff.bmp"), twin("x\xef\xbf\xbd.bmp");
        const QByteArray rawBytes = placePicture(raw, Qt::red);
        const QByteArray twinBytes = placePicture(twin, Qt::green);
        QVERIFY(rawBytes != twinBytes);
        QVERIFY(fx.pick(fsname::decode(raw)));
        fx.answer = [](const MsgBoxShown &b) { return (b.buttons & 7) == vbYesNo ? vbYes : vbOK; };
        fx.modal = [&](kit::KitForm *w) {
            auto *dialog = qobject_cast<Form5 *>(w);
            QVERIFY(dialog);
            dialog->Text1->setText("y.bmp");
            dialog->Command1->click();
        };
        press(Qt::Key(key));
        QCOMPARE(readRaw(rawAt(twin)), twinBytes);
        QCOMPARE(readRaw(rawAt(raw)), QByteArray("<missing>"));
        if (key == Qt::Key_R) {
            QCOMPARE(read(at("y.bmp")), rawBytes);
            return;
        }
        const QString trash = m_home.path() + "/share/Trash";
        QCOMPARE(readRaw(QFile::encodeName(trash + "/files/") + raw), rawBytes);
        QCOMPARE(entriesOf(trash + "/info"), QList<QByteArray>{raw + ".trashinfo"});
        QVERIFY(readRaw(QFile::encodeName(trash + "/info/") + raw + ".trashinfo").contains("/x%FF.bmp\n"));
    }

    void namesThatAreNotUtf8ReadAsHexAndShow()
    {
        const QByteArray raw("x\xff.bmp");
        placePicture(raw, Qt::red);
        placePicture("x\\xFF.bmp", Qt::blue);   // a name of UTF-8 that reads the same
        const QStringList shown = shownEntries();
        QCOMPARE(QSet<QString>(shown.begin(), shown.end()).size(), shown.size());
        QVERIFY(shown.contains("x\\xFF.bmp"));
        QVERIFY(shown.contains("x\\xFF.bmp (2)"));
        const int rawRow = int(listed().indexOf(fsname::decode(raw)));
        QCOMPARE(f->List1->Shown(rawRow), QStringLiteral("x\\xFF.bmp (2)"));

        // The preview and the viewer show the file picked.
        QVERIFY(fx.pick(fsname::decode(raw)));
        const QImage preview = f->canvas->painted().last().image;
        QCOMPARE(preview.pixelColor(preview.width() - 1, preview.height() - 1), QColor(Qt::red));
        f->Command1->click();
        Form2 &viewer = Forms::form2();
        QCOMPARE(viewer.Caption(), QStringLiteral("x\\xFF.bmp (2)"));
        const QImage shownImage = viewer.Picture1->shownImage();
        QCOMPARE(shownImage.pixelColor(shownImage.width() - 1, shownImage.height() - 1), QColor(Qt::red));
        f->Command3->click();

        // The questions and the rename dialog read as the list; an unchanged name is taken.
        rename(fsname::decode(raw), [&](Form5 &w) {
            QCOMPARE(w.Label1->text(), QStringLiteral("x\\xFF.bmp (2)"));
            QCOMPARE(w.Text1->text(), QStringLiteral("x\\xFF.bmp (2)"));
            w.Command1->click();
            QCOMPARE(fx.shown().last().prompt, QStringLiteral("同一ファイル名が存在します"));
            w.Command2->click();
        });
        QCOMPARE(fx.shown().first().prompt, QStringLiteral("x\\xFF.bmp (2)\r\n\r\nの名前を変更しますか？"));

        // A folder so named opens in the folder list, and its pictures show.
        QCOMPARE(::mkdir(rawAt("d\xff").constData(), 0755), 0);
        makePicture(at("in.bmp"), 8, 6, "BMP", Qt::green);
        QCOMPARE(::rename(QFile::encodeName(at("in.bmp")).constData(), rawAt("d\xff/in.bmp").constData()), 0);
        f->Dir1->setPath(QStringLiteral("/"));
        f->Dir1->setPath(fx.folder());   // read again, with the new folder
        QList<QListWidgetItem *> items = f->Dir1->findItems("d\\xFF", Qt::MatchEndsWith);
        QCOMPARE(items.size(), 1);
        f->Dir1->setCurrentItem(items.first());
        QTest::keyClick(f->Dir1, Qt::Key_Return);
        QCOMPARE(f->File1->Path(), fx.folder() + '/' + fsname::decode("d\xff"));
        QCOMPARE(listed(), QStringList{"in.bmp"});
        QVERIFY(fx.pick("in.bmp"));
        const QImage inside = f->canvas->painted().last().image;
        QCOMPARE(inside.pixelColor(inside.width() - 1, inside.height() - 1), QColor(Qt::green));
    }

    // A folder or another file in place of the one listed: said so, nothing touched.
    void whatIsThereNowIsNotWhatWasListed_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("folder");
        QTest::newRow("delete, a folder") << int(Qt::Key_D) << true;
        QTest::newRow("delete, another file") << int(Qt::Key_D) << false;
        QTest::newRow("rename, a folder") << int(Qt::Key_R) << true;
        QTest::newRow("rename, another file") << int(Qt::Key_R) << false;
    }
    void whatIsThereNowIsNotWhatWasListed()
    {
        QFETCH(int, key);
        QFETCH(bool, folder);
        QVERIFY(fx.pick("a.bmp"));
        writeText(at("other.bmp"), "another");
        QVERIFY(QFile::remove(at("a.bmp")));
        if (folder) {
            QVERIFY(QDir(fx.folder()).mkpath("a.bmp/pictures"));
            writeText(at("a.bmp/pictures/p.bmp"), "inside");
        } else {
            QVERIFY(QFile::rename(at("other.bmp"), at("a.bmp")));
        }
        fx.answer = [](const MsgBoxShown &b) { return (b.buttons & 7) == vbYesNo ? vbYes : vbOK; };
        fx.modal = [&](kit::KitForm *w) {
            auto *dialog = qobject_cast<Form5 *>(w);
            QVERIFY(dialog);
            dialog->Text1->setText("z.bmp");
            dialog->Command1->click();
        };
        press(Qt::Key(key));
        fx.settle();
        QVERIFY(fx.shown().last().prompt.startsWith("a.bmp\r\n\r\n"));
        QVERIFY(fx.shown().last().prompt.contains("変わっています"));
        QVERIFY(!Forms::isLoaded5());
        QCOMPARE(listed().first(), QStringLiteral("a.bmp"));   // the entry stays
        if (folder)
            QCOMPARE(read(at("a.bmp/pictures/p.bmp")), QByteArray("inside"));
        else
            QCOMPARE(read(at("a.bmp")), QByteArray("another"));
        QVERIFY(!QFile::exists(at("z.bmp")));
        QVERIFY(!QFileInfo::exists(m_home.path() + "/share/Trash/files/a.bmp"));
    }

    void namesAreNeverMarkup()
    {
        writeText(at("<i>c.bmp"), "x");
        f->File1->Refresh();
        f->disp_data1();
        rename("<i>c.bmp", [](Form5 &w) {
            QCOMPARE(w.Label1->textFormat(), Qt::PlainText);
            QCOMPARE(w.Label1->text(), QStringLiteral("<i>c.bmp"));
            w.Command2->click();
        });
        for (QLabel *label : {static_cast<QLabel *>(f->Label1), static_cast<QLabel *>(f->Label3)})
            QCOMPARE(label->textFormat(), Qt::PlainText);   // every label of the kit
        // The real message box, as the program shows it.
        Qt::TextFormat format = Qt::AutoText;
        QString text;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            format = box->textFormat();
            text = box->text();
            box->done(QMessageBox::No);
        });
        Os plain;
        plain.messageBox({QStringLiteral("<i>c.bmp\r\n\r\nを削除しますか？"), vbYesNo + vbQuestion, "t"});
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(text, QStringLiteral("<i>c.bmp\n\nを削除しますか？"));
    }

    void aHeldEnterInTheRenameBoxRenamesNothing()
    {
        rename("b.bmp", [&](Form5 &w) {
            QVERIFY(QTest::qWaitForWindowActive(&w));
            w.Text1->setText("held.bmp");
            sendEnter(w.Text1, QEvent::KeyPress, false, 1000);
            QCOMPARE(QApplication::focusWidget(), w.Command1);
            sendEnter(w.Command1, QEvent::KeyPress, false, 1500);   // held: no release since
            sendEnter(w.Command1, QEvent::KeyPress, true, 1530);    // marked by Qt
            sendEnter(w.Command1, QEvent::KeyRelease, false, 1560); // X11's pair, unmarked
            sendEnter(w.Command1, QEvent::KeyPress, false, 1560);
            QVERIFY(Forms::isLoaded5());
            QVERIFY(QFile::exists(at("b.bmp")) && !QFile::exists(at("held.bmp")));
            sendEnter(w.Command1, QEvent::KeyRelease, false, 1600);
            sendEnter(w.Command1, QEvent::KeyPress, false, 2400);   // let go, pressed again
        });
        QVERIFY(QFile::exists(at("held.bmp")) && !QFile::exists(at("b.bmp")));
    }

    void theDialogFindsItsEntryWhereverItMoved()
    {
        rename("r1.bmp", [&](Form5 &w) {
            f->List1->RemoveItem(0);   // the list changed under the dialog
            w.Text1->setText("r2.bmp");
            w.Command1->click();
        });
        QCOMPARE(listed(), (QStringList{"b.bmp", "d1.bmp", "IMG.bmp", "r2.bmp"}));
        // Its entry gone from the list: the folder is read again.
        rename("b.bmp", [&](Form5 &w) {
            f->List1->Clear();
            w.Text1->setText("c.bmp");
            w.Command1->click();
        });
        QCOMPARE(listed(), (QStringList{"a.bmp", "c.bmp", "d1.bmp", "IMG.bmp", "r2.bmp"}));
        QVERIFY(QFile::exists(at("c.bmp")));
    }
};

QTEST_MAIN(TestDeleteRename)
#include "test_delete_rename.moc"
