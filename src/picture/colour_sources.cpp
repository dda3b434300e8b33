#include "picture/colour_sources.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace pel::picture::colour {
namespace {

quint32 be32(const uchar *p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }
quint32 le32(const uchar *p) { return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]; }

const uchar *bytesOf(QByteArrayView v) { return reinterpret_cast<const uchar *>(v.data()); }

// --- EXIF (TIFF structure) -------------------------------------------------------------

class Tiff {
public:
    explicit Tiff(QByteArrayView data) : p_(bytesOf(data)), size_(std::size_t(data.size()))
    {
        ok_ = size_ >= 8 && ((p_[0] == 'I' && p_[1] == 'I') || (p_[0] == 'M' && p_[1] == 'M'));
        little_ = ok_ && p_[0] == 'I';
    }
    bool ok() const { return ok_ && u16(2) == 42; }
    quint32 firstIfd() const { return u32(4); }

    // The value field's place of tag `tag` in the IFD at `ifd` (its count in *count),
    // or 0 when absent.
    std::size_t find(quint32 ifd, quint16 tag, quint32 *count = nullptr) const
    {
        if (ifd < 8 || ifd > size_ - 2)
            return 0;
        const quint32 entries = u16(ifd);
        for (quint32 i = 0; i < entries; ++i) {
            const std::size_t at = std::size_t(ifd) + 2 + 12 * std::size_t(i);
            if (at + 12 > size_)
                return 0;
            if (u16(at) == tag) {
                if (count)
                    *count = u32(at + 4);
                return at + 8;
            }
        }
        return 0;
    }
    quint32 u16(std::size_t at) const
    {
        if (at + 2 > size_)
            return 0;
        return little_ ? quint32(p_[at]) | quint32(p_[at + 1]) << 8 : quint32(p_[at]) << 8 | p_[at + 1];
    }
    quint32 u32(std::size_t at) const
    {
        if (at + 4 > size_)
            return 0;
        return little_ ? le32(p_ + at) : be32(p_ + at);
    }
    // A short ASCII value held in the entry itself (four bytes at most).
    QByteArray inlineText(std::size_t at, quint32 count) const
    {
        if (at + 4 > size_ || count == 0 || count > 4)
            return {};
        const auto *text = reinterpret_cast<const char *>(p_ + at);
        return QByteArray(text, qsizetype(::strnlen(text, count)));
    }

private:
    const uchar *p_;
    std::size_t size_;
    bool ok_ = false;
    bool little_ = false;
};

// --- BMP -------------------------------------------------------------------------------

constexpr quint32 kCalibratedRgb = 0;
constexpr quint32 kLcsSrgb = 0x73524742;      // 'sRGB'
constexpr quint32 kLcsWindows = 0x57696E20;   // 'Win '
constexpr quint32 kProfileLinked = 0x4C494E4B;    // 'LINK'
constexpr quint32 kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr std::size_t kV4Size = 108, kV5Size = 124;

// End points no display has (zeros, as many writers leave them, or beyond the range of
// real primaries) mean the writer did not calibrate anything.
bool plausibleEndpoints(const double xyz[9], const double gamma[3])
{
    double luminance = 0;
    for (int c = 0; c < 3; ++c) {
        const double *p = xyz + 3 * c;
        if (!(p[1] > 0) || !(gamma[c] >= 0.2 && gamma[c] <= 5.0))
            return false;
        for (int i = 0; i < 3; ++i)
            if (!(p[i] >= 0 && p[i] <= 2))
                return false;
        luminance += p[1];
    }
    return luminance >= 0.5 && luminance <= 1.5;
}

// Writers that describe sRGB in a calibrated header (ImageMagick; bmpsuite's samples)
// store each primary's chromaticities x, y, 1 - x - y where the header asks for CIE XYZ,
// and the encoding exponent 1/2.2. Those are read as chromaticities, white being D65.
bool areChromaticities(const double xyz[9])
{
    for (int c = 0; c < 3; ++c) {
        const double *p = xyz + 3 * c;
        if (!(p[0] > 0 && p[1] > 0 && p[2] >= 0) || std::abs(p[0] + p[1] + p[2] - 1.0) > 0.005)
            return false;
    }
    return true;
}

