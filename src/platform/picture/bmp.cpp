// BMP and DIB decoding of our own: Qt 6.4 refuses valid files (56-byte headers,
// bit masks it does not expect) and is slow for large ones. Rows are read straight
// from the mapped file and, for a reduced picture, summed into bins as they come.
#include "platform/picture/decoders.h"
#include "platform/picture/scale.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pel::picture::detail {
namespace {

quint16 u16(const uchar *p) { return quint16(p[0] | (p[1] << 8)); }
quint32 u32(const uchar *p) { return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24); }
qint32 i32(const uchar *p) { return qint32(u32(p)); }

constexpr quint32 kOpaqueBlack = 0xff000000u;

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    quint32 mask = 0;
    int shift = 0;
    int bits = 0;
    std::vector<uchar> table;  // value -> 8 bits, for narrow channels

    explicit Channel(quint32 m = 0) : mask(m)
    {
        if (!mask)
            return;
        shift = std::countr_zero(mask);
        bits = std::countr_one(mask >> shift);
        if (bits <= 12) {
            const quint32 max = (1u << bits) - 1;
            table.resize(max + 1);
            for (quint32 v = 0; v <= max; ++v)
                table[v] = uchar((v * 255 + max / 2) / max);
        }
    }
    quint32 operator()(quint32 px, quint32 absent) const
    {
        if (!mask)
            return absent;
        const quint32 v = (px >> shift) & (bits >= 32 ? 0xffffffffu : ((1u << bits) - 1));
        return table.empty() ? (v >> (bits - 8)) : table[v];
    }
};

struct RowConverter {
    const DibLayout &l;
    Channel r, g, b, a;
    bool plain32 = false;  // B, G, R, X bytes

    explicit RowConverter(const DibLayout &layout)
        : l(layout), r(layout.masks[0]), g(layout.masks[1]), b(layout.masks[2]),
          a(layout.alpha ? layout.masks[3] : 0)
    {
        plain32 = l.bpp == 32 && l.masks[0] == 0xff0000u && l.masks[1] == 0xff00u && l.masks[2] == 0xffu;
    }

    void convert(const uchar *s, quint32 *d, int w) const
    {
        switch (l.bpp) {
        case 1:
        case 2:
        case 4: {
            const int bpp = l.bpp, perByte = 8 / bpp, valueMask = (1 << bpp) - 1;
            for (int x = 0; x < w; ++x) {
                const int shift = 8 - bpp * (x % perByte + 1);
                d[x] = l.palette[(s[x / perByte] >> shift) & valueMask];
            }
            break;
        }
        case 8:
            for (int x = 0; x < w; ++x)
                d[x] = l.palette[s[x]];
            break;
        case 24:
            for (int x = 0; x < w; ++x, s += 3)
                d[x] = kOpaqueBlack | (quint32(s[2]) << 16) | (quint32(s[1]) << 8) | s[0];
            break;
        case 16:
        case 32: {
            const int step = l.bpp / 8;
            for (int x = 0; x < w; ++x, s += step) {
                const quint32 px = step == 2 ? u16(s) : u32(s);
                const quint32 alpha = a(px, 0xff);
                quint32 rgb;
                if (plain32)
                    rgb = px & 0xffffffu;
                else
                    rgb = (r(px, 0) << 16) | (g(px, 0) << 8) | b(px, 0);
                d[x] = alpha == 0xff ? (kOpaqueBlack | rgb) : qPremultiply((alpha << 24) | rgb);
            }
            break;
        }
        default:
            std::fill(d, d + w, kOpaqueBlack);
        }
    }
};

