// DIB pixels: rows converted from every depth and bit-field layout, run-length data,
// icons' AND masks. A picture shown reduced is summed into bins as its rows come, so
// it is never held at its natural size; a BMP file is read in bands, never whole.
#include "picture/decoders.h"
#include "picture/dib.h"
#include "picture/scale.h"

#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace pel::picture::detail {
namespace {

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

    // Pixels x0 .. x0 + n - 1 of the stored row `s` into d[0] .. d[n - 1].
    void convert(const uchar *s, quint32 *d, int x0, int n) const
    {
        switch (l.bpp) {
        case 1:
        case 2:
        case 4: {
            const int bpp = l.bpp, perByte = 8 / bpp, valueMask = (1 << bpp) - 1;
            for (int i = 0; i < n; ++i) {
                const int x = x0 + i;
                const int shift = 8 - bpp * (x % perByte + 1);
                d[i] = l.palette[(s[x / perByte] >> shift) & valueMask];
            }
            break;
        }
        case 8:
            s += x0;
            for (int i = 0; i < n; ++i)
                d[i] = l.palette[s[i]];
            break;
        case 24:
            s += std::size_t(x0) * 3;
            for (int i = 0; i < n; ++i, s += 3)
                d[i] = kOpaqueBlack | (quint32(s[2]) << 16) | (quint32(s[1]) << 8) | s[0];
            break;
        case 16:
        case 32: {
            const int step = l.bpp / 8;
            s += std::size_t(x0) * std::size_t(step);
            for (int i = 0; i < n; ++i, s += step) {
                const quint32 px = step == 2 ? qFromLittleEndian<quint16>(s) : qFromLittleEndian<quint32>(s);
                const quint32 alpha = a(px, 0xff);
                quint32 rgb;
                if (plain32)
                    rgb = px & 0xffffffu;
                else
                    rgb = (r(px, 0) << 16) | (g(px, 0) << 8) | b(px, 0);
                d[i] = alpha == 0xff ? (kOpaqueBlack | rgb) : qPremultiply((alpha << 24) | rgb);
            }
            break;
        }
        default:
            std::fill(d, d + n, kOpaqueBlack);
        }
    }
};

// Pictures up to this size are trusted whatever their file holds: a damaged small file
// still shows what it has. Beyond it, a file must be able to hold what it claims.
constexpr qint64 kTrustedBytes = qint64(64) << 20;
// Bytes read from a file at a time, and pixels converted at a time for a reduced decode:
// a large picture is never held whole, neither as its file nor as a full row.
constexpr std::size_t kBand = std::size_t(1) << 20;
constexpr int kChunk = 16384;

// The pixel data of a DIB, front to back: straight from memory (icons, metafile
// records), or read from a BMP file band by band.
class PixelBytes {
public:
    PixelBytes(const uchar *data, std::size_t size, std::size_t from)
        : mem_(data), end_(size), pos_(std::min(from, size)) {}
    PixelBytes(int fd, qint64 fileSize, std::size_t from)
        : fd_(fd), end_(std::size_t(std::max<qint64>(fileSize, 0))), pos_(std::min<std::size_t>(from, end_)) {}

    // The next `n` bytes (fewer only at the end: *got says how many), contiguous.
    const uchar *take(std::size_t n, std::size_t *got)
    {
        if (mem_) {
            *got = std::min(n, end_ - pos_);
            const uchar *p = mem_ + pos_;
            pos_ += *got;
            return p;
        }
        if (bufEnd_ - bufPos_ < n && !refill(n)) {
            *got = 0;
            return nullptr;
        }
        *got = std::min(n, bufEnd_ - bufPos_);
        const uchar *p = buf_.data() + bufPos_;
        bufPos_ += *got;
        return p;
    }
    // Exactly `n` bytes, or nullptr.
    const uchar *take(std::size_t n)
    {
        std::size_t got = 0;
        const uchar *p = take(n, &got);
        return got == n ? p : nullptr;
    }
    // The file could not be read, or held fewer bytes than when it was opened: what
    // was taken before is all there is, and the picture cannot be completed.
    bool failed() const { return failed_; }

private:
    bool refill(std::size_t n)
    {
        const std::size_t kept = bufEnd_ - bufPos_;
        if (kept && bufPos_)
            std::memmove(buf_.data(), buf_.data() + bufPos_, kept);
        bufPos_ = 0;
        bufEnd_ = kept;
        try {
            if (buf_.size() < std::max(n, kBand))
                buf_.resize(std::max(n, kBand));
        } catch (const std::bad_alloc &) {
            return false;
        }
        const std::size_t want = std::min(buf_.size() - kept, end_ - pos_);
        const qint64 got = want ? readAt(fd_, buf_.data() + kept, want, qint64(pos_)) : 0;
        if (got < qint64(want)) {
            failed_ = true;
            bufEnd_ = 0;
            return false;
        }
        pos_ += want;
        bufEnd_ += want;
        return bufEnd_ > 0;
    }

