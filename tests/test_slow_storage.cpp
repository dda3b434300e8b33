// The windows on storage that misbehaves (a test file system under FUSE): a share
// that stops answering costs the bad-file message or the unready drive's in bounded
// time while the window repaints; reads that fail or files that shrink while they
// are decoded are bad files, never a crash; nothing of ours is left waiting.
#include "picture/test_wmf_builder.h"
#include "support/slowfs.h"
#include "support/windows.h"
#include "system/workers.h"

#include <QElapsedTimer>
#include <QTimer>

using namespace pel;
using namespace pel::test;

namespace {
// Counts the paints a widget gets.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
}  // namespace

class TestSlowStorage : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    std::unique_ptr<SlowFs> fs;
    Form1 *f = nullptr;
    QString pics;

    QString badFile(const QString &name) const { return QStringLiteral("画像ファイルが異常です\r\n") + name; }

    // Runs `step` with the window asked to repaint while it waits; the bounded time
    // and the repaint are checked.
    void whileStalled(const std::function<void()> &step)
    {
        PaintCounter counter;
        f->canvas->installEventFilter(&counter);
        QTimer::singleShot(100, f->canvas, [this] { f->canvas->update(); });
        QElapsedTimer t;
        t.start();
        step();
        f->canvas->removeEventFilter(&counter);
        QVERIFY2(t.elapsed() < fx.os().answerMs + 1500, qPrintable(QString::number(t.elapsed())));
        QVERIFY(counter.paints > 0);   // repainted while it waited
    }