SourceProfile fromBmpChromaticities(const double xyz[9], double gamma)
{
    static constexpr double kSrgb[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    const double xy[8] = {kSrgb[0], kSrgb[1], xyz[0], xyz[1], xyz[3], xyz[4], xyz[6], xyz[7]};
    bool srgb = std::abs(gamma - 2.2) < 0.02;
    for (int i = 2; i < 8; ++i)
        srgb = srgb && std::abs(xy[i] - kSrgb[i]) < 0.005;
    return srgb ? SourceProfile() : SourceProfile::fromChromaticities(xy, gamma);
}

// --- PNG -------------------------------------------------------------------------------

// Inflates a zlib stream, giving up past kMaxProfileBytes of output.
QByteArray inflateCapped(QByteArrayView compressed)
{
    z_stream z = {};
    if (inflateInit(&z) != Z_OK)
        return {};
    QByteArray out;
    std::array<char, 64 * 1024> chunk;
    z.next_in = const_cast<Bytef *>(bytesOf(compressed));
    z.avail_in = uInt(compressed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(chunk.data());
        z.avail_out = uInt(chunk.size());
        status = inflate(&z, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(chunk.size() - z.avail_out);
        if (out.size() + produced > kMaxProfileBytes) {
            status = Z_MEM_ERROR;
            break;
        }
        out.append(chunk.data(), produced);
        if (status == Z_BUF_ERROR && z.avail_in == 0)
            break;  // the stream is cut short
    }
    inflateEnd(&z);
    return status == Z_STREAM_END ? out : QByteArray();
}

struct PngChunks {
    QByteArray icc;
    bool srgb = false;
    bool hasChrm = false;
    double chrm[8] = {};
    double fileGamma = 0;  // gAMA / 100000; 0 when absent
};

void readPngChunk(const char type[4], const uchar *data, quint32 length, PngChunks *out)
{
    if (std::memcmp(type, "iCCP", 4) == 0 && out->icc.isEmpty()) {
        // Name (1-79 bytes), a zero, the compression method (0), then the zlib stream.
        const auto *end = static_cast<const uchar *>(std::memchr(data, 0, std::min<quint32>(length, 80)));
        if (end && end > data && std::size_t(end - data) + 2 <= length && end[1] == 0) {
            const std::size_t skip = std::size_t(end - data) + 2;
            out->icc = inflateCapped(QByteArrayView(reinterpret_cast<const char *>(data + skip), qsizetype(length - skip)));
        }
    } else if (std::memcmp(type, "sRGB", 4) == 0 && length == 1) {
        out->srgb = true;
    } else if (std::memcmp(type, "gAMA", 4) == 0 && length == 4) {
        out->fileGamma = be32(data) / 100000.0;
    } else if (std::memcmp(type, "cHRM", 4) == 0 && length == 32) {
        out->hasChrm = true;
        for (int i = 0; i < 8; ++i)
            out->chrm[i] = be32(data + 4 * i) / 100000.0;
    }
}

}  // namespace

// --- JPEG ------------------------------------------------------------------------------

QByteArray iccFromApp2(const QList<QByteArrayView> &payloads)
{
    static constexpr char kTag[] = "ICC_PROFILE";  // with its terminating zero: 12 bytes
    constexpr qsizetype kHead = sizeof kTag + 2;   // the tag, then the chunk's number and the count
    int count = 0;
    std::vector<QByteArrayView> chunks;
    qint64 total = 0;
    for (QByteArrayView p : payloads) {
        if (p.size() < kHead || std::memcmp(p.data(), kTag, sizeof kTag) != 0)
            continue;
        const int number = uchar(p[sizeof kTag]), of = uchar(p[sizeof kTag + 1]);
        if (count == 0) {
            count = of;
            chunks.resize(std::size_t(count));
        }
        if (of != count || number < 1 || number > count || !chunks[std::size_t(number - 1)].isNull())
            return {};
        chunks[std::size_t(number - 1)] = p.sliced(kHead);
        total += chunks[std::size_t(number - 1)].size();
        if (total > kMaxProfileBytes)
            return {};
    }
    QByteArray icc;
    icc.reserve(qsizetype(total));
    for (QByteArrayView chunk : chunks) {
        if (chunk.isNull())
            return {};  // a gap
        icc.append(chunk);
    }
    return icc;
}

ExifColour exifColour(QByteArrayView app1)
{
    ExifColour result;
    if (app1.size() < 14 || std::memcmp(app1.data(), "Exif\0\0", 6) != 0)
        return result;
    const Tiff tiff(app1.sliced(6));
    if (!tiff.ok())
        return result;
    const std::size_t exifPointer = tiff.find(tiff.firstIfd(), 0x8769);
    if (!exifPointer)
        return result;
    const quint32 exifIfd = tiff.u32(exifPointer);
    if (const std::size_t at = tiff.find(exifIfd, 0xA001))
        result.colorSpace = int(tiff.u16(at));
    if (const std::size_t interopPointer = tiff.find(exifIfd, 0xA005)) {
        quint32 count = 0;
        if (const std::size_t at = tiff.find(tiff.u32(interopPointer), 0x0001, &count))
            result.interopIndex = tiff.inlineText(at, count);
    }
    return result;
}

SourceProfile jpegSource(const QList<QByteArrayView> &app2, QByteArrayView exifApp1)
{
    const QByteArray icc = iccFromApp2(app2);
    if (!icc.isEmpty())
        return SourceProfile::fromIcc(icc);
    if (exifColour(exifApp1).adobeRgb())
        return SourceProfile::builtin(Builtin::AdobeRgb);
    return {};
}

// --- BMP -------------------------------------------------------------------------------

BmpColourSpace bmpColourSpace(const uchar *header, std::size_t size)
{
    BmpColourSpace result;
    if (size < kV4Size)
        return result;
    const quint32 headerSize = le32(header);
    if (headerSize < kV4Size)
        return result;
    switch (le32(header + 56)) {
    case kCalibratedRgb: {
        double xyz[9], gamma[3];
        for (int i = 0; i < 9; ++i)
            xyz[i] = double(qint32(le32(header + 60 + 4 * i))) / double(1 << 30);  // FXPT2DOT30
        for (int c = 0; c < 3; ++c) {
            gamma[c] = le32(header + 96 + 4 * c) / 65536.0;  // 16.16
            if (gamma[c] > 0 && gamma[c] < 1)
                gamma[c] = 1 / gamma[c];  // the encoding exponent, as PNG's gAMA gives it
        }
        if (areChromaticities(xyz)) {
            if (gamma[0] == gamma[1] && gamma[1] == gamma[2] && gamma[1] >= 1 && gamma[1] <= 5)
                result.profile = fromBmpChromaticities(xyz, gamma[1]);
        } else if (plausibleEndpoints(xyz, gamma))
            result.profile = SourceProfile::fromEndpoints(xyz, gamma);
        break;
    }
    case kProfileEmbedded:
        if (headerSize >= kV5Size && size >= kV5Size) {
            const quint32 offset = le32(header + 112), length = le32(header + 116);
            if (offset >= headerSize && length > 0 && length <= quint32(kMaxProfileBytes)) {
                result.profileOffset = offset;
                result.profileSize = length;
            }
        }
        break;
    case kLcsSrgb:
    case kLcsWindows:
    case kProfileLinked:  // a path on the writer's machine: never followed
    default:
        break;
    }
    return result;
}

// --- PNG -------------------------------------------------------------------------------

SourceProfile pngSource(QByteArrayView png)
{
    static constexpr uchar kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const uchar *p = bytesOf(png);
    const std::size_t size = std::size_t(png.size());
    if (size < 8 || std::memcmp(p, kSignature, 8) != 0)
        return {};
    PngChunks chunks;
    for (std::size_t at = 8; at + 8 <= size;) {
        const quint32 length = be32(p + at);
        const char *type = reinterpret_cast<const char *>(p + at + 4);
        if (length > size - at - 8 || std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0)
            break;
        readPngChunk(type, p + at + 8, length, &chunks);
        at += 12 + std::size_t(length);  // length, type, data, CRC
    }
    if (!chunks.icc.isEmpty())
        return SourceProfile::fromIcc(chunks.icc);
    if (chunks.srgb)
        return {};
    const double gamma = chunks.fileGamma > 0 ? 1.0 / chunks.fileGamma : 0.0;
    if (chunks.hasChrm)
        return SourceProfile::fromChromaticities(chunks.chrm, gamma);
    // 1/2.2 alone is what writers put for sRGB; other exponents keep sRGB's primaries.
    if (gamma > 0 && std::abs(gamma - 2.2) > 0.02 && gamma < 10) {
        static constexpr double kSrgbPrimaries[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
        return SourceProfile::fromChromaticities(kSrgbPrimaries, gamma);
    }
    return {};
}

}  // namespace pel::picture::colour
