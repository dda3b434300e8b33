// ICO and CUR: a directory of images, each a DIB (with its AND mask) or a PNG.
// We show the largest; the directory's own size fields are not trusted (a 256-pixel
// image is stored as 0, and some writers get them wrong), the image headers are.
#include "platform/picture/decoders.h"
#include "platform/picture/scale.h"

#include <cstring>

namespace pel::picture::detail {
namespace {

quint16 u16(const uchar *p) { return quint16(p[0] | (p[1] << 8)); }
quint32 u32(const uchar *p) { return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24); }
quint32 be32(const uchar *p) { return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]); }

const uchar kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Reads one entry's real size from its image header; false when it cannot be shown.
bool inspectEntry(const uchar *data, std::size_t size, IcoEntry *e)
{
    if (e->offset >= size)
        return false;
    // Writers get the length wrong; the image's own header says how much it needs.
    if (e->length < 16 || e->length > size - e->offset)
        e->length = size - e->offset;
    const uchar *p = data + e->offset;
    if (e->length >= 24 && std::memcmp(p, kPngSignature, 8) == 0) {
        if (std::memcmp(p + 12, "IHDR", 4) != 0)
            return false;
        const quint32 w = be32(p + 16), h = be32(p + 20);
        if (w == 0 || h == 0 || w > 0x7fffffffu || h > 0x7fffffffu)
            return false;
        e->png = true;
        e->size = QSize(int(w), int(h));
        e->bpp = e->length > 24 ? p[24] * 4 : 32;  // bit depth per channel, roughly
        return true;
    }
    DibLayout l;
    if (!parseIconDib(p, e->length, &l, nullptr) || l.compression == 1 || l.compression == 2)
        return false;
    e->size = QSize(l.width, l.height);
    e->bpp = l.bpp;
    return true;
}

}  // namespace

bool parseIco(const uchar *data, std::size_t size, IcoEntry *largest, bool *cursor, QString *error)
{
    if (size < 6 || u16(data) != 0 || (u16(data + 2) != 1 && u16(data + 2) != 2) || u16(data + 4) == 0) {
        setError(error, QStringLiteral("not an ICO/CUR file"));
        return false;
    }
    *cursor = u16(data + 2) == 2;
    const int count = u16(data + 4);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const std::size_t at = 6 + std::size_t(i) * 16;
        if (at + 16 > size)
            break;
        IcoEntry e;
        e.length = u32(data + at + 8);
        e.offset = u32(data + at + 12);
        if (!inspectEntry(data, size, &e))
            continue;
        const qint64 area = qint64(e.size.width()) * e.size.height();
        const qint64 best = found ? qint64(largest->size.width()) * largest->size.height() : -1;
        if (area > best || (area == best && e.bpp > largest->bpp)) {
            *largest = e;
            found = true;
        }
    }
    if (!found)
        setError(error, QStringLiteral("ICO/CUR file holds no readable image"));
    return found;
}

QImage decodeIcoEntry(const uchar *data, std::size_t size, const IcoEntry &entry, QString *error)
{
    if (entry.offset >= size || entry.offset + entry.length > size) {
        setError(error, QStringLiteral("ICO entry lies outside the file"));
        return {};
    }
    const uchar *p = data + entry.offset;
    QImage img;
    if (entry.png) {
        // The PNG reader is built into Qt, so this loads no plugin.
        img = QImage::fromData(p, int(std::min<std::size_t>(entry.length, 0x7fffffff)), "PNG");
        if (img.size() != entry.size)
            img = QImage();
    } else {
        DibLayout l;
        if (parseIconDib(p, entry.length, &l, error))
            img = decodeDib(p, entry.length, l, QSize(), error);
    }
    if (img.isNull())
        setError(error, QStringLiteral("ICO image cannot be decoded"));
    return img;
}

}  // namespace pel::picture::detail
