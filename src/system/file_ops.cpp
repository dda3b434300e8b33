#include "system/file_ops.h"

#include "picture/file.h"
#include "system/drives.h"
#include "system/fsname.h"
#include "system/messages.h"
#include "system/os.h"

#include <QByteArray>
#include <QDateTime>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace pel::fileops {
namespace {

// moveNoReplace: the volume can neither refuse to replace nor make links.
constexpr int kNoSafeMove = -1;

// A folder held open for the operations in it, so that every step acts on the
// same folder whatever happens to its path meanwhile.
UniqueFd openFolder(const QString &path)
{
    return UniqueFd(os().open(fsname::encode(path).constData(), O_PATH | O_DIRECTORY));
}

Outcome fail(Fault fault, int e = 0, QString detail = {}) { return Outcome::failure(fault, e, std::move(detail)); }

Outcome fromErrno(int e)
{
    if (e == ENOENT || e == ENOTDIR)
        return fail(Fault::Gone, e);
    return fail(Fault::Failed, e);
}

// The inode number of the entry named exactly `name` in `dir` (not one the volume
// takes for it, as a volume that ignores case does), as a listing of the folder
// gives it: 0 when there is no such entry, nullopt when the folder cannot be read.
std::optional<ino_t> listedInode(int dir, const QByteArray &name)
{
    const int fd = os().openat(dir, ".", O_RDONLY | O_DIRECTORY);
    DIR *d = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    ino_t found = 0;
    while (const dirent *e = ::readdir(d)) {
        if (name == e->d_name) {
            found = e->d_ino;
            break;
        }
    }
    ::closedir(d);
    return found;
}

bool hasExactEntry(int dir, const QByteArray &name)
{
    return listedInode(dir, name).value_or(1) != 0;   // cannot tell: take the name as taken
}

// The entry `name` of `dir` as the list had it: a regular file or a link, the
// one listed when that is known. The list took its identity from the folder's
// entries (the folder's device, the entry's inode number), so it is compared with
// the same again: some file systems number inodes for stat otherwise. Its status
// goes to `st`.
Outcome checkEntry(int dir, const QByteArray &name, FileId expected, struct stat *st)
{
    if (os().fstatat(dir, name.constData(), st, AT_SYMLINK_NOFOLLOW) != 0)
        return fromErrno(errno);
    if (!S_ISREG(st->st_mode) && !S_ISLNK(st->st_mode))
        return fail(Fault::Changed);
    if (!expected.known())
        return {};
    struct stat folder;
    if (os().fstatat(dir, "", &folder, AT_EMPTY_PATH) != 0)
        return fromErrno(errno);
    const std::optional<ino_t> listed = listedInode(dir, name);
    if (!listed)
        return fail(Fault::Failed, errno);
    if (folder.st_dev != expected.dev || *listed != expected.ino)
        return fail(Fault::Changed);
    return {};
}

// In a folder with the sticky bit (/tmp, shared folders) only the owner of a file
// or of the folder may remove or rename it; root may always.
Outcome checkMayRemove(int dir, const struct stat &file)
{
    struct stat folder;
    if (os().fstatat(dir, ".", &folder, 0) != 0)
        return fromErrno(errno);
    const uid_t me = ::geteuid();
    if ((folder.st_mode & S_ISVTX) && me != 0 && file.st_uid != me && folder.st_uid != me)
        return fail(Fault::Failed, EPERM, messages::othersFileInSharedFolder());
    return {};
}

bool noReplaceUnsupported(int e) { return e == EINVAL || e == ENOSYS || e == EOPNOTSUPP; }

// Moves an entry to a name that must be free; 0, the errno, or kNoSafeMove. Where
// the volume refuses RENAME_NOREPLACE, a hard link and the removal of the old
// name do the same without ever replacing; where it has no hard links either,
// nothing is done (a plain rename could replace a file that appeared meanwhile).
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
        return (le == EPERM || le == EOPNOTSUPP || le == ENOSYS) ? kNoSafeMove : le;
    }
    if (sys.unlinkat(fromDir, from.constData(), 0) != 0) {
        const int ue = errno;
        sys.unlinkat(toDir, to.constData(), 0);   // the link we just made
        return ue;
    }
    return 0;
}

// ---- the trash --------------------------------------------------------------

