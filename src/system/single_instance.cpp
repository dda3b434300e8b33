#include "system/single_instance.h"

#include "system/fsname.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pel {

namespace {

// A folder nobody else can write into: a directory, ours, and closed to group and
// others. Otherwise *why says what is wrong with it. A folder we make in a shared
// place must not be a link (`followLink` false): another user could have planted it.
bool isPrivateFolder(const QByteArray &path, QString *why, bool followLink)
{
    struct stat st;
    if ((followLink ? stat(path.constData(), &st) : lstat(path.constData(), &st)) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = QStringLiteral("not a folder");
        return false;
    }
    if (st.st_uid != getuid()) {
        *why = QStringLiteral("belongs to another user (uid %1)").arg(st.st_uid);
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        *why = QStringLiteral("open to other users (mode %1)").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
        return false;
    }
    return true;
}

// $XDG_RUNTIME_DIR counts only when it really is our own directory, closed to others.
QString runtimeDir()
{
    const QByteArray dir = qgetenv("XDG_RUNTIME_DIR");
    QString why;
    if (dir.isEmpty() || dir[0] != '/' || !isPrivateFolder(dir, &why, true))
        return QString();
    return fsname::decode(dir);
}

}  // namespace

void SingleInstance::unavailable(const QString &what, int err)
{
    m_state = State::Unavailable;
    m_problem = what;
    if (err != 0)
        m_problem += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
}

SingleInstance::SingleInstance(const QString &programName) { take(programName); }

void SingleInstance::take(const QString &programName)
{
    QString name = programName;
    name.replace(u'/', u'_');
    QString dir = runtimeDir();
    if (dir.isEmpty()) {
        // Without a runtime folder: a folder of our own in the temporary folder. A
        // fixed file name there could be created first by any local user.
        dir = QDir::tempPath() + u'/' + name + u'-' + QString::number(getuid());
        const QByteArray d = fsname::encode(dir);
        if (mkdir(d.constData(), 0700) != 0 && errno != EEXIST)
            return unavailable(QStringLiteral("cannot create the folder %1").arg(dir), errno);
        QString why;
        if (!isPrivateFolder(d, &why, false))
            return unavailable(QStringLiteral("the folder %1 is not private: %2").arg(dir, why), 0);
    }
    m_path = dir + u'/' + name + QStringLiteral(".lock");

    // O_NOFOLLOW: never through a link planted in place of the file.
    const int fd = open(fsname::encode(m_path).constData(),
                        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0)
        return unavailable(QStringLiteral("cannot open %1").arg(m_path), errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
        close(fd);
        return unavailable(QStringLiteral("%1 is not a file of this user").arg(m_path), 0);
    }
    // The lock belongs to this open file description and dies with it. The file
    // itself is never removed: unlinking would let two starts lock different files.
    int r;
    do {
        r = flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        const int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) {
            m_state = State::HeldByAnother;
            return;
        }
        return unavailable(QStringLiteral("cannot lock %1").arg(m_path), err);
    }
    m_fd = fd;
    m_state = State::Acquired;
}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        close(m_fd);
}

}  // namespace pel
