#pragma once
// The last reduced decode of a picture file, kept so that the preview, the reduced
// viewer and the slideshow's read-ahead of the same file at the same scale decode it
// once. One picture at most; safe to use from any thread.
//
// A kept decode is only ever handed out for the very file it was made from: its key
// holds the file's stamp (see FileStamp), read from the descriptor the decoder reads.
// A decoder keeps a decode only when the file had settled when its stamp was read
// (FileStamp::settledAt), so that any later change of the file shows in its stamp.
#include "picture/file.h"

#include <QImage>
#include <QString>
#include <QtGlobal>

#include <mutex>

namespace pel::picture {

struct DecodeKey {
    FileStamp stamp;
    int scale = 1;   // the decoder's reduction, 1/scale of the natural size
    bool operator==(const DecodeKey &) const = default;
};

class DecodeCache {
public:
    // A kept decode is never larger than this (a reduced decode of a 100-megapixel
    // photo for a large screen is a quarter of it).
    static constexpr qint64 kMaxBytes = qint64(64) << 20;

    // The one every decoder shares.
    static DecodeCache &shared();

    explicit DecodeCache(qint64 maxBytes = kMaxBytes) : m_maxBytes(maxBytes) {}
    DecodeCache(const DecodeCache &) = delete;
    DecodeCache &operator=(const DecodeCache &) = delete;

    // The decode kept for `key`, or a null image. A kept decode of the same path whose
    // file has changed since is dropped.
    QImage find(const DecodeKey &key);
    // Keeps `image` as the decode of `key` in place of the one kept so far; one larger
    // than the bound (kMaxBytes for the shared one) is not kept.
    void keep(const DecodeKey &key, const QImage &image);
    void clear();

    // The memory held by the kept decode.
    qint64 bytes() const;

private:
    const qint64 m_maxBytes;
    mutable std::mutex m_mutex;
    DecodeKey m_key;
    QImage m_image;
};

}  // namespace pel::picture