// Reads the DIB header at `base` (BITMAPCOREHEADER, OS/2 2.x, BITMAPINFOHEADER and its
// V2 to V5 extensions). `bitsStart` is where the pixel data begins when the file says so (0: right after the palette).
bool parseDibHeader(const uchar *data, std::size_t size, std::size_t base, std::size_t bitsStart,
                    bool icon, DibLayout *out, QString *error)
{
    if (size < base + 4) {
        setError(error, QStringLiteral("BMP header is truncated"));
        return false;
    }
    const uchar *h = data + base;
    const quint32 hs = u32(h);
    if (hs < 12 || hs > 4096 || size < base + std::min<std::size_t>(hs, 124)) {
        setError(error, QStringLiteral("BMP header is truncated or has an impossible size"));
        return false;
    }
    DibLayout l;
    l.icon = icon;
    qint64 width, height;
    int planes;
    quint32 colorsUsed = 0;
    int paletteEntrySize = 4;
    bool os2 = false;
    if (hs == 12) {
        width = u16(h + 4);
        height = qint16(u16(h + 6));
        planes = u16(h + 8);
        l.bpp = u16(h + 10);
        paletteEntrySize = 3;
    } else {
        if (hs < 16) {
            setError(error, QStringLiteral("BMP header has an impossible size"));
            return false;
        }
        os2 = hs < 40 || hs == 64 || (hs > 40 && hs < 52) || (hs > 56 && hs < 64);
        width = i32(h + 4);
        height = i32(h + 8);
        planes = u16(h + 12);
        l.bpp = u16(h + 14);
        if (hs >= 20)
            l.compression = u32(h + 16);
        if (hs >= 36)
            colorsUsed = u32(h + 32);
    }
    if (icon)
        height /= 2;
    if (width <= 0 || height == 0 || height == qint64(INT32_MIN) || planes != 1) {
        setError(error, QStringLiteral("BMP header has an invalid size or plane count"));
        return false;
    }
    l.topDown = height < 0;
    l.width = int(width);
    l.height = int(std::abs(height));

    std::size_t maskBytes = 0;
    switch (l.compression) {
    case 0:
        if (l.bpp == 16) {
            l.masks[0] = 0x7c00;
            l.masks[1] = 0x03e0;
            l.masks[2] = 0x001f;
        } else if (l.bpp == 32) {
            l.masks[0] = 0xff0000;
            l.masks[1] = 0xff00;
            l.masks[2] = 0xff;
            // An icon's 32-bit image carries alpha, and so does a V4/V5 file that declares
            // an alpha mask; otherwise the fourth byte is padding.
            if (icon || (hs >= 56 && u32(h + 52) == 0xff000000u)) {
                l.masks[3] = 0xff000000u;
                l.alpha = true;
            }
        } else if (l.bpp != 1 && l.bpp != 2 && l.bpp != 4 && l.bpp != 8 && l.bpp != 24) {
            setError(error, QStringLiteral("BMP bit depth %1 is not supported").arg(l.bpp));
            return false;
        }
        break;
    case 1:
    case 2:
        if (l.bpp != (l.compression == 1 ? 8 : 4) || l.topDown) {
            setError(error, QStringLiteral("BMP run-length data does not match its header"));
            return false;
        }
        break;
    case 3:
    case 6: {
        if (os2 || (l.bpp != 16 && l.bpp != 32)) {
            setError(error, QStringLiteral("BMP compression is not supported"));
            return false;
        }
        const int count = l.compression == 6 ? 4 : 3;
        const uchar *m = h + 40;
        if (hs == 40) {
            maskBytes = std::size_t(count) * 4;
            if (size < base + 40 + maskBytes) {
                setError(error, QStringLiteral("BMP bit masks are truncated"));
                return false;
            }
        } else if (hs < 52) {
            setError(error, QStringLiteral("BMP bit masks are missing"));
            return false;
        }
        for (int i = 0; i < 3; ++i)
            l.masks[i] = u32(m + 4 * i);
        if (count == 4 || hs >= 56)
            l.masks[3] = u32(m + 12);
        l.alpha = l.masks[3] != 0;
        if (!l.masks[0] && !l.masks[1] && !l.masks[2]) {
            setError(error, QStringLiteral("BMP bit masks are empty"));
            return false;
        }
        break;
    }
    default:
        setError(error, QStringLiteral("BMP compression %1 is not supported").arg(l.compression));
        return false;
    }

    const std::size_t paletteStart = base + hs + maskBytes;
    std::size_t paletteEnd = paletteStart;
    if (l.bpp <= 8) {
        const quint32 full = 1u << l.bpp;
        quint32 count = colorsUsed && colorsUsed < full ? colorsUsed : full;
        // A palette may be shorter than claimed: it ends where the pixels begin.
        std::size_t limit = size;
        if (bitsStart > paletteStart)
            limit = std::min(limit, bitsStart);
        const std::size_t room = limit > paletteStart ? (limit - paletteStart) / paletteEntrySize : 0;
        count = quint32(std::min<std::size_t>(count, room));
        if (count == 0) {
            setError(error, QStringLiteral("BMP palette is missing"));
            return false;
        }
        l.palette.assign(256, kOpaqueBlack);  // indexes past the palette show black
        for (quint32 i = 0; i < count; ++i) {
            const uchar *e = data + paletteStart + std::size_t(i) * paletteEntrySize;
            l.palette[i] = kOpaqueBlack | (quint32(e[2]) << 16) | (quint32(e[1]) << 8) | e[0];
        }
        paletteEnd = paletteStart + std::size_t(count) * paletteEntrySize;
    }
    l.bitsOffset = bitsStart >= base + hs + maskBytes ? bitsStart : paletteEnd;
    // A V5 header may embed a colour profile; in an icon it can sit where the AND mask
    // would be, which then is not there.
    if (hs >= 124 && u32(h + 56) == 0x4d424544u)  // 'MBED'
        l.maskLimit = base + std::size_t(u32(h + 112));
    l.stride = std::size_t((qint64(l.width) * l.bpp + 31) / 32) * 4;
    *out = std::move(l);
    return true;
}

