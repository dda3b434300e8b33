#include "system/file_ops.h"

#include "system/fsname.h"
#include "system/os.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pel::fileops {
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }
private:
    int m_fd;
};

// A folder held open for the operations in it, so that every step acts on the
// same folder whatever happens to its path meanwhile.
Fd openFolder(const QString &path)
{
    return Fd(os().open(fsname::encode(path).constData(), O_PATH | O_DIRECTORY));
}

QString systemReason(int e)
{
    return QString::fromLocal8Bit(std::strerror(e));
}

Result result(Status s, int e = 0, const QString &reason = QString())
{
    Result r;
    r.status = s;
    r.error = e;
    r.reason = reason.isEmpty() && e ? systemReason(e) : reason;
    return r;
}

Result fromErrno(int e)
{
    if (e == ENOENT || e == ENOTDIR)
        return result(Status::Gone, e);
    return result(Status::Failed, e);
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool noReplaceUnsupported(int e)
{
    return e == EINVAL || e == ENOSYS || e == EOPNOTSUPP;
}

// Moves an entry to a name that must be free; 0 or the errno. Where the volume
// refuses RENAME_NOREPLACE, a hard link and the removal of the old name do the
// same without ever replacing; where it has no hard links either, nothing is done
// (a plain rename could replace a file that appeared meanwhile).
int moveNoReplace(int fromDir, const QByteArray &from, int toDir, const QByteArray &to)
{
    Os &sys = os();
    if (sys.renameat2(fromDir, from.constData(), toDir, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int e = errno;
    if (!noReplaceUnsupported(e))
        return e;
    if (sys.linkat(fromDir, from.constData(), toDir, to.constData(), 0) != 0) {
        const int le = errno;
        // No hard links on this volume: the first refusal is the one to report.
        return (le == EPERM || le == EOPNOTSUPP || le == ENOSYS) ? e : le;
    }
    if (sys.unlinkat(fromDir, from.constData(), 0) != 0) {
        const int ue = errno;
        sys.unlinkat(toDir, to.constData(), 0);   // the link we just made
        return ue;
    }
    return 0;
}

int mkdirAll(const QByteArray &path, mode_t mode)
{
    if (::mkdir(path.constData(), mode) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return errno;
    const int slash = path.lastIndexOf('/');
    if (slash <= 0)
        return ENOENT;
    if (const int e = mkdirAll(path.left(slash), mode))
        return e;
    return (::mkdir(path.constData(), mode) == 0 || errno == EEXIST) ? 0 : errno;
}

// The device of a path, or of its nearest existing parent.
bool deviceOf(QByteArray path, dev_t *dev)
{
    struct stat st;
    while (!path.isEmpty()) {
        if (::stat(path.constData(), &st) == 0) {
            *dev = st.st_dev;
            return true;
        }
        const int slash = path.lastIndexOf('/');
        path = slash > 0 ? path.left(slash) : (slash == 0 && path.size() > 1 ? QByteArray("/") : QByteArray());
    }
    return false;
}

// The top folder of the volume holding `folder` (its mount point).
QByteArray topDirOf(const QByteArray &folder, dev_t dev)
{
    QByteArray top = folder;
    while (top.size() > 1) {
        const int slash = top.lastIndexOf('/');
        const QByteArray parent = slash > 0 ? top.left(slash) : QByteArray("/");
        struct stat st;
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != dev)
            break;
        top = parent;
    }
    return top;
}

// A folder of ours: a real folder (not a link), owned by this user.
bool ownFolder(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

struct Trash {
    QByteArray path;      // the trash folder holding files/ and info/
    QByteArray topDir;    // empty for the home trash (its info holds absolute paths)
};

// Where a file of `folder` on device `dev` goes, following the freedesktop.org
// Trash layout (home trash, then the volume's .Trash/$uid or .Trash-$uid).
bool trashFor(const QByteArray &folder, dev_t dev, Trash *trash, QString *reason)
{
    const QByteArray home =
        fsname::encode(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) + "/Trash";
    dev_t homeDev;
    if (deviceOf(home, &homeDev) && homeDev == dev) {
        if (const int e = mkdirAll(home, 0700)) {
            *reason = systemReason(e);
            return false;
        }
        *trash = {home, {}};
        return true;
    }
    const QByteArray top = topDirOf(folder, dev);
    const QByteArray base = top == "/" ? QByteArray() : top;
    const QByteArray uid = QByteArray::number(::getuid());
    // An administrator's shared $topdir/.Trash counts only as a real folder with the sticky bit.
    struct stat st;
    const QByteArray shared = base + "/.Trash";
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const QByteArray mine = shared + '/' + uid;
        if ((::mkdir(mine.constData(), 0700) == 0 || errno == EEXIST) && ownFolder(mine)) {
            *trash = {mine, top};
            return true;
        }
    }
    const QByteArray own = base + "/.Trash-" + uid;
    if (::mkdir(own.constData(), 0700) == 0 || errno == EEXIST) {
        if (ownFolder(own)) {
            *trash = {own, top};
            return true;
        }
        *reason = systemReason(EPERM);
        return false;
    }
    *reason = systemReason(errno);
    return false;
}

// The name in the trash: the file's own, numbered when taken, short enough that
// its ".trashinfo" still fits in a file name.
QByteArray trashName(const QString &name, int n)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    const QString number = n > 1 ? QStringLiteral(".%1").arg(n) : QString();
    QByteArray bytes = fsname::encode(stem + number + ext);
    while (bytes.size() + 10 > 255 && !stem.isEmpty()) {
        stem.chop(stem.size() >= 2 && stem.at(stem.size() - 1).isLowSurrogate() ? 2 : 1);
        bytes = fsname::encode(stem + number + ext);
    }
    if (bytes.size() + 10 > 255)
        bytes = "trashed" + number.toLatin1();
    return bytes;
}

bool writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t w = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += w;
    }
    return true;
}

}  // namespace

