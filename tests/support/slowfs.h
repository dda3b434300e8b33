#pragma once
// A misbehaving file system for a test (tests/support/slowfs.py under FUSE): a
// folder of its own, mounted in a temporary folder, whose calls can be held (a
// share that stopped answering), fail with EIO after some bytes, or see a file
// shrink once read. Always unmounted when the object goes, also when a test fails.
//
//     SlowFs fs;
//     if (!fs.mount()) QSKIP(qPrintable(fs.why()));
//     fs.stall({"pics"});   // every call under pics/ waits from now on
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#ifndef PEL_SOURCE_DIR
#error "PEL_SOURCE_DIR must name the project's folder"
#endif

namespace pel::test {

class SlowFs {
public:
    SlowFs() = default;
    SlowFs(const SlowFs &) = delete;
    SlowFs &operator=(const SlowFs &) = delete;
    ~SlowFs() { unmount(); }

    // Mounts it; false (see why()) where FUSE cannot be had here.
    bool mount()
    {
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            return fail(QStringLiteral("FUSE is not available here (/dev/fuse cannot be opened)"));
        if (!QFile::exists(QStringLiteral("/usr/bin/python3")))
            return fail(QStringLiteral("python3 is not installed (scripts/setup.sh installs it)"));
        if (!m_tmp.isValid() || !QDir().mkpath(source()) || !QDir().mkpath(path()))
            return fail(QStringLiteral("no temporary folder"));
        write();
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral(PEL_SOURCE_DIR "/tests/support/slowfs.py"), source(), path(), control()});
        QElapsedTimer t;
        t.start();
        while (!mounted()) {
            if (m_process.state() == QProcess::NotRunning || t.hasExpired(10000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
                return fail(QStringLiteral("the test file system did not mount (python3-fusepy and fuse3, as root)"));
            }
            QThread::msleep(20);
        }
        return true;
    }
    QString why() const { return m_why; }

    // Where the pictures go: write them in source(), reach them through path().
    QString source() const { return m_tmp.path() + QStringLiteral("/source"); }
    QString path() const { return m_tmp.path() + QStringLiteral("/mount"); }

    // Every call on these paths (relative; "" for all) waits from now until they
    // are no longer listed.
    void stall(const QStringList &relative)
    {
        m_stall = relative;
        write();
    }
    void release() { stall({}); }
    void failReadsAfter(const QString &relative, qint64 bytes)
    {
        m_eio[relative] = bytes;
        write();
    }
    void shrinkAfterRead(const QString &relative, qint64 bytes)
    {
        m_shrink[relative] = bytes;
        write();
    }

    // Lets every held call go (they fail once the file system is gone) and unmounts.
    void unmount()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        release();
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
        if (mounted())   // the file system unmounts itself when it ends normally
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), path()});
    }

private:
    bool fail(const QString &why)
    {
        m_why = why;
        return false;
    }
    QString control() const { return m_tmp.path() + QStringLiteral("/control.json"); }
    bool mounted() const
    {
        QFile f(QStringLiteral("/proc/self/mountinfo"));
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(' ' + QFile::encodeName(path()) + ' ');
    }
    void write()
    {
        QJsonObject o;
        o.insert(QStringLiteral("stall"), QJsonArray::fromStringList(m_stall));
        QJsonObject eio, shrink;
        for (auto it = m_eio.cbegin(); it != m_eio.cend(); ++it)
            eio.insert(it.key(), double(it.value()));
        for (auto it = m_shrink.cbegin(); it != m_shrink.cend(); ++it)
            shrink.insert(it.key(), double(it.value()));
        o.insert(QStringLiteral("eio_after"), eio);
        o.insert(QStringLiteral("shrink"), shrink);
        // Written whole under another name and renamed, so the file system never
        // reads half of it.
        QFile f(control() + QStringLiteral(".new"));
        if (f.open(QIODevice::WriteOnly)) {
            f.write(QJsonDocument(o).toJson());
            f.close();
            ::rename(QFile::encodeName(f.fileName()).constData(), QFile::encodeName(control()).constData());
        }
    }

    QTemporaryDir m_tmp;
    QProcess m_process;
    QString m_why;
    QStringList m_stall;
    QMap<QString, qint64> m_eio, m_shrink;
};

}  // namespace pel::test