// Run-length data is decoded whole (it cannot be reached row by row); pixels it skips stay transparent.
QImage decodeRle(const uchar *data, std::size_t size, const DibLayout &l)
{
    QImage img(l.width, l.height, QImage::Format_ARGB32_Premultiplied);
    if (img.isNull())
        return {};
    img.fill(0);
    const bool rle8 = l.compression == 1;
    const int w = l.width, h = l.height;
    qint64 x = 0, y = 0;  // y counts rows from the bottom
    auto put = [&](int index) {
        if (x < w && y < h)
            reinterpret_cast<quint32 *>(img.scanLine(int(h - 1 - y)))[x] = l.palette[index & 0xff];
        ++x;
    };
    std::size_t p = l.bitsOffset;
    while (p + 1 < size && y < h) {
        const int n = data[p], c = data[p + 1];
        p += 2;
        if (n > 0) {
            for (int i = 0; i < n && x < w; ++i)
                put(rle8 ? c : (i % 2 == 0 ? c >> 4 : c & 15));
            continue;
        }
        if (c == 0) {
            x = 0;
            ++y;
        } else if (c == 1) {
            break;
        } else if (c == 2) {
            if (p + 1 >= size)
                break;
            x += data[p];
            y += data[p + 1];
            p += 2;
        } else {
            const std::size_t bytes = rle8 ? std::size_t(c) : std::size_t(c + 1) / 2;
            for (int i = 0; i < c; ++i) {
                const std::size_t at = p + (rle8 ? std::size_t(i) : std::size_t(i / 2));
                if (at >= size)
                    break;
                put(rle8 ? data[at] : (i % 2 == 0 ? data[at] >> 4 : data[at] & 15));
            }
            p += (bytes + 1) & ~std::size_t(1);
        }
    }
    return img;
}

// Applies an icon's AND mask (1 = transparent) to a picture decoded at full size.
void applyAndMask(QImage &img, const uchar *data, std::size_t size, const DibLayout &l)
{
    const std::size_t maskStride = std::size_t((l.width + 31) / 32) * 4;
    const std::size_t maskStart = l.bitsOffset + l.stride * std::size_t(l.height);
    if (maskStart + maskStride * std::size_t(l.height) > l.maskLimit)
        return;
    for (int y = 0; y < l.height; ++y) {
        const std::size_t row = std::size_t(l.topDown ? y : l.height - 1 - y);
        const std::size_t at = maskStart + row * maskStride;
        if (at + maskStride > size || at < maskStart)
            continue;  // a missing mask leaves the row opaque
        auto *line = reinterpret_cast<quint32 *>(img.scanLine(y));
        for (int x = 0; x < l.width; ++x)
            if (data[at + std::size_t(x / 8)] & (0x80 >> (x % 8)))
                line[x] = 0;
    }
}

}  // namespace

