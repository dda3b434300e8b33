#include "picture/decode_cache.h"

#include <sys/stat.h>
#include <time.h>

namespace pel::picture {
namespace {

qint64 nanoseconds(const timespec &t) { return qint64(t.tv_sec) * 1'000'000'000 + qint64(t.tv_nsec); }

qint64 realTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

}  // namespace

DecodeCache &DecodeCache::shared()
{
    static DecodeCache cache;
    return cache;
}

bool DecodeCache::stamp(int fd, FileStamp *out, bool *settled) const
{
    // Read before the file is: a change while it is decoded then shows in the next stamp.
    const auto clock = m_clock.load();
    const qint64 now = clock ? clock() : realTime();
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    out->device = quint64(st.st_dev);
    out->inode = quint64(st.st_ino);
    out->size = qint64(st.st_size);
    out->modifiedNs = nanoseconds(st.st_mtim);
    out->changedNs = nanoseconds(st.st_ctim);
    // A time in the future (another machine's clock) is never settled.
    *settled = out->changedNs < now - kSettleNs && out->modifiedNs < now - kSettleNs;
    return true;
}

QImage DecodeCache::find(const DecodeKey &key)
{
    const std::lock_guard lock(m_mutex);
    if (m_image.isNull())
        return {};
    if (m_key == key) {
        ++m_hits;
        return m_image;
    }
    if (m_key.path == key.path && m_key.stamp != key.stamp) {
        m_image = QImage();   // the file has changed: its old decode is of no use
        m_key = {};
    }
    return {};
}

void DecodeCache::keep(const DecodeKey &key, const QImage &image)
{
    const bool fits = !image.isNull() && image.sizeInBytes() <= m_maxBytes;
    QImage dropped;   // released outside the lock
    const std::lock_guard lock(m_mutex);
    dropped = std::move(m_image);
    m_image = fits ? image : QImage();
    m_key = fits ? key : DecodeKey{};
    if (fits)
        ++m_kept;
}

void DecodeCache::clear()
{
    QImage dropped;
    const std::lock_guard lock(m_mutex);
    dropped = std::move(m_image);
    m_image = QImage();
    m_key = {};
}

qint64 DecodeCache::bytes() const
{
    const std::lock_guard lock(m_mutex);
    return m_image.isNull() ? 0 : m_image.sizeInBytes();
}

int DecodeCache::hits() const
{
    const std::lock_guard lock(m_mutex);
    return m_hits;
}

int DecodeCache::kept() const
{
    const std::lock_guard lock(m_mutex);
    return m_kept;
}

}  // namespace pel::picture