    const uchar *mem_ = nullptr;
    int fd_ = -1;
    std::size_t end_ = 0, pos_ = 0;  // in the file or the buffer given
    std::vector<uchar> buf_;
    std::size_t bufPos_ = 0, bufEnd_ = 0;
    bool failed_ = false;
};

// Where a DIB's bytes come from: memory, or a file descriptor.
struct DibSource {
    const uchar *data = nullptr;
    std::size_t size = 0;
    int fd = -1;
    qint64 fileSize = 0;

    qint64 total() const { return fd >= 0 ? fileSize : qint64(size); }
    PixelBytes from(std::size_t offset) const
    {
        return fd >= 0 ? PixelBytes(fd, fileSize, offset) : PixelBytes(data, size, offset);
    }
};

// The destination of decoded rows: the picture itself when it is shown at its natural
// size, otherwise the bins of a reduction (nothing of the natural size is allocated).
class Target {
public:
    Target(QSize natural, QSize target, bool alpha, bool clear)
        : reducer_(natural, target, alpha), target_(target)
    {
        if (reducer_.reduces())
            return;
        image_ = QImage(natural, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        if (clear && !image_.isNull())
            image_.fill(0);
    }
    bool valid() const { return reducer_.reduces() ? reducer_.valid() : !image_.isNull(); }
    bool direct() const { return !reducer_.reduces(); }
    quint32 *line(int y) { return reinterpret_cast<quint32 *>(image_.scanLine(y)); }
    BoxReducer &reducer() { return reducer_; }
    QImage result() { return direct() ? scaledTo(image_, target_) : reducer_.result(); }

private:
    BoxReducer reducer_;
    QImage image_;
    QSize target_;
};

// An icon's AND mask (1 = transparent) on pixels x0 .. x0 + n - 1 of a row.
void applyMask(quint32 *d, const uchar *mask, int x0, int n)
{
    for (int i = 0; i < n; ++i) {
        const int x = x0 + i;
        if (mask[x / 8] & (0x80 >> (x % 8)))
            d[i] = 0;
    }
}

// Many writers declare alpha and leave it zero (icons made before alpha existed rely on
// their mask instead): an alpha channel that is zero everywhere is none. False when the
// data cannot be read.
bool checkAlpha(const DibSource &src, DibLayout &l, int rowsStored, QString *error)
{
    const Channel alphaChannel(l.masks[3]);
    const int step = l.bpp / 8;
    bool anyAlpha = false;
    PixelBytes in = src.from(l.bitsOffset);
    for (int row = 0; row < rowsStored && !anyAlpha; ++row) {
        const uchar *s = in.take(l.stride);
        if (!s)
            break;
        for (int x = 0; x < l.width && !anyAlpha; ++x, s += step)
            anyAlpha = alphaChannel(step == 2 ? qFromLittleEndian<quint16>(s) : qFromLittleEndian<quint32>(s), 0) != 0;
    }
    if (in.failed()) {
        setError(error, QStringLiteral("the file could not be read to its end"));
        return false;
    }
    if (!anyAlpha) {
        l.alpha = false;
        l.masks[3] = 0;
    }
    return true;
}

// An icon's AND mask follows its colour rows, in the same order; only icons (in memory) have one.
class IconMask {
public:
    IconMask(const DibSource &src, const DibLayout &l)
        : data_(l.kind == DibKind::Icon && !l.alpha ? src.data : nullptr), size_(src.size),
          stride_(qint64((qint64(l.width) + 31) / 32) * 4), start_(qint64(l.bitsOffset) + mulSat(qint64(l.stride), l.height))
    {
        const qint64 limit = l.maskLimit > std::size_t(INT64_MAX) ? INT64_MAX : qint64(l.maskLimit);
        if (data_ && mulSat(stride_, l.height) > limit - start_)
            data_ = nullptr;   // other data where the mask would be: there is none
    }
    // The mask of stored row `row`; nullptr leaves the row opaque.
    const uchar *row(int row) const
    {
        const qint64 at = start_ + qint64(row) * stride_;
        return data_ && at + stride_ <= qint64(size_) ? data_ + at : nullptr;
    }

private:
    const uchar *data_;
    std::size_t size_;
    qint64 stride_, start_;
};

// Uncompressed rows into the picture or its reduction. Rows a short DIB lacks are
// black in a BMP file without alpha, transparent otherwise.
QImage decodeRows(const DibSource &src, const DibLayout &layout, QSize target, QString *error)
{
    DibLayout l = layout;
    const qint64 available = src.total() - qint64(l.bitsOffset);
    const int rowsStored = available > 0 && l.stride ? int(std::min<qint64>(available / qint64(l.stride), l.height)) : 0;
    if (rowsStored == 0) {
        setError(error, QStringLiteral("BMP holds no complete row"));
        return {};
    }
    if (l.alpha && !checkAlpha(src, l, rowsStored, error))
        return {};
    const bool alpha = l.alpha || l.kind != DibKind::File;
    const RowConverter conv(l);
    const IconMask mask(src, l);
    Target out(QSize(l.width, l.height), target, alpha, false);
    if (!out.valid()) {
        setError(error, QStringLiteral("not enough memory for the picture"));
        return {};
    }
    std::vector<quint32> scratch(out.direct() ? 0 : std::size_t(std::min(l.width, kChunk)));
    PixelBytes in = src.from(l.bitsOffset);
    int row = 0;
    for (const uchar *s; row < rowsStored && (s = in.take(l.stride)); ++row) {
        const int y = l.topDown ? row : l.height - 1 - row;
        const uchar *m = mask.row(row);
        if (out.direct()) {
            quint32 *line = out.line(y);
            conv.convert(s, line, 0, l.width);
            if (m)
                applyMask(line, m, 0, l.width);
            continue;
        }
        if (l.bpp == 24 && !m) {
            out.reducer().addRowBgr(y, s);
            continue;
        }
        for (int x0 = 0; x0 < l.width; x0 += kChunk) {
            const int n = std::min(kChunk, l.width - x0);
            conv.convert(s, scratch.data(), x0, n);
            if (m)
                applyMask(scratch.data(), m, x0, n);
            out.reducer().addRow(y, scratch.data(), x0, n);
        }
    }
    if (in.failed()) {
        setError(error, QStringLiteral("the file could not be read to its end"));
        return {};
    }
    // Rows the DIB does not hold: added to a reduction they would change nothing.
    for (; out.direct() && row < l.height; ++row) {
        quint32 *line = out.line(l.topDown ? row : l.height - 1 - row);
        std::fill(line, line + l.width, alpha ? 0u : kOpaqueBlack);
    }
    return out.result();
}

// Pixels of run-length data arrive left to right within a row and rows only ever move
// up, so a reduced decode needs no more than a short stretch of one row at a time.
class RunWriter {
public:
    RunWriter(Target &out, const DibLayout &l) : out_(out), w_(l.width), h_(l.height)
    {
        if (!out_.direct())
            window_.assign(std::size_t(std::min<qint64>(w_, kChunk)), 0);
    }
    ~RunWriter() { flush(); }

