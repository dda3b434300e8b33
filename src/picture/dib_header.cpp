// DIB headers: the fields, the bit masks and the palette, for BMP files, icon entries
// and metafile records alike. A header must lie whole inside the bytes given; every
// field read is inside it.
#include "picture/colour_sources.h"
#include "picture/decoders.h"
#include "picture/dib.h"

#include <QtEndian>

#include <algorithm>

namespace pel::picture::detail {
namespace {

constexpr quint32 kOpaqueBlack = 0xff000000u;

quint32 le32(const uchar *p) { return qFromLittleEndian<quint32>(p); }
quint16 le16(const uchar *p) { return qFromLittleEndian<quint16>(p); }

// What the header says besides the layout itself.
struct Fields {
    std::size_t headerSize = 0;
    quint32 colorsUsed = 0;
    bool core = false;  // BITMAPCOREHEADER: 16-bit sizes, 3-byte palette entries
    bool os2 = false;   // an OS/2 2.x header, whose compression 3 is not bit fields
};

// The header's size, the picture's size and depth. `h` holds `avail` bytes.
bool readFields(const uchar *h, std::size_t avail, DibLayout *l, Fields *f, QString *error)
{
    const quint32 hs = avail >= 4 ? le32(h) : 0;
    if (hs < 12 || hs > 4096 || avail < hs || (hs > 12 && hs < 16)) {
        setError(error, QStringLiteral("BMP header is truncated or has an impossible size"));
        return false;
    }
    f->headerSize = hs;
    qint64 width, height;
    int planes;
    if (hs == 12) {
        f->core = true;
        width = le16(h + 4);
        height = qint16(le16(h + 6));
        planes = le16(h + 8);
        l->bpp = le16(h + 10);
    } else {
        f->os2 = hs < 40 || hs == 64 || (hs > 40 && hs < 52) || (hs > 56 && hs < 64);
        width = qint32(le32(h + 4));
        height = qint32(le32(h + 8));
        planes = le16(h + 12);
        l->bpp = le16(h + 14);
        if (hs >= 20)
            l->compression = le32(h + 16);
        if (hs >= 36)
            f->colorsUsed = le32(h + 32);
    }
    if (l->kind == DibKind::Icon)
        height /= 2;
    if (width <= 0 || height == 0 || height == qint64(INT32_MIN) || planes != 1) {
        setError(error, QStringLiteral("BMP header has an invalid size or plane count"));
        return false;
    }
    l->topDown = height < 0;
    l->width = int(width);
    l->height = int(std::abs(height));
    return true;
}

// The masks of 16- and 32-bit pixels, and whether the compression suits the depth.
// `m` (with `avail` bytes) is where masks stored after the header would be.
bool readMasks(const uchar *h, const Fields &f, const uchar *m, std::size_t avail, DibLayout *l, std::size_t *maskBytes,
               QString *error)
{
    const std::size_t hs = f.headerSize;
    switch (l->compression) {
    case 0:
        if (l->bpp == 16) {
            l->masks[0] = 0x7c00;
            l->masks[1] = 0x03e0;
            l->masks[2] = 0x001f;
        } else if (l->bpp == 32) {
            l->masks[0] = 0xff0000;
            l->masks[1] = 0xff00;
            l->masks[2] = 0xff;
            // An icon's 32-bit image carries alpha, and so does a V4/V5 file that declares
            // an alpha mask; otherwise the fourth byte is padding.
            if (l->kind == DibKind::Icon || (hs >= 56 && le32(h + 52) == 0xff000000u))
                l->masks[3] = 0xff000000u;
        } else if (l->bpp != 1 && l->bpp != 2 && l->bpp != 4 && l->bpp != 8 && l->bpp != 24) {
            setError(error, QStringLiteral("BMP bit depth %1 is not supported").arg(l->bpp));
            return false;
        }
        return true;
    case 1:
    case 2:
        if (l->bpp != (l->compression == 1 ? 8 : 4) || l->topDown) {
            setError(error, QStringLiteral("BMP run-length data does not match its header"));
            return false;
        }
        return true;
    case 3:
    case 6:
        break;
    default:
        setError(error, QStringLiteral("BMP compression %1 is not supported").arg(l->compression));
        return false;
    }
    if (f.os2 || (l->bpp != 16 && l->bpp != 32)) {
        setError(error, QStringLiteral("BMP compression is not supported"));
        return false;
    }
    // Three masks (four with alpha) follow a 40-byte header; later headers hold them,
    // the alpha mask from 56 bytes on.
    const std::size_t count = l->compression == 6 ? 4 : 3;
    const uchar *at = h + 40;
    if (hs == 40) {
        *maskBytes = count * 4;
        if (avail < *maskBytes) {
            setError(error, QStringLiteral("BMP bit masks are truncated"));
            return false;
        }
        at = m;
    } else if (hs < 52 || (count == 4 && hs < 56)) {
        setError(error, QStringLiteral("BMP bit masks are missing"));
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i)
        l->masks[i] = le32(at + 4 * i);
    if (count == 4 || hs >= 56)
        l->masks[3] = le32(at + 12);
    if (!l->masks[0] && !l->masks[1] && !l->masks[2]) {
        setError(error, QStringLiteral("BMP bit masks are empty"));
        return false;
    }
    return true;
}

// The palette from `start`, up to `limit` (where the pixels or the data end). Returns
// where it ends, or 0 when a palette is needed and none is there.
std::size_t readPalette(const uchar *data, std::size_t start, std::size_t limit, const Fields &f, bool paletteIndices,
                        DibLayout *l, QString *error)
{
    const quint32 full = 1u << l->bpp;
    const quint32 declared = f.colorsUsed && f.colorsUsed < full ? f.colorsUsed : full;
    const std::size_t entry = paletteIndices ? 2 : f.core ? 3 : 4;
    // A palette may be shorter than claimed: it ends where the pixels begin.
    const std::size_t room = limit > start ? (limit - start) / entry : 0;
    const quint32 count = quint32(std::min<std::size_t>(declared, room));
    if (count == 0) {
        setError(error, QStringLiteral("BMP palette is missing"));
        return 0;
    }
    l->palette.assign(256, kOpaqueBlack);  // indexes past the palette show black
    for (quint32 i = 0; i < count; ++i) {
        const uchar *e = data + start + std::size_t(i) * entry;
        if (paletteIndices) {
            const quint32 grey = le16(e) & 0xff;
            l->palette[i] = kOpaqueBlack | (grey << 16) | (grey << 8) | grey;
        } else {
            l->palette[i] = kOpaqueBlack | (quint32(e[2]) << 16) | (quint32(e[1]) << 8) | e[0];
        }
    }
    // A monochrome bitmap in a metafile that names one colour shows its set bits white.
    if (l->kind == DibKind::Metafile && l->bpp == 1 && declared < 2)
        l->palette[1] = 0xffffffffu;
    return start + std::size_t(count) * entry;
}

// Reads the DIB header at `base`. `bitsStart` is where the pixel data begins when a
// file header says so (0: right after the palette).
bool parseDib(const uchar *data, std::size_t size, std::size_t base, std::size_t bitsStart, bool paletteIndices,
              DibLayout *out, QString *error)
{
    DibLayout l;
    l.kind = out->kind;
    Fields f;
    if (size < base || !readFields(data + base, size - base, &l, &f, error))
        return false;
    const uchar *h = data + base;
    std::size_t maskBytes = 0;
    const std::size_t afterHeader = base + f.headerSize;
    if (!readMasks(h, f, data + afterHeader, size - afterHeader, &l, &maskBytes, error))
        return false;
    const std::size_t paletteStart = afterHeader + maskBytes;
    std::size_t paletteEnd = paletteStart;
    if (l.bpp <= 8) {
        const std::size_t limit = bitsStart > paletteStart ? std::min(size, bitsStart) : size;
        paletteEnd = readPalette(data, paletteStart, limit, f, paletteIndices, &l, error);
        if (paletteEnd == 0)
            return false;
    } else if (l.kind != DibKind::File && f.colorsUsed && f.colorsUsed <= 256 && !f.core) {
        paletteEnd += std::size_t(f.colorsUsed) * 4;  // a packed DIB's colour table, unused at this depth
    }
    l.bitsOffset = l.kind == DibKind::File && bitsStart >= paletteStart ? bitsStart : paletteEnd;
    // A V5 header may embed a colour profile; in an icon it can sit where the AND mask
    // would be, which then is not there.
    if (f.headerSize >= 124 && le32(h + 56) == 0x4d424544u)  // 'MBED'
        l.maskLimit = base + std::size_t(le32(h + 112));
    l.alpha = l.masks[3] != 0;
    if (l.kind == DibKind::Metafile) {
        l.alpha = false;
        l.masks[3] = 0;
    }
    l.stride = std::size_t((qint64(l.width) * l.bpp + 31) / 32) * 4;
    *out = std::move(l);
    return true;
}

}  // namespace

bool parseBmp(const uchar *data, std::size_t size, std::size_t fileSize, DibLayout *out, QString *error)
{
    if (size < 18 || data[0] != 'B' || data[1] != 'M') {
        setError(error, QStringLiteral("not a BMP file"));
        return false;
    }
    out->kind = DibKind::File;
    if (!parseDib(data, size, 14, le32(data + 10), false, out, error))
        return false;
    if (out->bitsOffset >= fileSize) {
        setError(error, QStringLiteral("BMP holds no pixel data"));
        return false;
    }
    return true;
}

bool parseIconDib(const uchar *data, std::size_t size, DibLayout *out, QString *error)
{
    out->kind = DibKind::Icon;
    if (!parseDib(data, size, 0, 0, false, out, error))
        return false;
    if (out->bitsOffset >= size) {
        setError(error, QStringLiteral("icon image holds no pixel data"));
        return false;
    }
    return true;
}

bool parseMetafileDib(const uchar *data, std::size_t size, bool paletteIndices, DibLayout *out, QString *error)
{
    out->kind = DibKind::Metafile;
    if (!parseDib(data, size, 0, 0, paletteIndices, out, error))
        return false;
    if (out->bitsOffset >= size) {
        setError(error, QStringLiteral("bitmap holds no pixel data"));
        return false;
    }
    return true;
}

colour::SourceProfile dibSource(const uchar *header, std::size_t size,
                                const std::function<QByteArray(quint32 offset, quint32 length)> &profileAt)
{
    const colour::BmpColourSpace space = colour::bmpColourSpace(header, size);
    if (space.profileSize == 0)
        return space.profile;
    const QByteArray icc = profileAt(space.profileOffset, space.profileSize);
    return icc.size() == qsizetype(space.profileSize) ? colour::SourceProfile::fromIcc(icc) : colour::SourceProfile();
}

}  // namespace pel::picture::detail
