#pragma once
// The last reduced decode of a picture file, kept so that the preview, the reduced
// viewer and the slideshow's read-ahead of the same file at the same scale decode it
// once. One picture at most; safe to use from any thread.
//
// A kept decode is only ever handed out for the very file it was made from: the key
// holds the file's device and inode, its size, and the times its data (mtime) and its
// inode (ctime) last changed, to the nanosecond, all read from the descriptor the
// decoder reads. ctime cannot be set back by a program (cp -p, rsync and tar restore
// mtime, not ctime), so a file rewritten in place, replaced by a rename, or deleted
// and created anew changes the key, provided the change falls on a later tick of the
// file system's clock than the one the key was taken at. A decode is therefore kept
// only when the file's last change is a few seconds older than the moment its key was
// read: any later change then carries a later time.
#include <QImage>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <mutex>

namespace pel::picture {

struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;   // mtime
    qint64 changedNs = 0;    // ctime
    bool operator==(const FileStamp &) const = default;
};

struct DecodeKey {
    QByteArray path;
    FileStamp stamp;
    int scale = 1;   // the decoder's reduction, 1/scale of the natural size
    bool operator==(const DecodeKey &) const = default;
};

class DecodeCache {
public:
    // A kept decode is never larger than this (a reduced decode of a 100-megapixel
    // photo for a large screen is a quarter of it).
    static constexpr qint64 kMaxBytes = qint64(64) << 20;
    // How much older than "now" a file's last change must be for a decode of it to be
    // kept: a clock tick of the kernel, one-second and FAT's two-second time stamps.
    static constexpr qint64 kSettleNs = qint64(3'000'000'000);

    // The one every decoder shares.
    static DecodeCache &shared();

    explicit DecodeCache(qint64 maxBytes = kMaxBytes) : m_maxBytes(maxBytes) {}
    DecodeCache(const DecodeCache &) = delete;
    DecodeCache &operator=(const DecodeCache &) = delete;

    // The stamp of the open file `fd`; false when it cannot be read. *settled says
    // whether a decode read from it now may be kept (see above).
    bool stamp(int fd, FileStamp *out, bool *settled) const;

    // The decode kept for `key`, or a null image. A kept decode of the same path whose
    // file has changed since is dropped.
    QImage find(const DecodeKey &key);
    // Keeps `image` as the decode of `key` in place of the one kept so far; one larger
    // than the bound (kMaxBytes for the shared one) is not kept.
    void keep(const DecodeKey &key, const QImage &image);
    void clear();

    qint64 bytes() const;
    // How often find() handed out a kept decode, and how often keep() kept one.
    int hits() const;
    int kept() const;

    // Tests: a clock other than the real time (nanoseconds since the epoch), nullptr for the real one.
    void setClock(qint64 (*now)()) { m_clock = now; }

private:
    const qint64 m_maxBytes;
    mutable std::mutex m_mutex;
    DecodeKey m_key;
    QImage m_image;
    int m_hits = 0;
    int m_kept = 0;
    std::atomic<qint64 (*)()> m_clock{nullptr};
};

}  // namespace pel::picture