Result checkName(const QString &name)
{
    if (name.isEmpty())
        return result(Status::BadName, 0, QStringLiteral("新しい名前が入力されていません。"));
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return result(Status::BadName, 0, QStringLiteral("「.」と「..」はファイル名に使えません。"));
    if (name.contains(QLatin1Char('/')))
        return result(Status::BadName, 0, QStringLiteral("ファイル名に「/」は使えません。"));
    if (name.contains(QChar(0)) || !name.isValidUtf16())
        return result(Status::BadName, 0, QStringLiteral("ファイル名に使えない文字が含まれています。"));
    const qsizetype bytes = fsname::encode(name).size();
    if (bytes > 255)
        return result(Status::BadName, ENAMETOOLONG,
                      QStringLiteral("ファイル名が長すぎます（%1 バイト、255 バイトまで）。").arg(bytes));
    return {};
}

Result remove(const QString &folder, const QString &name)
{
    const Fd dir = openFolder(folder);
    if (!dir.ok())
        return fromErrno(errno);
    if (os().unlinkat(dir.get(), fsname::encode(name).constData(), 0) != 0)
        return fromErrno(errno);
    return {};
}

Result moveToTrash(const QString &folder, const QString &name)
{
    Os &sys = os();
    const Fd dir = openFolder(folder);
    if (!dir.ok())
        return fromErrno(errno);
    const QByteArray file = fsname::encode(name);
    struct stat st;
    if (sys.fstatat(dir.get(), file.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return fromErrno(errno);
    // A folder that allows no removal: neither the trash nor a delete can help.
    if (sys.faccessat(dir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return result(Status::Failed, errno);

    const QByteArray folderBytes = fsname::encode(folder);
    Trash trash;
    QString why;
    if (!trashFor(folderBytes, st.st_dev, &trash, &why))
        return result(Status::NoTrash, 0, why);
    for (const char *sub : {"/files", "/info"}) {
        if (::mkdir((trash.path + sub).constData(), 0700) != 0 && errno != EEXIST)
            return result(Status::NoTrash, errno);
    }
    const Fd files(::open((trash.path + "/files").constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const Fd info(::open((trash.path + "/info").constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!files.ok() || !info.ok())
        return result(Status::NoTrash, errno);

    // The original place, relative to the volume's top for a volume's own trash.
    QByteArray original = folderBytes + '/' + file;
    if (!trash.topDir.isEmpty() && trash.topDir != "/")
        original = original.mid(trash.topDir.size() + 1);
    const QByteArray infoText = "[Trash Info]\nPath=" + original.toPercentEncoding("/") + "\nDeletionDate="
                                + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1()
                                + "\n";

    for (int n = 1; n < 10000; ++n) {
        const QByteArray inTrash = trashName(name, n);
        const QByteArray infoName = inTrash + ".trashinfo";
        // The information file first, made exclusively: it reserves the name.
        const int fd = ::openat(info.get(), infoName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return result(Status::NoTrash, errno);
        }
        const bool written = writeAll(fd, infoText);
        const int writeErr = errno;
        if (::close(fd) != 0 || !written) {
            ::unlinkat(info.get(), infoName.constData(), 0);
            return result(Status::NoTrash, written ? errno : writeErr);
        }
        const int e = moveNoReplace(dir.get(), file, files.get(), inTrash);
        if (e == 0) {
            Result r;
            r.trashedAs = fsname::decode(trash.path + "/files/" + inTrash);
            return r;
        }
        ::unlinkat(info.get(), infoName.constData(), 0);
        if (e == EEXIST)
            continue;   // a stray file in files/ without its information
        if (e == ENOENT)
            return result(Status::Gone, e);
        return result(Status::NoTrash, e);
    }
    return result(Status::NoTrash, EEXIST);
}

Result rename(const QString &folder, const QString &from, const QString &to)
{
    if (Result r = checkName(to); !r.ok())
        return r;
    Os &sys = os();
    const Fd dir = openFolder(folder);
    if (!dir.ok())
        return fromErrno(errno);
    const QByteArray f = fsname::encode(from);
    const QByteArray t = fsname::encode(to);
    struct stat sf, stt;
    if (sys.fstatat(dir.get(), f.constData(), &sf, AT_SYMLINK_NOFOLLOW) != 0)
        return fromErrno(errno);

    bool caseOnly = false;
    if (sys.fstatat(dir.get(), t.constData(), &stt, AT_SYMLINK_NOFOLLOW) == 0) {
        // The same file found under a name that differs only in letter case: the
        // volume ignores case, and the user wants the letters changed.
        caseOnly = from != to && sameFile(sf, stt) && from.compare(to, Qt::CaseInsensitive) == 0;
        if (!caseOnly)
            return result(Status::Taken, EEXIST);
    } else if (errno == ENAMETOOLONG) {
        return result(Status::BadName, errno);
    } else if (errno != ENOENT) {
        return result(Status::Failed, errno);
    }

    if (!caseOnly) {
        const int e = moveNoReplace(dir.get(), f, dir.get(), t);
        if (e == 0)
            return {};
        if (e == EEXIST)
            return result(Status::Taken, e);
        if (e == ENAMETOOLONG)
            return result(Status::BadName, e);
        return fromErrno(e);
    }

    // Such a volume sees the new name as taken by the file itself; go through a
    // free name of our own, so that no step can replace anything.
    QByteArray temp;
    for (int n = 0; n < 1000 && temp.isEmpty(); ++n) {
        const QByteArray candidate = ".pelorinax-rename-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(n);
        struct stat st;
        if (sys.fstatat(dir.get(), candidate.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
            temp = candidate;
    }
    if (temp.isEmpty())
        return result(Status::Failed, EEXIST);
    if (const int e = moveNoReplace(dir.get(), f, dir.get(), temp))
        return fromErrno(e);
    const int e = moveNoReplace(dir.get(), temp, dir.get(), t);
    if (e == 0)
        return {};
    if (const int back = moveNoReplace(dir.get(), temp, dir.get(), f)) {
        return result(Status::Failed, back,
                      QStringLiteral("%1（ファイルは今「%2」という名前です）")
                          .arg(systemReason(back), fsname::decode(temp)));
    }
    return result(e == EEXIST ? Status::Taken : Status::Failed, e);
}

}  // namespace pel::fileops
