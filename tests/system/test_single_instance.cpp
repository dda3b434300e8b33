#include "support/testsupport.h"
#include "system/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace pel;

namespace {
// A name no real program uses, so the tests never meet a running viewer.
QString programName()
{
    return QStringLiteral("pel-test-lock-%1").arg(QCoreApplication::applicationPid());
}
}  // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondInstanceIsRefused();
    void ownFolderInTheTemporaryFolderWhenNoRuntimeDir();
    void aLockThatCannotBeTakenIsNotAnotherInstance_data();
    void aLockThatCannotBeTakenIsNotAnotherInstance();
    void liveHolderInAnotherProcessThenKilled();

private:
    QTemporaryDir m_runtime;
    QTemporaryDir m_tmp;
    QByteArray m_savedRuntime;
    QByteArray m_savedTmp;
};

void TestSingleInstance::init()
{
    QVERIFY(m_runtime.isValid() && m_tmp.isValid());
    QVERIFY(chmod(QFile::encodeName(m_runtime.path()).constData(), 0700) == 0);
    m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    m_savedTmp = qgetenv("TMPDIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void TestSingleInstance::cleanup()
{
    for (auto [name, saved] : {std::pair{"XDG_RUNTIME_DIR", m_savedRuntime}, std::pair{"TMPDIR", m_savedTmp}}) {
        if (saved.isNull())
            qunsetenv(name);
        else
            qputenv(name, saved);
    }
    QDir(m_runtime.path()).removeRecursively();
    QDir().mkpath(m_runtime.path());
    QDir(m_tmp.path()).removeRecursively();
    QDir().mkpath(m_tmp.path());
}

void TestSingleInstance::secondInstanceIsRefused()
{
    {
        SingleInstance first(programName());
        QVERIFY(first.acquired());
        QCOMPARE(first.lockPath(), m_runtime.path() + u'/' + programName() + ".lock");
        // Another open of the same file is another lock holder, even in this process.
        SingleInstance second(programName());
        QCOMPARE(second.state(), SingleInstance::State::HeldByAnother);
        QCOMPARE(second.lockPath(), first.lockPath());
        // Other programs are not concerned.
        SingleInstance other(programName() + "-other");
        QVERIFY(other.acquired());
    }
    SingleInstance again(programName());
    QVERIFY(again.acquired());
    QVERIFY(QFile::exists(again.lockPath()));
}

void TestSingleInstance::ownFolderInTheTemporaryFolderWhenNoRuntimeDir()
{
    // A runtime folder others can enter is not the user's own: not used either.
    QVERIFY(chmod(QFile::encodeName(m_runtime.path()).constData(), 0755) == 0);
    const QString folder = QStringLiteral("%1/%2-%3").arg(m_tmp.path(), programName()).arg(getuid());
    for (bool unset : {false, true}) {
        if (unset)
            qunsetenv("XDG_RUNTIME_DIR");
        SingleInstance lock(programName());
        QVERIFY(lock.acquired());
        QCOMPARE(lock.lockPath(), folder + u'/' + programName() + ".lock");
        struct stat st;
        QCOMPARE(stat(QFile::encodeName(folder).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
        QCOMPARE(stat(QFile::encodeName(lock.lockPath()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        QCOMPARE(SingleInstance(programName()).state(), SingleInstance::State::HeldByAnother);
    }
}

// Every way the lock can fail to be taken, other than a live holder: the program
// must start (Unavailable, with a reason naming the place), never hear "already running".
void TestSingleInstance::aLockThatCannotBeTakenIsNotAnotherInstance_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("another user's lock file") << "foreign file";
    QTest::newRow("a folder in place of the lock file") << "folder";
    QTest::newRow("a planted link") << "link";
    QTest::newRow("own folder open to others") << "folder mode";
    QTest::newRow("own folder made by another user") << "folder owner";
    QTest::newRow("own folder planted as a link") << "folder link";
    QTest::newRow("a temporary folder where nothing can be made") << "read-only";
}

void TestSingleInstance::aLockThatCannotBeTakenIsNotAnotherInstance()
{
    QFETCH(QString, setup);
    const QString lockPath = m_runtime.path() + u'/' + programName() + ".lock";
    const QString folder = QStringLiteral("%1/%2-%3").arg(m_tmp.path(), programName()).arg(getuid());
    const QString victim = m_runtime.path() + "/victim";
    QString place = lockPath;
    if (setup == "foreign file") {
        QVERIFY(QFile(lockPath).open(QIODevice::WriteOnly));
        // Root may open anything: give the file away instead of closing it.
        if (geteuid() == 0)
            QCOMPARE(chown(QFile::encodeName(lockPath).constData(), 65534, 65534), 0);
        else
            QCOMPARE(chmod(QFile::encodeName(lockPath).constData(), 0), 0);
    } else if (setup == "folder") {
        QVERIFY(QDir().mkdir(lockPath));
    } else if (setup == "link") {
        QVERIFY(QFile::link(victim, lockPath));
    } else {
        qunsetenv("XDG_RUNTIME_DIR");
        place = folder;
        if (setup == "read-only") {
            // A file where the temporary folder should be: nothing can be made in it,
            // not even by root, whatever the machine mounts (a chroot may lack /sys).
            place = m_tmp.path() + "/not-a-folder";
            QFile file(place);
            QVERIFY(file.open(QIODevice::WriteOnly));
            qputenv("TMPDIR", QFile::encodeName(place));
        } else if (setup == "folder link") {
            const QString elsewhere = m_tmp.path() + "/elsewhere";
            QVERIFY(QDir().mkdir(elsewhere));
            QCOMPARE(chmod(QFile::encodeName(elsewhere).constData(), 0700), 0);
            QVERIFY(QFile::link(elsewhere, folder));
        } else {
            QVERIFY(QDir().mkdir(folder));
            if (setup == "folder mode") {
                QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0777), 0);
            } else {
                if (geteuid() != 0)
                    QSKIP("giving a folder away needs root");
                QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0700), 0);
                QCOMPARE(chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
            }
        }
    }
    SingleInstance lock(programName());
    QCOMPARE(lock.state(), SingleInstance::State::Unavailable);
    QVERIFY2(lock.problem().contains(place), qPrintable(lock.problem()));
    QVERIFY(!QFile::exists(victim));   // nothing created through a link
}

void TestSingleInstance::liveHolderInAnotherProcessThenKilled()
{
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {"--hold-lock", programName()});
    QVERIFY(holder.waitForStarted());
    holder.setReadChannel(QProcess::StandardOutput);
    QVERIFY(holder.waitForReadyRead(30000));
    QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("held"));

    QCOMPARE(SingleInstance(programName()).state(), SingleInstance::State::HeldByAnother);
    holder.kill();  // SIGKILL: no destructor, no clean-up in the holder
    QVERIFY(holder.waitForFinished(30000));
    QCOMPARE(holder.exitStatus(), QProcess::CrashExit);
    SingleInstance after(programName());
    QVERIFY(after.acquired());
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "--hold-lock") == 0) {
        // The other instance: takes the lock, says so, and waits to be killed.
        SingleInstance lock(QString::fromLocal8Bit(argv[2]));
        std::puts(lock.acquired() ? "held" : "refused");
        std::fflush(stdout);
        for (;;)
            pause();
    }
    TestSingleInstance t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_single_instance.moc"
