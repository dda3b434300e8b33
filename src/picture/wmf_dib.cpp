#include "picture/wmf_dib.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pel::wmf {
namespace {

quint32 rd32(const uchar *p) { return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24; }
quint16 rd16(const uchar *p) { return quint16(p[0] | p[1] << 8); }

// One channel of a BI_BITFIELDS pixel, scaled to 8 bits.
struct Field {
    quint32 mask = 0;
    int shift = 0;
    int bits = 0;
    explicit Field(quint32 m) : mask(m)
    {
        if (!m) return;
        shift = std::countr_zero(m);
        bits = std::popcount(m >> shift);
        if (bits > 8) {  // keep the top 8 bits of wide fields
            shift += bits - 8;
            bits = 8;
        }
    }
    int value(quint32 px) const
    {
        if (!mask) return 0;
        const quint32 v = ((px & mask) >> shift) & ((1u << bits) - 1);
        return bits == 8 ? int(v) : int(v * 255 / ((1u << bits) - 1));
    }
};

// RLE8 / RLE4 bits into one palette index per pixel (row 0 = first row in the file);
// pixels the runs skip (delta, early end of line) stay -1: GDI leaves them untouched.
void decodeRle(const uchar *p, qsizetype n, int width, int height, bool four,
               std::vector<qint16> &out)
{
    out.assign(size_t(width) * size_t(height), -1);
    qsizetype i = 0;
    int x = 0, y = 0;
    auto put = [&](int v) {
        if (x < width && y < height) out[size_t(y) * size_t(width) + size_t(x)] = qint16(v);
        ++x;
    };
    while (i + 1 < n && y < height) {
        const int count = p[i], code = p[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count; ++k)
                put(four ? ((k & 1) ? (code & 0x0F) : (code >> 4)) : code);
            continue;
        }
        if (code == 0) {  // end of line
            x = 0;
            ++y;
        } else if (code == 1) {  // end of bitmap
            return;
        } else if (code == 2) {  // delta
            if (i + 1 >= n) return;
            x += p[i];
            y += p[i + 1];
            i += 2;
        } else {  // absolute run of `code` pixels, padded to a 16-bit boundary
            const qsizetype bytes = four ? (code + 1) / 2 : code;
            if (i + bytes > n) return;
            for (int k = 0; k < code; ++k) {
                const uchar b = p[i + (four ? k / 2 : k)];
                put(four ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            i += (bytes + 1) & ~qsizetype(1);
        }
    }
}

}  // namespace

QImage decodeDib(QByteArrayView dib, bool paletteIndices, const std::vector<QRgb> &palette,
                 qint64 &pixelBudget)
{
    const auto *p = reinterpret_cast<const uchar *>(dib.data());
    const qsizetype n = dib.size();
    if (n < 12) return {};
    const quint32 headerSize = rd32(p);
    qint64 width = 0, height = 0;
    int bitCount = 0;
    quint32 compression = 0, colorsUsed = 0;
    bool core = false;
    if (headerSize == 12) {
        core = true;
        width = rd16(p + 4);
        height = qint16(rd16(p + 6));
        bitCount = rd16(p + 10);
    } else if (headerSize >= 40 && headerSize <= 256 && qsizetype(headerSize) <= n) {
        width = qint32(rd32(p + 4));
        height = qint32(rd32(p + 8));
        bitCount = rd16(p + 14);
        compression = rd32(p + 16);
        colorsUsed = rd32(p + 32);
    } else {
        return {};
    }
    const bool topDown = height < 0;
    height = height < 0 ? -height : height;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return {};
    if (width * height > pixelBudget) return {};

    const bool rle = compression == 1 || compression == 2;
    switch (compression) {
    case 0: break;
    case 1: if (bitCount != 8) return {}; break;
    case 2: if (bitCount != 4) return {}; break;
    case 3: if (bitCount != 16 && bitCount != 32) return {}; break;
    default: return {};  // JPEG / PNG inside a DIB: printer-only, not worth the surface
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24
        && bitCount != 32)
        return {};

    qsizetype off = headerSize;
    quint32 masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bitCount == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
    }
    if (compression == 3) {
        if (headerSize >= 52) {  // V4/V5 headers carry the masks inside
            for (int k = 0; k < 3; ++k) masks[k] = rd32(p + 40 + 4 * k);
        } else {
            if (off + 12 > n) return {};
            for (int k = 0; k < 3; ++k) masks[k] = rd32(p + off + 4 * k);
            off += 12;
        }
    }

    std::vector<QRgb> colors;
    if (bitCount <= 8) {
        const quint32 maxColors = 1u << bitCount;
        const quint32 count = colorsUsed && colorsUsed < maxColors ? colorsUsed : maxColors;
        const int entry = paletteIndices ? 2 : core ? 3 : 4;
        colors.resize(maxColors, qRgb(0, 0, 0));
        // A short colour table is tolerated: the entries that are there are used.
        for (quint32 k = 0; k < count && off + entry <= n; ++k, off += entry) {
            if (paletteIndices) {
                const quint16 idx = rd16(p + off);
                colors[k] = idx < palette.size() ? palette[idx] : qRgb(idx, idx, idx);
            } else {
                colors[k] = qRgb(p[off + 2], p[off + 1], p[off]);
            }
        }
        if (bitCount == 1 && count < 2 && colors[1] == qRgb(0, 0, 0)) colors[1] = qRgb(255, 255, 255);
    } else if (colorsUsed && colorsUsed <= 256 && !core) {
        off += qsizetype(colorsUsed) * 4;  // optional palette for true-colour bitmaps
    }
    if (off >= n) return {};

    const int w = int(width), h = int(height);
    QImage img(w, h, QImage::Format_ARGB32);
    if (img.isNull()) return {};
    img.fill(Qt::transparent);
    pixelBudget -= width * height;
    const uchar *bits = p + off;
    const qsizetype avail = n - off;

    if (rle) {
        if (topDown) return {};
        std::vector<qint16> idx;
        decodeRle(bits, avail, w, h, compression == 2, idx);
        for (int y = 0; y < h; ++y) {
            auto *line = reinterpret_cast<QRgb *>(img.scanLine(h - 1 - y));
            for (int x = 0; x < w; ++x) {
                const qint16 v = idx[size_t(y) * size_t(w) + size_t(x)];
                if (v >= 0) line[x] = colors[size_t(v)];
            }
        }
        return img;
    }

    const qsizetype stride = ((qsizetype(w) * bitCount + 31) / 32) * 4;
    const int rows = int(std::min<qsizetype>(h, avail / stride));
    if (rows == 0) return {};
    const Field fr(masks[0]), fg(masks[1]), fb(masks[2]);
    for (int r = 0; r < rows; ++r) {
        const uchar *s = bits + qsizetype(r) * stride;
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(topDown ? r : h - 1 - r));
        switch (bitCount) {
        case 1:
            for (int x = 0; x < w; ++x) line[x] = colors[(s[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int x = 0; x < w; ++x) line[x] = colors[(s[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
            break;
        case 8:
            for (int x = 0; x < w; ++x) line[x] = colors[s[x]];
            break;
        case 16:
            for (int x = 0; x < w; ++x) {
                const quint32 v = rd16(s + 2 * x);
                line[x] = qRgb(fr.value(v), fg.value(v), fb.value(v));
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x) line[x] = qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
            break;
        case 32:
            for (int x = 0; x < w; ++x) {
                const quint32 v = rd32(s + 4 * x);
                line[x] = qRgb(fr.value(v), fg.value(v), fb.value(v));
            }
            break;
        }
    }
    return img;
}

}  // namespace pel::wmf
