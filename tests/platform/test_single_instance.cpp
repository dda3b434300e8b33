#include "platform/single_instance.h"
#include "support/testsupport.h"

#include <QCoreApplication>
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
    void lockFileInTmpWhenNoRuntimeDir();
    void plantedSymlinkIsNotFollowed();
    void killedHolderLeavesNoLock();

private:
    QTemporaryDir m_runtime;
    QByteArray m_savedRuntime;
};

void TestSingleInstance::init()
{
    QVERIFY(m_runtime.isValid());
    QVERIFY(chmod(QFile::encodeName(m_runtime.path()).constData(), 0700) == 0);
    m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void TestSingleInstance::cleanup()
{
    if (m_savedRuntime.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", m_savedRuntime);
}

void TestSingleInstance::secondInstanceIsRefused()
{
    {
        SingleInstance first(programName());
        QVERIFY(first.acquired());
        QCOMPARE(first.lockPath(), m_runtime.path() + u'/' + programName() + ".lock");
        // Another open of the same file is another lock holder, even in this process.
        SingleInstance second(programName());
        QVERIFY(!second.acquired());
        QCOMPARE(second.lockPath(), first.lockPath());
        // Other programs are not concerned.
        SingleInstance other(programName() + "-other");
        QVERIFY(other.acquired());
    }
    SingleInstance again(programName());
    QVERIFY(again.acquired());
    QVERIFY(QFile::exists(again.lockPath()));
}

void TestSingleInstance::lockFileInTmpWhenNoRuntimeDir()
{
    // A runtime folder others can enter is not the user's own: not used either.
    QVERIFY(chmod(QFile::encodeName(m_runtime.path()).constData(), 0755) == 0);
    const QString tmpPath = QStringLiteral("/tmp/%1-%2.lock").arg(programName()).arg(getuid());
    for (bool unset : {false, true}) {
        if (unset)
            qunsetenv("XDG_RUNTIME_DIR");
        QFile::remove(tmpPath);
        SingleInstance lock(programName());
        QVERIFY(lock.acquired());
        QCOMPARE(lock.lockPath(), tmpPath);
        struct stat st;
        QCOMPARE(stat(QFile::encodeName(tmpPath).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        QVERIFY(!SingleInstance(programName()).acquired());
    }
    QFile::remove(tmpPath);
}

void TestSingleInstance::plantedSymlinkIsNotFollowed()
{
    const QString target = m_runtime.path() + "/victim";
    const QString lockPath = m_runtime.path() + u'/' + programName() + ".lock";
    QFile::remove(lockPath);  // left by an earlier test
    QVERIFY(QFile::link(target, lockPath));
    {
        SingleInstance lock(programName());
        QVERIFY(!lock.acquired());
    }
    QVERIFY(!QFile::exists(target));  // not created through the link
    QFile::remove(lockPath);
}

void TestSingleInstance::killedHolderLeavesNoLock()
{
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {"--hold-lock", programName()});
    QVERIFY(holder.waitForStarted());
    holder.setReadChannel(QProcess::StandardOutput);
    QVERIFY(holder.waitForReadyRead(30000));
    QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("held"));

    QVERIFY(!SingleInstance(programName()).acquired());
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
