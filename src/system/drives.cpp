#include "system/drives.h"

#include "system/fsname.h"
#include "system/messages.h"
#include "system/os.h"
#include "system/storage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pel {

namespace {

struct State {
    QHash<QString, QString> currentFolders;  // drive root -> its current folder
    // The last reading of the mount table, while it may still be used.
    std::optional<std::vector<Volume>> mounted;
    QElapsedTimer mountedAge;
};

// The windows use these from the one user-interface thread only.
State &state()
{
    static State s;
    return s;
}

// File systems that hold the user's files. Everything else (proc, sysfs, cgroup,
// tmpfs, devpts, overlay of containers, squashfs of snaps, ...) is left out.
bool isRealFileSystem(const QByteArray &type)
{
    static const QSet<QByteArray> real = {
        "ext2", "ext3", "ext4", "xfs", "btrfs", "vfat", "msdos", "exfat", "ntfs", "ntfs3",
        "fuseblk", "iso9660", "udf", "f2fs", "zfs", "jfs", "reiserfs", "hfsplus", "nilfs2",
        "nfs", "nfs4", "cifs", "smb3"};
    return real.contains(type);
}

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
QByteArray unescapeOctal(const QByteArray &s)
{
    QByteArray out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3'
            && s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out.append(char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else {
            out.append(s[i]);
        }
    }
    return out;
}

// udev names the by-label links with \xHH escapes ("USB\x20STICK").
QString unescapeUdev(const QByteArray &in)
{
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        bool ok = false;
        if (in[i] == '\\' && i + 3 < in.size() && in[i + 1] == 'x') {
            const int v = in.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(v));
                i += 3;
            }
        }
        if (!ok)
            out.append(in[i]);
    }
    return fsname::decode(out);
}

QByteArray resolvedDevice(const QByteArray &path)
{
    const QByteArray canonical = fsname::encode(fsname::canonical(fsname::decode(path)));
    return canonical.isEmpty() ? fsname::encode(QDir::cleanPath(fsname::decode(path))) : canonical;
}

QHash<QByteArray, QString> labelsByDevice(const QString &byLabelDir)
{
    QHash<QByteArray, QString> labels;
    const QByteArray dirPath = fsname::encode(byLabelDir);
    DIR *dir = ::opendir(dirPath.constData());
    if (!dir)
        return labels;
    while (const dirent *e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        char target[4096];
        const QByteArray link = dirPath + '/' + e->d_name;
        const ssize_t n = ::readlink(link.constData(), target, sizeof target);
        if (n <= 0 || size_t(n) >= sizeof target)
            continue;
        QByteArray to(target, n);
        if (!to.startsWith('/'))
            to = dirPath + '/' + to;
        labels.insert(resolvedDevice(to), unescapeUdev(QByteArray(e->d_name)));
    }
    ::closedir(dir);
    return labels;
}

bool isUnder(const QString &path, const QString &root)
{
    if (root == u"/")
        return path.startsWith(u'/');
    return path.startsWith(root) && (path.size() == root.size() || path[root.size()] == u'/');
}

QString cleanAbsolute(const QString &path) { return fsname::absolute(path); }

}  // namespace

std::vector<Volume> Drives::parseMountInfo(const QByteArray &mountInfo, const QString &byLabelDir)
{
    struct Mount {
        QString root;
        QByteArray device;
    };
    std::vector<Mount> mounts;
    QSet<QByteArray> seen;  // device and root within it: a second one is a bind mount
    for (const QByteArray &line : mountInfo.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf("-");
        if (f.size() < 7 || dash < 6 || dash + 2 >= f.size())
            continue;
        const QByteArray &device = f[2], &fsRoot = f[3], &type = f[dash + 1];
        const QString mountPoint = fsname::decode(unescapeOctal(f[4]));
        if (!isRealFileSystem(type) || !mountPoint.startsWith(u'/'))
            continue;
        // A mount of a sub-folder of a file system is a bind mount; btrfs mounts
        // its subvolumes ("/@home") the same way, and those are real volumes.
        const QByteArray root = unescapeOctal(fsRoot);
        const bool subvolume = type == "btrfs" && root.lastIndexOf('/') == 0;
        if (root != "/" && !subvolume)
            continue;
        if (isUnder(mountPoint, QStringLiteral("/proc")) || isUnder(mountPoint, QStringLiteral("/sys")))
            continue;
        const QByteArray key = device + ' ' + root;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        // A later mount on the same point hides the earlier one.
        auto same = std::find_if(mounts.begin(), mounts.end(),
                                 [&](const Mount &m) { return m.root == mountPoint; });
        const Mount m{mountPoint, unescapeOctal(f[dash + 2])};
        if (same != mounts.end())
            *same = m;
        else
            mounts.push_back(m);
    }

    std::sort(mounts.begin(), mounts.end(), [](const Mount &a, const Mount &b) {
        if ((a.root == u"/") != (b.root == u"/"))
            return a.root == u"/";
        return a.root < b.root;
    });
    if (mounts.empty() || mounts.front().root != u"/")
        mounts.insert(mounts.begin(), Mount{QStringLiteral("/"), QByteArray()});

    const QHash<QByteArray, QString> labels = labelsByDevice(byLabelDir);
    std::vector<Volume> volumes;
    volumes.reserve(mounts.size());
    for (const Mount &m : mounts) {
        QString label = fsname::display(m.root);
        if (m.device.startsWith('/')) {
            const QString name = labels.value(resolvedDevice(m.device));
            if (!name.isEmpty())
                label += QStringLiteral(" [%1]").arg(fsname::display(name));
        }
        volumes.push_back({m.root, label});
    }
    return volumes;
}