    // x from the left, y from the bottom row.
    void put(qint64 x, qint64 y, quint32 v)
    {
        if (x >= w_ || y >= h_)
            return;
        if (out_.direct()) {
            out_.line(int(h_ - 1 - y))[x] = v;
            return;
        }
        if (y != rowY_ || x >= start_ + qint64(window_.size())) {
            flush();
            rowY_ = y;
            start_ = end_ = x;
        }
        window_[std::size_t(x - start_)] = v;
        end_ = std::max(end_, x + 1);
    }
    // `count` pixels from x alternating `even` and `odd` (a coded run: RLE4 alternates
    // two colours); into a reduction they go without being spelt out.
    void run(qint64 x, qint64 y, qint64 count, quint32 even, quint32 odd)
    {
        count = std::min(count, w_ - x);
        if (count <= 0 || y >= h_)
            return;
        if (!out_.direct()) {
            out_.reducer().addRun(int(h_ - 1 - y), int(x), int(count), even, odd);
            return;
        }
        quint32 *line = out_.line(int(h_ - 1 - y)) + x;
        for (qint64 i = 0; i < count; ++i)
            line[i] = i % 2 ? odd : even;
    }
    void flush()
    {
        if (end_ <= start_)
            return;
        out_.reducer().addRow(int(h_ - 1 - rowY_), window_.data(), int(start_), int(end_ - start_));
        std::fill(window_.begin(), window_.begin() + (end_ - start_), 0u);
        end_ = start_;
    }

private:
    Target &out_;
    qint64 w_, h_;
    std::vector<quint32> window_;
    qint64 rowY_ = -1, start_ = 0, end_ = 0;
};

// Run-length data, decoded as it is read into the picture or its reduction; pixels it
// skips stay transparent. The work follows the bytes of the data, not the size it claims.
void runLengths(PixelBytes &in, const DibLayout &l, RunWriter &writer)
{
    const bool rle8 = l.compression == 1;
    qint64 x = 0, y = 0;  // y counts rows from the bottom
    while (y < l.height) {
        const uchar *op = in.take(2);
        if (!op)
            return;
        const int n = op[0], c = op[1];
        if (n > 0) {
            const quint32 even = l.palette[rle8 ? c : c >> 4], odd = l.palette[rle8 ? c : c & 15];
            writer.run(x, y, n, even, odd);
            x = std::min<qint64>(x + n, std::max<qint64>(x, l.width));
        } else if (c == 0) {
            x = 0;
            ++y;
        } else if (c == 1) {
            return;
        } else if (c == 2) {
            const uchar *d = in.take(2);
            if (!d)
                return;
            x += d[0];
            y += d[1];
        } else {
            // An absolute run, padded to a whole number of 16-bit words; a run cut
            // short by the end of the data shows what is there.
            const std::size_t bytes = rle8 ? std::size_t(c) : std::size_t(c + 1) / 2;
            std::size_t got = 0;
            const uchar *a = in.take((bytes + 1) & ~std::size_t(1), &got);
            for (int i = 0; i < c; ++i, ++x) {
                const std::size_t at = rle8 ? std::size_t(i) : std::size_t(i / 2);
                if (!a || at >= got)
                    break;
                writer.put(x, y, l.palette[rle8 ? a[at] : (i % 2 == 0 ? a[at] >> 4 : a[at] & 15)]);
            }
        }
    }
}

QImage decodeRle(const DibSource &src, const DibLayout &l, QSize target, QString *error)
{
    Target out(QSize(l.width, l.height), target, true, true);
    if (!out.valid()) {
        setError(error, QStringLiteral("not enough memory for the picture"));
        return {};
    }
    PixelBytes in = src.from(l.bitsOffset);
    {
        RunWriter writer(out, l);
        runLengths(in, l, writer);
    }
    if (in.failed()) {
        setError(error, QStringLiteral("the file could not be read to its end"));
        return {};
    }
    return out.result();
}

QImage decode(const DibSource &src, const DibLayout &layout, QSize target, QString *error)
{
    if (target.isEmpty())
        target = QSize(layout.width, layout.height);
    if (!withinBudget(QSize(layout.width, layout.height), error))
        return {};
    if (layout.runLength())
        return decodeRle(src, layout, target, error);
    return decodeRows(src, layout, target, error);
}

}  // namespace