bool parseBmp(const uchar *data, std::size_t size, std::size_t fileSize, DibLayout *out, QString *error)
{
    if (size < 18 || data[0] != 'B' || data[1] != 'M') {
        setError(error, QStringLiteral("not a BMP file"));
        return false;
    }
    const std::size_t bitsStart = u32(data + 10);
    if (!parseDibHeader(data, size, 14, bitsStart, false, out, error))
        return false;
    if (out->bitsOffset >= fileSize) {
        setError(error, QStringLiteral("BMP holds no pixel data"));
        return false;
    }
    return true;
}

bool parseIconDib(const uchar *data, std::size_t size, DibLayout *out, QString *error)
{
    return parseDibHeader(data, size, 0, 0, true, out, error);
}

QImage decodeDib(const uchar *data, std::size_t size, const DibLayout &layout, QSize target, QString *error)
{
    const QSize natural(layout.width, layout.height);
    if (target.isEmpty())
        target = natural;
    if (layout.compression == 1 || layout.compression == 2) {
        QImage img = decodeRle(data, size, layout);
        if (img.isNull())
            setError(error, QStringLiteral("not enough memory for the picture"));
        return scaledTo(img, target);
    }

    DibLayout l = layout;
    const std::size_t stride = l.stride;
    const std::size_t rowsStored =
        l.bitsOffset < size && stride ? std::min<std::size_t>((size - l.bitsOffset) / stride, std::size_t(l.height)) : 0;
    auto rowData = [&](int y) -> const uchar * {
        const std::size_t row = std::size_t(l.topDown ? y : l.height - 1 - y);
        return row < rowsStored ? data + l.bitsOffset + row * stride : nullptr;
    };
    if (l.alpha) {
        // Many writers declare alpha and leave it zero (icons made before alpha existed
        // rely on their mask instead): an alpha channel that is zero everywhere is none.
        const Channel alphaChannel(l.masks[3]);
        const int step = l.bpp / 8;
        bool anyAlpha = false;
        for (std::size_t row = 0; row < rowsStored && !anyAlpha; ++row) {
            const uchar *s = data + l.bitsOffset + row * stride;
            for (int x = 0; x < l.width && !anyAlpha; ++x, s += step)
                anyAlpha = alphaChannel(step == 2 ? u16(s) : u32(s), 0) != 0;
        }
        if (!anyAlpha) {
            l.alpha = false;
            l.masks[3] = 0;
        }
    }
    const bool alpha = l.alpha || l.icon;
    const quint32 missing = alpha ? 0u : kOpaqueBlack;  // rows past the end of a short file
    RowConverter conv(l);

    // Icons are small and need their mask at full size; everything else reduces while reading.
    BoxReducer reducer(natural, l.icon ? natural : target, alpha);
    if (!reducer.reduces()) {
        QImage img(natural, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        if (img.isNull()) {
            setError(error, QStringLiteral("not enough memory for the picture"));
            return {};
        }
        for (int y = 0; y < l.height; ++y) {
            auto *line = reinterpret_cast<quint32 *>(img.scanLine(y));
            if (const uchar *s = rowData(y))
                conv.convert(s, line, l.width);
            else
                std::fill(line, line + l.width, missing);
        }
        if (l.icon && !l.alpha)
            applyAndMask(img, data, size, l);
        return scaledTo(img, target);
    }
    if (!reducer.valid()) {
        setError(error, QStringLiteral("not enough memory for the picture"));
        return {};
    }
    const bool direct24 = l.bpp == 24;
    std::vector<quint32> buffer(std::size_t(l.width));
    for (int y = 0; y < l.height; ++y) {
        const uchar *s = rowData(y);
        if (s && direct24) {
            reducer.addRowBgr(y, s);
            continue;
        }
        if (s)
            conv.convert(s, buffer.data(), l.width);
        else
            std::fill(buffer.begin(), buffer.end(), missing);
        reducer.addRow(y, buffer.data());
    }
    return reducer.result();
}

}  // namespace pel::picture::detail
