// The modal windows (quick manual, version window, rename dialog, message boxes) as a window
// manager may treat them: one that minimises a modal window anyway must not leave
// the program blocked behind a window nobody can see.
#include "support/windows.h"

#include <QMessageBox>
#include <QWindow>

using namespace pel;
using namespace pel::test;

class TestModalWindows : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    Form1 *f = nullptr;

    // Opens the window the row names, the way a user does, and runs `body` while it shows.
    void open(const QString &which, const std::function<void(QWidget *)> &body)
    {
        bool ran = false;
        fx.modal = [&](kit::KitForm *w) {
            ran = true;
            body(w);
        };
        if (which == QLatin1String("message box")) {
            // As the program shows one: modal over the main window.
            QMessageBox box(QMessageBox::Question, QStringLiteral("pelorinax"), QStringLiteral("?"),
                            QMessageBox::Yes | QMessageBox::No, f);
            box.setWindowModality(Qt::ApplicationModal);
            box.show();
            ran = true;
            body(&box);
        } else if (which == QLatin1String("quick manual")) {
            f->how_to->trigger();
        } else if (which == QLatin1String("version")) {
            f->ver->trigger();
        } else {
            QVERIFY(fx.pick(QStringLiteral("a.bmp")));
            fx.answer = [](const MsgBoxShown &b) { return (b.buttons & 7) == vbYesNo ? vbYes : vbOK; };
            QTest::keyClick(f->List1, Qt::Key_R);
        }
        QVERIFY2(ran, qPrintable(which));
    }

private slots:
    void init()
    {
        makePicture(QDir(fx.folder()).filePath("a.bmp"), 20, 10, "BMP");
        f = &fx.start();
    }
    void cleanup() { fx.stop(); }

    void aMinimisedModalWindowComesBackAtOnce_data()
    {
        QTest::addColumn<QString>("which");
        for (const char *w : {"quick manual", "version", "rename", "message box"})
            QTest::newRow(w) << QString::fromLatin1(w);
    }
    void aMinimisedModalWindowComesBackAtOnce()
    {
        QFETCH(QString, which);
        open(which, [&](QWidget *w) {
            QVERIFY(w->isModal() && w->isVisible());
            QCOMPARE(QGuiApplication::modalWindow(), w->windowHandle());
            // Minimised as the window manager's own box does it (the program never asks).
            w->setWindowState(Qt::WindowMinimized);
            QVERIFY(w->isMinimized());
            QTRY_VERIFY(!w->isMinimized());
            QVERIFY(w->isVisible());
            QTRY_COMPARE(QApplication::activeWindow(), w);
            // Still the modal window in front of a blocked main window, and it still works.
            QCOMPARE(QGuiApplication::modalWindow(), w->windowHandle());
            QVERIFY(!Forms::form1().isActiveWindow());
            w->close();
        });
        QVERIFY(!Forms::isLoaded3() && !Forms::isLoaded4() && !Forms::isLoaded5());
        // Modeless windows keep their minimise: the main window goes down and stays down.
        f->setWindowState(Qt::WindowMinimized);
        QTest::qWait(20);
        QVERIFY(f->isMinimized());
    }
};

QTEST_MAIN(TestModalWindows)
#include "test_modal_windows.moc"