bool lstatOf(const QByteArray &path, struct stat *st)
{
    return os().fstatat(AT_FDCWD, path.constData(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool statOf(const QByteArray &path, struct stat *st) { return os().fstatat(AT_FDCWD, path.constData(), st, 0) == 0; }

int makeFolder(const QByteArray &path, mode_t mode)
{
    return (os().mkdirat(AT_FDCWD, path.constData(), mode) == 0 || errno == EEXIST) ? 0 : errno;
}

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(slash) : QByteArray("/");
}

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

int makeFolders(const QByteArray &path, mode_t mode)
{
    const int e = makeFolder(path, mode);
    if (e != ENOENT || path.size() <= 1)
        return e;
    if (const int pe = makeFolders(parentOf(path), mode))
        return pe;
    return makeFolder(path, mode);
}

// The device of a path, or of its nearest existing parent.
bool deviceOf(QByteArray path, dev_t *dev)
{
    struct stat st;
    while (!path.isEmpty()) {
        if (statOf(path, &st)) {
            *dev = st.st_dev;
            return true;
        }
        path = path.size() > 1 ? parentOf(path) : QByteArray();
    }
    return false;
}

bool isUnder(const QByteArray &path, const QByteArray &top)
{
    return top == "/" || path == top || path.startsWith(top + '/');
}

// The top folder of the volume holding `folder` (a path without links) on device
// `dev`: the deepest mount point above it on that device, or else the last
// parent still on that device.
QByteArray topDirOf(const QByteArray &folder, dev_t dev)
{
    QByteArray best;
    struct stat st;
    for (const QByteArray &point : Drives::mountPoints(os().mountTable())) {
        if (point.size() > best.size() && isUnder(folder, point) && statOf(point, &st) && st.st_dev == dev)
            best = point;
    }
    if (!best.isEmpty())
        return best;
    QByteArray top = folder;
    while (top.size() > 1 && statOf(parentOf(top), &st) && st.st_dev == dev)
        top = parentOf(top);
    return top;
}

// Where the folder held open as `dir` really is: links resolved.
QByteArray realPathOf(int dir, const QString &folder)
{
    char buffer[4096];
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(dir);
    const ssize_t n = os().readlink(self.constData(), buffer, sizeof buffer);
    if (n > 0 && size_t(n) < sizeof buffer && buffer[0] == '/')
        return QByteArray(buffer, n);
    return fsname::encode(fsname::canonical(folder));
}

QByteArray homeTrash()
{
    QByteArray data = qgetenv("XDG_DATA_HOME");
    if (!data.startsWith('/'))
        data = qgetenv("HOME") + "/.local/share";
    return data + "/Trash";
}

struct Trash {
    QByteArray path;     // the trash folder holding files/ and info/
    QByteArray topDir;   // empty for the home trash (its info holds absolute paths)
};

// A trash folder of this user: a real folder (not a link) owned by this user,
// with the mode given, when one is.
bool ownFolder(const QByteArray &path, mode_t mode = 0)
{
    struct stat st;
    return lstatOf(path, &st) && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
           && (mode == 0 || (st.st_mode & 07777) == mode);
}

// Where a file of `folder` on device `dev` goes, following the freedesktop.org
// Trash layout (home trash, then the volume's .Trash/$uid or .Trash-$uid).
Outcome trashFor(const QByteArray &folder, dev_t dev, Trash *trash)
{
    const QByteArray home = homeTrash();
    dev_t homeDev;
    if (deviceOf(home, &homeDev) && homeDev == dev) {
        if (const int e = makeFolders(home, 0700))
            return fail(Fault::NoTrash, e);
        *trash = {home, {}};
        return {};
    }
    const QByteArray top = topDirOf(folder, dev);
    const QByteArray uid = QByteArray::number(::geteuid());
    // An administrator's shared $topdir/.Trash counts only as a real folder with the
    // sticky bit, owned by root or this user; this user's folder in it must be ours.
    const QByteArray shared = join(top, ".Trash");
    struct stat st;
    if (lstatOf(shared, &st) && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)
        && (st.st_uid == 0 || st.st_uid == ::geteuid())) {
        const QByteArray mine = join(shared, uid);
        if (makeFolder(mine, 0700) == 0 && ownFolder(mine)) {
            *trash = {mine, top};
            return {};
        }
    }
    const QByteArray own = join(top, ".Trash-" + uid);
    if (const int e = makeFolder(own, 0700))
        return fail(Fault::NoTrash, e);
    if (!ownFolder(own, 0700))
        return fail(Fault::NoTrash, EPERM, messages::trashNotUsable(fsname::decode(own)));
    *trash = {own, top};
    return {};
}

// The name in the trash: the file's own, numbered when taken, short enough that
// its ".trashinfo" still fits in a file name (cut where a character starts).
QByteArray trashName(const QByteArray &name, int n)
{
    const qsizetype dot = name.lastIndexOf('.');
    QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray ext = dot > 0 ? name.mid(dot) : QByteArray();
    const QByteArray number = n > 1 ? "." + QByteArray::number(n) : QByteArray();
    const qsizetype room = 255 - 10 - number.size() - ext.size();
    if (room <= 0)
        return "trashed" + number;
    if (stem.size() > room) {
        qsizetype cut = room;
        while (cut > 0 && (uchar(stem[cut]) & 0xC0) == 0x80)
            --cut;
        stem.truncate(cut);
    }
    return stem + number + ext;
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

QByteArray trashInfo(const Trash &trash, const QByteArray &original)
{
    // Relative to the volume's top for a volume's own trash, absolute for the home trash.
    QByteArray path = original;
    if (!trash.topDir.isEmpty())
        path = original.mid(trash.topDir == "/" ? 1 : trash.topDir.size() + 1);
    return "[Trash Info]\nPath=" + path.toPercentEncoding("/") + "\nDeletionDate="
           + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "\n";
}

// Moves `file` of `dir` into the trash's files/ under a free name, with its
// information first (made exclusively, so that it reserves the name).
Result<QString> moveInto(const Trash &trash, int dir, const QByteArray &file, const QByteArray &infoText)
{
    using R = Result<QString>;
    Os &sys = os();
    for (const char *sub : {"/files", "/info"}) {
        if (const int e = makeFolder(trash.path + sub, 0700))
            return R::failure(fail(Fault::NoTrash, e));
    }
    const UniqueFd files(sys.open((trash.path + "/files").constData(), O_PATH | O_DIRECTORY));
    const UniqueFd info(sys.open((trash.path + "/info").constData(), O_PATH | O_DIRECTORY));
    if (!files.valid() || !info.valid())
        return R::failure(fail(Fault::NoTrash, errno));
    for (int n = 1; n < 10000; ++n) {
        const QByteArray inTrash = trashName(file, n);
        const QByteArray infoName = inTrash + ".trashinfo";
        UniqueFd fd(sys.openat(info.get(), infoName.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return R::failure(fail(Fault::NoTrash, errno));
        }
        const bool written = writeAll(fd.get(), infoText);
        const int writeErr = errno;
        const bool closed = ::close(fd.release()) == 0;
        if (!written || !closed) {
            const int e = written ? errno : writeErr;
            sys.unlinkat(info.get(), infoName.constData(), 0);
            return R::failure(fail(Fault::NoTrash, e));
        }
        const int e = moveNoReplace(dir, file, files.get(), inTrash);
        if (e == 0)
            return R::of(fsname::decode(trash.path + "/files/" + inTrash));
        sys.unlinkat(info.get(), infoName.constData(), 0);
        if (e == EEXIST)
            continue;   // a stray file in files/ without its information
        if (e == ENOENT)
            return R::failure(fail(Fault::Gone, e));
        if (e == kNoSafeMove)
            return R::failure(fail(Fault::NoTrash, 0, messages::cannotMoveSafely()));
        return R::failure(fail(Fault::NoTrash, e));
    }
    return R::failure(fail(Fault::NoTrash, EEXIST));
}

Outcome fromMove(int e)
{
    if (e == 0)
        return {};
    if (e == EEXIST)
        return fail(Fault::Taken, e);
    if (e == ENAMETOOLONG)
        return fail(Fault::BadName, e, messages::nameProblem(messages::NameProblem::TooLong));
    if (e == kNoSafeMove)
        return fail(Fault::Unsupported);
    return fromErrno(e);
}

// A change of letter case alone where the volume sees the new name as taken by
// the file itself: through a free name of our own, so that no step can replace
// anything.
Outcome renameCase(int dir, const QByteArray &from, const QByteArray &to)
{
    QByteArray temp;
    for (int n = 0; n < 1000 && temp.isEmpty(); ++n) {
        const QByteArray candidate = ".pelorinax-rename-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(n);
        struct stat st;
        if (os().fstatat(dir, candidate.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
            temp = candidate;
    }
    if (temp.isEmpty())
        return fail(Fault::Failed, EEXIST);
    if (const int e = moveNoReplace(dir, from, dir, temp))
        return fromMove(e);
    const int e = moveNoReplace(dir, temp, dir, to);
    if (e == 0)
        return {};
    if (const int back = moveNoReplace(dir, temp, dir, from))
        return fail(Fault::Failed, back, messages::leftUnderName(fsname::decode(temp), back));
    return fromMove(e);
}

}  // namespace

Outcome checkName(const QString &name)
{
    using messages::NameProblem;
    auto bad = [](NameProblem p, int e = 0, qsizetype bytes = 0) {
        return fail(Fault::BadName, e, messages::nameProblem(p, bytes));
    };
    if (name.isEmpty())
        return bad(NameProblem::Empty);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return bad(NameProblem::Dots);
    if (name.contains(QLatin1Char('/')))
        return bad(NameProblem::Slash);
    if (name.contains(QChar(0)) || !name.isValidUtf16())
        return bad(NameProblem::BadCharacter);
    const qsizetype bytes = fsname::encode(name).size();
    if (bytes > 255)
        return bad(NameProblem::TooLong, ENAMETOOLONG, bytes);
    return {};
}

Outcome remove(const QString &folder, const QString &name, FileId expected)
{
    const UniqueFd dir = openFolder(folder);
    if (!dir.valid())
        return fromErrno(errno);
    const QByteArray file = fsname::encode(name);
    struct stat st;
    if (Outcome o = checkEntry(dir.get(), file, expected, &st); !o.ok())
        return o;
    if (Outcome o = checkMayRemove(dir.get(), st); !o.ok())
        return o;
    if (os().unlinkat(dir.get(), file.constData(), 0) != 0)
        return fromErrno(errno);
    return {};
}

Result<QString> moveToTrash(const QString &folder, const QString &name, FileId expected)
{
    using R = Result<QString>;
    const UniqueFd dir = openFolder(folder);
    if (!dir.valid())
        return R::failure(fromErrno(errno));
    const QByteArray file = fsname::encode(name);
    struct stat st;
    if (Outcome o = checkEntry(dir.get(), file, expected, &st); !o.ok())
        return R::failure(o);
    // A folder that allows no removal: neither the trash nor a delete can help.
    if (os().faccessat(dir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return R::failure(fail(Fault::Failed, errno));
    if (Outcome o = checkMayRemove(dir.get(), st); !o.ok())
        return R::failure(o);

    const QByteArray real = realPathOf(dir.get(), folder);
    Trash trash;
    if (Outcome o = trashFor(real, st.st_dev, &trash); !o.ok())
        return R::failure(o);
    return moveInto(trash, dir.get(), file, trashInfo(trash, join(real, file)));
}

Outcome rename(const QString &folder, const QString &from, const QString &to, FileId expected)
{
    if (Outcome o = checkName(to); !o.ok())
        return o;
    Os &sys = os();
    const UniqueFd dir = openFolder(folder);
    if (!dir.valid())
        return fromErrno(errno);
    const QByteArray f = fsname::encode(from);
    const QByteArray t = fsname::encode(to);
    struct stat sf, stt;
    if (Outcome o = checkEntry(dir.get(), f, expected, &sf); !o.ok())
        return o;
    if (Outcome o = checkMayRemove(dir.get(), sf); !o.ok())
        return o;

    if (sys.fstatat(dir.get(), t.constData(), &stt, AT_SYMLINK_NOFOLLOW) == 0) {
        // Found under a name that differs only in letter case, and no entry of
        // that exact name: the volume ignores case, and the user wants the
        // letters changed. (Its inode may differ where the volume makes them up.)
        const bool caseOnly = from != to && from.compare(to, Qt::CaseInsensitive) == 0
                              && (FileId::of(sf) == FileId::of(stt) || !hasExactEntry(dir.get(), t));
        if (!caseOnly)
            return fail(Fault::Taken, EEXIST);
        return renameCase(dir.get(), f, t);
    }
    if (errno == ENAMETOOLONG)
        return fromMove(ENAMETOOLONG);
    if (errno != ENOENT)
        return fail(Fault::Failed, errno);
    return fromMove(moveNoReplace(dir.get(), f, dir.get(), t));
}

}  // namespace pel::fileops
