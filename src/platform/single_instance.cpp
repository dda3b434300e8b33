#include "platform/single_instance.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pel {

namespace {

// $XDG_RUNTIME_DIR is private to the user; it only counts when it really is
// our own directory, closed to others.
QString runtimeDir()
{
    const QByteArray dir = qgetenv("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || dir[0] != '/')
        return QString();
    struct stat st;
    if (stat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()
        || (st.st_mode & 077) != 0)
        return QString();
    return QFile::decodeName(dir);
}

}  // namespace

SingleInstance::SingleInstance(const QString &programName)
{
    QString name = programName;
    name.replace(u'/', u'_');
    const QString dir = runtimeDir();
    m_path = dir.isEmpty() ? QStringLiteral("/tmp/%1-%2.lock").arg(name).arg(getuid())
                           : dir + u'/' + name + QStringLiteral(".lock");

    // O_NOFOLLOW: in a shared /tmp another user could plant a link to a file of ours.
    const int fd = open(QFile::encodeName(m_path).constData(),
                        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
        close(fd);
        return;
    }
    // The lock belongs to this open file description and dies with it, so a
    // killed instance leaves nothing that blocks the next start. The file itself
    // is never removed: unlinking would let two starts lock different files.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return;
    }
    m_fd = fd;
}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        close(m_fd);
}

}  // namespace pel
