#include "picture/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace pel {
namespace {

qint64 nanoseconds(const timespec &t) { return qint64(t.tv_sec) * 1'000'000'000 + qint64(t.tv_nsec); }

}  // namespace

void UniqueFd::reset(int fd)
{
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    if (fd_ >= 0 && fd_ != fd)
        ::close(fd_);
    fd_ = fd;
}

std::optional<FileStamp> FileStamp::of(int fd, const QByteArray &path)
{
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return std::nullopt;
    return fromStat(st, path);
}

std::optional<FileStamp> FileStamp::ofPath(const QByteArray &path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return fromStat(st, path);
}

FileStamp FileStamp::fromStat(const struct stat &st, const QByteArray &path)
{
    FileStamp s;
    s.path = path;
    s.device = quint64(st.st_dev);
    s.inode = quint64(st.st_ino);
    s.size = qint64(st.st_size);
    s.modifiedNs = nanoseconds(st.st_mtim);
    s.changedNs = nanoseconds(st.st_ctim);
    return s;
}

qint64 FileStamp::nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

bool FileStamp::settledAt(qint64 now) const
{
    return changedNs < now - kSettleNs && modifiedNs < now - kSettleNs;
}

bool FileStamp::isCurrent(int fd) const
{
    const auto now = of(fd, path);
    return now && *now == *this;
}

UniqueFd openRegularFile(const QByteArray &path, QString *error)
{
    UniqueFd fd;
    do
        fd.reset(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    while (!fd.valid() && errno == EINTR);
    if (!fd.valid()) {
        if (error)
            *error = QStringLiteral("cannot open the file: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return fd;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = QStringLiteral("not a regular file");
        return UniqueFd();
    }
    // A regular file never blocks; reads go back to the ordinary mode.
    fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

qint64 readAt(int fd, void *buffer, std::size_t length, qint64 offset)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, static_cast<char *>(buffer) + done, length - done, off_t(offset + qint64(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return qint64(done);
}

}  // namespace pel
