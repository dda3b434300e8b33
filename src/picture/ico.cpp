// ICO and CUR: a directory of images, each a DIB (with its AND mask) or a PNG.
// We show the largest; the directory's own size fields are not trusted (a 256-pixel
// image is stored as 0, and some writers get them wrong), the image headers are.
#include "picture/colour_sources.h"
#include "picture/decoders.h"
#include "picture/scale.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace pel::picture::detail {
namespace {

const uchar kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Pixels per byte of compressed data that deflate can reach at best; a PNG whose data
// is shorter than its pixels divided by this cannot hold them.
constexpr qint64 kDeflateMaxRatio = 1032;

// Reads one entry's real size from its image header; false when it cannot be shown
// (*why says why when it is worth saying).
bool inspectEntry(const uchar *data, std::size_t size, IcoEntry *e, QString *why)
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
        const quint32 w = qFromBigEndian<quint32>(p + 16), h = qFromBigEndian<quint32>(p + 20);
        if (w == 0 || h == 0 || w > 0x7fffffffu || h > 0x7fffffffu)
            return false;
        e->png = true;
        e->size = QSize(int(w), int(h));
        e->bpp = e->length > 24 ? p[24] * 4 : 32;  // bit depth per channel, roughly
        if (!withinBudget(e->size, why))
            return false;
        // Each row is a filter byte and its pixels, at least one bit each.
        const int depth = e->length > 24 ? std::max<int>(p[24], 1) : 1;
        const int channels = e->length > 25 ? (p[25] == 2 ? 3 : p[25] == 4 ? 2 : p[25] == 6 ? 4 : 1) : 1;
        const qint64 raw = mulSat(h, 1 + (qint64(w) * depth * channels + 7) / 8);
        if (mulSat(qint64(e->length), kDeflateMaxRatio) < raw) {
            setError(why, QStringLiteral("icon image is far shorter than its header claims"));
            return false;
        }
        QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(p),
                                                   qsizetype(std::min<std::size_t>(e->length, 0x7fffffff)));
        QBuffer buffer(&bytes);
        return buffer.open(QIODevice::ReadOnly) && pngChunksFit(buffer, why);
    }
    DibLayout l;
    if (!parseIconDib(p, e->length, &l, nullptr) || l.runLength())
        return false;
    e->size = QSize(l.width, l.height);
    e->bpp = l.bpp;
    return withinBudget(e->size, why) && dibPlausible(l, qint64(e->length), why);
}

}  // namespace

bool parseIco(const uchar *data, std::size_t size, IcoEntry *largest, bool *cursor, QString *error)
{
    const quint16 reserved = size >= 6 ? qFromLittleEndian<quint16>(data) : 1;
    const quint16 type = size >= 6 ? qFromLittleEndian<quint16>(data + 2) : 0;
    const int count = size >= 6 ? qFromLittleEndian<quint16>(data + 4) : 0;
    if (reserved != 0 || (type != 1 && type != 2) || count == 0) {
        setError(error, QStringLiteral("not an ICO/CUR file"));
        return false;
    }
    *cursor = type == 2;
    bool found = false;
    QString why;  // why the last refused entry was refused
    for (int i = 0; i < count; ++i) {
        const std::size_t at = 6 + std::size_t(i) * 16;
        if (at + 16 > size)
            break;
        IcoEntry e;
        e.length = qFromLittleEndian<quint32>(data + at + 8);
        e.offset = qFromLittleEndian<quint32>(data + at + 12);
        if (!inspectEntry(data, size, &e, &why))
            continue;
        const qint64 area = qint64(e.size.width()) * e.size.height();
        const qint64 best = found ? qint64(largest->size.width()) * largest->size.height() : -1;
        if (area > best || (area == best && e.bpp > largest->bpp)) {
            *largest = e;
            found = true;
        }
    }
    if (!found)
        setError(error, why.isEmpty() ? QStringLiteral("ICO/CUR file holds no readable image") : why);
    return found;
}

Decoded decodeIcoEntry(const uchar *data, std::size_t size, const IcoEntry &entry, QSize target, QString *error)
{
    if (entry.offset >= size || entry.length > size - entry.offset) {
        setError(error, QStringLiteral("ICO entry lies outside the file"));
        return {};
    }
    if (target.isEmpty())
        target = entry.size;
    const uchar *p = data + entry.offset;
    Decoded decoded;
    QImage &img = decoded.image;
    if (entry.png) {
        // The PNG reader is built into Qt, so this loads no plugin; it reduces while it reads.
        liftQtAllocationLimit();
        QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(p),
                                                   qsizetype(std::min<std::size_t>(entry.length, 0x7fffffff)));
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "png");
        if (pngChunksFit(buffer, error) && reader.size() == entry.size) {
            if (target.width() < entry.size.width() && target.height() < entry.size.height())
                reader.setScaledSize(target);
            img = scaledTo(reader.read(), target);
        }
        decoded.source = colour::pngSource(bytes);
    } else {
        DibLayout l;
        if (parseIconDib(p, entry.length, &l, error))
            img = decodeDib(p, entry.length, l, target, error);
        // A V5 header's profile lies within the entry's bytes.
        decoded.source = dibSource(p, entry.length, [&](quint32 offset, quint32 length) {
            return offset <= entry.length && length <= entry.length - offset
                       ? QByteArray(reinterpret_cast<const char *>(p + offset), qsizetype(length))
                       : QByteArray();
        });
    }
    if (img.isNull()) {
        setError(error, QStringLiteral("ICO image cannot be decoded"));
        return {};
    }
    return decoded;
}

}  // namespace pel::picture::detail
