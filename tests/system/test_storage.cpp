// Storage work off the user-interface thread: a place that stops answering costs
// one bounded wait, during which the windows live and input waits its turn.
#include "support/scripted_os.h"
#include "support/slowfs.h"
#include "support/testsupport.h"
#include "system/storage.h"
#include "system/workers.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <dirent.h>

using namespace pel;

namespace {
// The names in a folder, read as the program reads one.
QStringList readFolder(const QString &folder)
{
    QStringList names;
    if (DIR *d = opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *e = readdir(d))
            names << QString::fromUtf8(e->d_name);
        closedir(d);
    }
    names.sort();
    return names;
}

class Recorder : public QWidget {
public:
    QList<QEvent::Type> seen;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::Close)
            seen << e->type();
        return QWidget::event(e);
    }
};

// Runs `during` from the event loop `afterMs` into the next wait.
void soon(int afterMs, std::function<void()> during) { QTimer::singleShot(afterMs, qApp, std::move(during)); }
}  // namespace

class TestStorage : public QObject {
    Q_OBJECT
    std::unique_ptr<test::ScriptedOs> m_os;

private slots:
    void init()
    {
        m_os = std::make_unique<test::ScriptedOs>();
        storage::reset();
    }
    void cleanup()
    {
        // Nothing of ours may be left waiting once the file system let its calls go.
        QTRY_COMPARE(workers::pool().activeThreadCount(), 0);
        QCoreApplication::processEvents();
        m_os.reset();
    }

    void aStalledPlaceCostsOneBoundedWaitDuringWhichTheLoopRuns()
    {
        test::SlowFs fs;
        if (!fs.mount())
            QSKIP(qPrintable(fs.why()));
        QVERIFY(QDir().mkpath(fs.source() + "/pics"));
        m_os->setVolumes({"/", fs.path()});
        fs.stall({"pics"});

        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(20);
        QElapsedTimer t;
        t.start();
        auto r = storage::run(fs.path() + "/pics", storage::Limit::Answer, [&] { return readFolder(fs.path() + "/pics"); });
        QCOMPARE(r.outcome.fault, Fault::TimedOut);
        QVERIFY2(t.elapsed() >= m_os->answerMs && t.elapsed() < m_os->answerMs + 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY2(ticks >= m_os->answerMs / 40, qPrintable(QString::number(ticks)));   // the loop ran all along

        // The same volume again: refused at once, nothing started.
        std::atomic<bool> started{false};
        t.restart();
        auto again = storage::run(fs.path() + "/other", storage::Limit::Answer, [&] {
            started = true;
            return 0;
        });
        QCOMPARE(again.outcome.fault, Fault::TimedOut);
        QVERIFY(t.elapsed() < 100);
        QVERIFY(!started);

        // Once the stuck read is let go, the volume answers again.
        fs.release();
        QTRY_COMPARE(workers::pool().activeThreadCount(), 0);
        QCoreApplication::processEvents();
        auto later = storage::run(fs.path() + "/pics", storage::Limit::Answer, [&] { return readFolder(fs.path() + "/pics"); });
        QVERIFY(later.ok());
        QCOMPARE(later.value, (QStringList{".", ".."}));
    }

    // A long decode that keeps working is not a stall; a job that only waits is.
    void progressCountsWorkNotTime()
    {
        auto spin = [] {
            QElapsedTimer t;
            t.start();
            volatile quint64 x = 0;
            while (!t.hasExpired(1500))
                x = x + 1;
            return int(x > 0);
        };
        QVERIFY(storage::run("/tmp", storage::Limit::Progress, spin).ok());
        QCOMPARE(storage::run("/tmp", storage::Limit::Answer, spin).outcome.fault, Fault::TimedOut);
        QTRY_COMPARE(workers::pool().activeThreadCount(), 0);
        QCoreApplication::processEvents();   // the volume is free again
        auto sleeper = [] {
            QThread::msleep(1500);
            return 1;
        };
        QCOMPARE(storage::run("/tmp", storage::Limit::Progress, sleeper).outcome.fault, Fault::TimedOut);
    }

    // Keys and clicks wait for the job; the close box of an ordinary window too,
    // while the main window's closes at once.
    void inputWaitsItsTurnButTheMainWindowCloses()
    {
        Recorder main, other;
        storage::allowWhileWaiting(&main);
        main.show();
        other.show();
        QList<QEvent::Type> duringMain, duringOther;
        soon(50, [&] {
            QCoreApplication::postEvent(&other, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
            QCloseEvent closeOther, closeMain;
            QCoreApplication::sendEvent(&other, &closeOther);
            QCoreApplication::sendEvent(&main, &closeMain);
        });
        soon(150, [&] {
            duringMain = main.seen;
            duringOther = other.seen;
        });
        QVERIFY(storage::run("/tmp", storage::Limit::Answer, [] {
                    QThread::msleep(300);
                    return 0;
                }).ok());
        QCOMPARE(duringOther, QList<QEvent::Type>{});
        QCOMPARE(duringMain, QList<QEvent::Type>{QEvent::Close});
        QCoreApplication::processEvents();
        QCOMPARE(other.seen, (QList<QEvent::Type>{QEvent::KeyPress, QEvent::Close}));
    }

    void theBusyCursorComesAfterAMomentAndGoes()
    {
        bool early = true, late = false;
        soon(50, [&] { early = QGuiApplication::overrideCursor() != nullptr; });
        soon(400, [&] { late = QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::BusyCursor; });
        QVERIFY(storage::run("/tmp", storage::Limit::Answer, [] {
                    QThread::msleep(500);
                    return 0;
                }).ok());
        QVERIFY(!early);
        QVERIFY(late);
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void closingEndsEveryWaitAtOnce()
    {
        soon(50, [] { storage::close(); });
        QElapsedTimer t;
        t.start();
        auto r = storage::run("/tmp", storage::Limit::Answer, [] {
            QThread::msleep(400);
            return 0;
        });
        QCOMPARE(r.outcome.fault, Fault::Closing);
        QVERIFY(t.elapsed() < 300);
        QCOMPARE(storage::run("/tmp", storage::Limit::Answer, [] { return 0; }).outcome.fault, Fault::Closing);
    }
};

QTEST_MAIN(TestStorage)
#include "test_storage.moc"