bool dibPlausible(const DibLayout &l, qint64 available, QString *error)
{
    if (decodedBytes(QSize(l.width, l.height)) <= kTrustedBytes)
        return true;
    const qint64 data = available - qint64(l.bitsOffset);
    bool enough;
    if (l.runLength()) {
        // The shortest coding of a row is a run of 255 pixels per two bytes and an end of line.
        const qint64 shortest = mulSat(l.height, 2 * ((qint64(l.width) + 254) / 255) + 2);
        enough = data > 0 && mulSat(data, 2) >= shortest;
    } else {
        const qint64 rows = data > 0 && l.stride ? data / qint64(l.stride) : 0;
        enough = rows * 2 >= l.height;
    }
    if (!enough)
        setError(error, QStringLiteral("file is far shorter than its header claims"));
    return enough;
}

QImage decodeDib(const uchar *data, std::size_t size, const DibLayout &layout, QSize target, QString *error)
{
    DibSource src;
    src.data = data;
    src.size = size;
    return decode(src, layout, target, error);
}

QImage decodeBmpFile(int fd, qint64 fileSize, const DibLayout &layout, QSize target, QString *error)
{
    DibSource src;
    src.fd = fd;
    src.fileSize = fileSize;
    return decode(src, layout, target, error);
}

}  // namespace pel::picture::detail