private slots:
    void init()
    {
        fs = std::make_unique<SlowFs>();
        if (!fs->mount())
            QSKIP(qPrintable(fs->why()));
        const QString src = fs->source() + "/pics";
        QDir().mkpath(src);
        makePicture(src + "/a.bmp", 64, 48, "BMP");
        makePicture(src + "/b.jpg", 640, 480, "JPG", Qt::red);
        makePicture(src + "/c.bmp", 600, 500, "BMP", Qt::green);
        writeText(src + "/d.wmf", WmfBuilder().placeable(QRect(0, 0, 1000, 800), 1440).brush(Qt::blue).rect(0, 0, 1000, 800).bytes());
        pics = fs->path() + "/pics";
        fx.os().setVolumes({"/", fs->path()});
        f = &fx.start(pics);
        QCOMPARE(f->List1->ListCount(), 4);
    }
    void cleanup()
    {
        if (fs)
            fs->release();
        // Once the file system lets go, nothing of ours is left waiting.
        QTRY_COMPARE(workers::pool().activeThreadCount(), 0);
        fx.stop();
        fs.reset();
    }

    void aStalledPictureIsABadFileInBoundedTime_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("preview") << "preview";
        QTest::newRow("actual size") << "viewer";
        QTest::newRow("slideshow step") << "slide";
    }
    void aStalledPictureIsABadFileInBoundedTime()
    {
        QFETCH(QString, what);
        if (what == "viewer")
            QVERIFY(fx.pick("b.jpg"));   // picked while the share still answers
        if (what == "slide")
            f->Command4_Click();
        fs->stall({"pics"});
        fx.shown().clear();
        whileStalled([&] {
            if (what == "preview")
                QVERIFY(fx.pick("b.jpg"));
            else if (what == "viewer")
                f->Command1_Click();
            else
                f->Timer1_Timer();
        });
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, badFile(what == "slide" ? "a.bmp" : "b.jpg"));
        QVERIFY(!Forms::isLoaded2() || !Forms::form2().isVisible() || what == "slide");
        QCOMPARE(Module1::actual_flag, 0);
    }

    // The same place again is refused at once while the first read is stuck.
    void aStuckShareIsNotReadAgain()
    {
        fs->stall({"pics"});
        QVERIFY(fx.pick("a.bmp"));
        QElapsedTimer t;
        t.start();
        QVERIFY(fx.pick("c.bmp"));
        QVERIFY(t.elapsed() < 300);
        QCOMPARE(fx.shown().size(), 2);
        QCOMPARE(fx.shown().at(1).prompt, badFile("c.bmp"));
    }

    // Started in a folder that does not answer: the window shows at once with empty
    // lists, then the unready drive's message once.
    void theStartInAStalledFolderShowsTheWindowAtOnce()
    {
        fx.stop();
        QDir::setCurrent(pics);   // started there, as from a terminal in that folder
        fs->stall({"pics"});
        fx.os().setVolumes({"/", fs->path()});
        QElapsedTimer t;
        t.start();
        f = &fx.start(pics);
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
        QVERIFY(f->isVisible());
        QCOMPARE(f->List1->ListCount(), 0);
        QTRY_COMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("ディバイスが準備されていません"));
        QCOMPARE(f->List1->ListCount(), 0);
        QCOMPARE(f->Dir1->Path(), pics);
    }

    // A drive that does not answer is a drive that is not ready; a folder that does
    // not answer is one that cannot be read: the lists as for those.
    void aStalledDriveOrFolderIsOneThatCannotBeRead()
    {
        QDir().mkpath(fs->source() + "/pics/sub");
        f->Dir1->setPath(fs->path() + "/pics/sub");
        f->Dir1->setPath(pics);
        fs->stall({"pics/sub"});
        whileStalled([&] { f->Dir1->setPath(pics + "/sub"); });
        QCOMPARE(f->Dir1->Path(), pics + "/sub");
        QCOMPARE(f->List1->ListCount(), 0);
        QVERIFY(fx.shown().isEmpty());

        f->Dir1->setPath(pics);   // another place of the same volume: refused at once while stuck
        QCOMPARE(f->List1->ListCount(), 0);
        fs->release();
        QTRY_COMPARE(workers::pool().activeThreadCount(), 0);
        QCoreApplication::processEvents();
        f->Drive1->setDrive("/");
        f->Drive1->setDrive(fs->path());
        QCOMPARE(f->Dir1->Path(), pics);   // the drive kept its folder
        QCOMPARE(f->List1->ListCount(), 4);
        fs->stall({""});
        f->Drive1->setDrive("/");
        f->Drive1->setDrive(fs->path());
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("ディバイスが準備されていません"));
        QCOMPARE(f->Drive1->Drive(), QStringLiteral("/"));
    }

    // Copy, delete and rename on a share that stopped answering: the copy is not
    // reported, and neither the delete nor the rename is said to have failed.
    void copyDeleteAndRenameOnAStalledShare()
    {
        QVERIFY(fx.pick("a.bmp"));
        f->Command1_Click();
        fs->stall({"pics"});
        fx.shown().clear();
        whileStalled([&] { f->Command2_Click(); });
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, badFile("a.bmp"));
        fs->release();
        f->Command3_Click();
        QTRY_COMPARE(workers::pool().activeThreadCount(), 0);
        QCoreApplication::processEvents();

        fx.answer = [](const MsgBoxShown &b) { return (b.buttons & 7) == vbYesNo ? vbYes : vbOK; };
        QVERIFY(fx.pick("c.bmp"));
        fs->stall({"pics"});
        fx.shown().clear();
        whileStalled([&] { QTest::keyClick(f->List1, Qt::Key_D); });
        QCOMPARE(fx.shown().size(), 2);
        QVERIFY(fx.shown().at(1).prompt.contains(QStringLiteral("まだわかりません")));
        QVERIFY(!fx.shown().at(1).prompt.contains(QStringLiteral("できませんでした")));
        QCOMPARE(f->List1->List(2), QStringLiteral("c.bmp"));   // back in the list: it may well be there
    }

    void readsThatFailOrFilesThatShrinkAreBadFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("shrink");
        QTest::addColumn<qint64>("at");
        QTest::newRow("EIO in a JPEG") << "b.jpg" << false << qint64(3000);
        QTest::newRow("EIO in a BMP") << "c.bmp" << false << qint64(200000);
        QTest::newRow("EIO in a WMF") << "d.wmf" << false << qint64(40);
        QTest::newRow("BMP shrinks while decoded") << "c.bmp" << true << qint64(100000);
        QTest::newRow("JPEG shrinks while decoded") << "b.jpg" << true << qint64(3000);
    }
    void readsThatFailOrFilesThatShrinkAreBadFiles()
    {
        QFETCH(QString, name);
        QFETCH(bool, shrink);
        QFETCH(qint64, at);
        if (shrink)
            fs->shrinkAfterRead("pics/" + name, at);
        else
            fs->failReadsAfter("pics/" + name, at);
        QVERIFY(fx.pick(name));
        // A read that fails is a bad file; a file that shrank meanwhile is a bad file
        // or the picture as it was when opened, whole.
        if (!shrink || !fx.shown().isEmpty()) {
            QCOMPARE(fx.shown().size(), 1);
            QCOMPARE(fx.shown().at(0).prompt, badFile(name));
            QVERIFY(f->canvas->painted().isEmpty());
        } else {
            QCOMPARE(f->canvas->painted().size(), 1);
            const QImage shown = f->canvas->painted().at(0).image;
            QCOMPARE(shown.pixelColor(shown.width() - 1, shown.height() - 1), name == "b.jpg" ? QColor(Qt::red) : QColor(Qt::green));
        }
    }
};

QTEST_MAIN(TestSlowStorage)
#include "test_slow_storage.moc"
