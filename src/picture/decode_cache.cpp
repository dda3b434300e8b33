#include "picture/decode_cache.h"

namespace pel::picture {

DecodeCache &DecodeCache::shared()
{
    static DecodeCache cache;
    return cache;
}

QImage DecodeCache::find(const DecodeKey &key)
{
    QImage dropped;   // released outside the lock
    const std::lock_guard lock(m_mutex);
    if (m_image.isNull())
        return {};
    if (m_key == key)
        return m_image;
    if (m_key.stamp.path == key.stamp.path && m_key.stamp != key.stamp) {
        dropped = std::move(m_image);   // the file has changed: its old decode is of no use
        m_image = QImage();
        m_key = {};
    }
    return {};
}

void DecodeCache::keep(const DecodeKey &key, const QImage &image)
{
    const bool fits = !image.isNull() && image.sizeInBytes() <= m_maxBytes;
    QImage dropped;
    const std::lock_guard lock(m_mutex);
    dropped = std::move(m_image);
    m_image = fits ? image : QImage();
    m_key = fits ? key : DecodeKey{};
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

}  // namespace pel::picture