QList<QByteArray> Drives::mountPoints(const QByteArray &mountInfo)
{
    QList<QByteArray> points;
    for (const QByteArray &line : mountInfo.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() >= 5 && f[4].startsWith('/'))
            points.append(unescapeOctal(f[4]));
    }
    return points;
}

// One reading of the mount table answers every question of the same step (the
// start asks three times before the event loop first runs): it is dropped when
// the event loop next runs, and after a second at most where no loop runs, so a
// volume mounted or removed since always shows.
std::vector<Volume> Drives::volumes()
{
    State &s = state();
    if (s.mounted && !s.mountedAge.hasExpired(1000))
        return *s.mounted;
    // The mount table alone: nothing here touches a mount point, so a share that
    // has stopped answering cannot hold the drive list up.
    s.mounted = parseMountInfo(os().mountTable());
    s.mountedAge.start();
    QCoreApplication *app = QCoreApplication::instance();
    if (app && app->thread() == QThread::currentThread())
        QTimer::singleShot(0, app, [] { state().mounted.reset(); });
    return *s.mounted;
}

void Drives::forgetMountTable() { state().mounted.reset(); }

QString Drives::driveOf(const QString &path)
{
    const QString p = cleanAbsolute(path);
    QString best = QStringLiteral("/");
    for (const Volume &v : volumes()) {
        if (v.root.size() > best.size() && isUnder(p, v.root))
            best = v.root;
    }
    return best;
}

QString Drives::currentFolder(const QString &driveRoot)
{
    const QString root = QDir::cleanPath(driveRoot);
    return state().currentFolders.value(root, root);
}

void Drives::setCurrentFolder(const QString &folder)
{
    const QString f = cleanAbsolute(folder);
    state().currentFolders.insert(driveOf(f), f);
}

void Drives::resetCurrentFolders()
{
    state().currentFolders.clear();
}

Result<QString> Drives::makeCurrent(const QString &driveRoot)
{
    const QString root = QDir::cleanPath(driveRoot);
    // A volume that was unmounted leaves at most an empty mount point behind:
    // it must still be in the mount table.
    const std::vector<Volume> now = volumes();
    const bool mounted = std::any_of(now.begin(), now.end(), [&](const Volume &v) { return v.root == root; });
    if (!mounted)
        return Result<QString>::failure(Outcome::failure(Fault::Unreadable, ENODEV));
    // Looked at on a worker: a share that does not answer in time is a drive that
    // is not ready.
    struct Looked {
        bool root = false;
        int error = 0;
        bool folder = false;
    };
    QString folder = currentFolder(root);
    const Result<Looked> looked = storage::run(root, storage::Limit::Answer, [root, folder] {
        Looked l;
        l.root = isReadable(root);
        l.error = l.root ? 0 : errno;
        l.folder = l.root && isReadable(folder);
        return l;
    });
    if (looked.outcome.fault == Fault::Closing)
        return Result<QString>::failure(looked.outcome);
    if (!looked.ok())
        return Result<QString>::failure(Outcome::failure(Fault::Unreadable, 0, messages::reason(looked.outcome)));
    if (!looked.value.root)
        return Result<QString>::failure(Outcome::failure(Fault::Unreadable, looked.value.error));
    if (!looked.value.folder) {
        folder = root;
        state().currentFolders.insert(root, root);
    }
    return Result<QString>::of(folder);
}

bool Drives::isReadable(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    const QByteArray path = fsname::encode(folder);
    struct stat st;
    if (os().fstatat(AT_FDCWD, path.constData(), &st, 0) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return os().faccessat(AT_FDCWD, path.constData(), R_OK | X_OK, 0) == 0;
}

}  // namespace pel
