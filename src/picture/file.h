#pragma once
// Files as the program meets them: descriptors that close themselves, and the stamp
// that tells one version of a file's content from another. Nothing here is particular
// to pictures; the picture loader is only the lowest layer that needs them, so they
// live here for every layer above (file operations, the clipboard, the slideshow's
// read-ahead, the folder read) to use.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <optional>

struct stat;

namespace pel {

// Owns one file descriptor and closes it when destroyed. Move-only: a descriptor has
// exactly one owner, and release() hands it on to one that closes it otherwise.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives up the descriptor without closing it; the caller owns it from then on.
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held, if any, and takes `fd` instead.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// What identifies the content of a file at one moment: where it was reached, which
// file it is (device and inode), its size, and the times its data (mtime) and its
// inode (ctime) last changed, to the nanosecond. ctime cannot be set back by a program
// (cp -p, rsync and tar restore mtime, not ctime), so a file rewritten in place,
// replaced by a rename, or deleted and created anew has another stamp, provided the
// change falls on a later tick of the file system's clock than the stamp was read at
// (see settledAt()).
struct FileStamp {
    QByteArray path;  // the name's bytes, as given
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;  // mtime
    qint64 changedNs = 0;   // ctime
    bool operator==(const FileStamp &) const = default;

    // How much older than "now" a file's last change must be for its stamp to tell
    // any later change: a clock tick of the kernel, one-second and FAT's two-second
    // time stamps.
    static constexpr qint64 kSettleNs = qint64(3'000'000'000);

    // The stamp of the open file `fd`, reached as `path`; nullopt when fstat fails.
    static std::optional<FileStamp> of(int fd, const QByteArray &path);
    // The stamp of what `path` names now (through links); nullopt when stat fails.
    static std::optional<FileStamp> ofPath(const QByteArray &path);
    // The stamp that `st` describes, for callers that asked the system themselves.
    static FileStamp fromStat(const struct stat &st, const QByteArray &path);
    // The real time, in nanoseconds since the epoch.
    static qint64 nowNs();
    // Whether the file's last change is at least kSettleNs older than `nowNs`, read
    // before the stamp was: then any change after the stamp carries a later time and
    // shows in the next stamp, so what was read from the file may be kept under this
    // stamp. A time in the future (another machine's clock) is never settled.
    bool settledAt(qint64 nowNs) const;
    // Whether the open file `fd` still has this stamp: it is the same file, and
    // nothing has changed it since.
    bool isCurrent(int fd) const;
};

// Opens `path` for reading without ever blocking (a named pipe or a device listed
// under a file's name must not freeze the window) and accepts only a regular file,
// judged on the opened descriptor, never by name. Returns an invalid descriptor with
// *error set otherwise.
UniqueFd openRegularFile(const QByteArray &path, QString *error);

// Reads up to `length` bytes at `offset`, retrying interrupted and partial reads.
// Returns the bytes read: fewer than asked at the end of the file, -1 on a read error.
qint64 readAt(int fd, void *buffer, std::size_t length, qint64 offset);

}  // namespace pel
