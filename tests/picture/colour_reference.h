#pragma once
// What the colour tests measure against: Little CMS's own conversions, made here in the
// test, the profiles Debian installs (icc-profiles-free, colord-data, libgs-common) read
// where they are, and file pieces (BMP headers, PNG chunks) made byte by byte.
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>

#include <cmath>
#include <lcms2.h>
#include <memory>
#include <zlib.h>

namespace pel::test {

// A profile under /usr/share/color/icc (empty when not installed); "p3" is Display P3
// built here from its published numbers (P3 primaries, D65, sRGB's curve).
inline QByteArray profileNamed(const QString &name)
{
    if (name == QLatin1String("p3")) {
        const cmsCIExyY white = {0.3127, 0.3290, 1.0};
        const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
        const cmsFloat64Number srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
        cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
        cmsToneCurve *curves[3] = {curve, curve, curve};
        cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
        cmsUInt32Number size = 0;
        cmsSaveProfileToMem(p, nullptr, &size);
        QByteArray bytes(qsizetype(size), '\0');
        cmsSaveProfileToMem(p, bytes.data(), &size);
        cmsCloseProfile(p);
        cmsFreeToneCurve(curve);
        return bytes;
    }
    QFile f(QStringLiteral("/usr/share/color/icc/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

using LcmsProfile = std::unique_ptr<void, decltype(&cmsCloseProfile)>;
inline LcmsProfile lcmsProfile(const QByteArray &icc)
{
    return LcmsProfile(icc.isEmpty() ? cmsCreate_sRGBProfile() : cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())),
                       &cmsCloseProfile);
}

// A grey value read from the first byte of a 32-bit pixel, the other three skipped.
inline constexpr cmsUInt32Number kGrayInBgra = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);

// The 32-bit pixels of `in`, read as `inFormat` in `from`, converted by lcms to `to` as
// `outFormat`, relative colorimetric with black-point compensation.
inline QImage lcmsConvert(const QImage &in, const LcmsProfile &from, cmsUInt32Number inFormat, const LcmsProfile &to,
                          cmsUInt32Number outFormat = TYPE_BGRA_8)
{
    QImage out(in.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    cmsHTRANSFORM t = cmsCreateTransform(from.get(), inFormat, to.get(), outFormat, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_BLACKPOINTCOMPENSATION);
    for (int y = 0; t && y < in.height(); ++y)
        cmsDoTransform(t, in.constScanLine(y), out.scanLine(y), cmsUInt32Number(in.width()));
    if (t)
        cmsDeleteTransform(t);
    return t ? out : QImage();
}

// A test pattern: every hue across, saturation and value down, and grey ramps.
inline QImage referencePicture(int width = 96, int height = 64)
{
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float across = float(x) / width, down = float(y % 32) / 31;
            img.setPixel(x, y, (y >= height - 4 ? QColor::fromRgbF(across, across, across)
                                                : QColor::fromHsvF(across, 0.15f + 0.85f * down, y < height / 2 ? 1.0f : 0.55f)).rgb());
        }
    return img;
}

// Root mean square of the colour channels' differences, in percent of full scale.
inline double rmsPercent(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 100.0;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                sum += double(d) * d;
        }
    return 100.0 * std::sqrt(sum / (3.0 * a.width() * a.height())) / 255.0;
}

// --- File pieces -----------------------------------------------------------------------

inline QByteArray bytesOf(quint32 v, int count, bool bigEndian)
{
    QByteArray b(count, '\0');
    for (int i = 0; i < count; ++i)
        b[bigEndian ? count - 1 - i : i] = char(v >> (8 * i));
    return b;
}
inline QByteArray be32(quint32 v) { return bytesOf(v, 4, true); }
inline QByteArray le32(quint32 v) { return bytesOf(v, 4, false); }

// A BMP info header of `size` bytes (40, 108, 124) with these colour fields.
inline QByteArray bmpHeader(quint32 size, quint32 csType, const qint32 endpoints[9], quint32 gamma,
                            quint32 profileOffset = 0, quint32 profileSize = 0)
{
    QByteArray h = (le32(size) + le32(4) + le32(4) + bytesOf(1, 2, false) + bytesOf(32, 2, false) + le32(3)).leftJustified(56, '\0');
    h += le32(csType);
    for (int i = 0; i < 9; ++i)
        h += le32(quint32(endpoints ? endpoints[i] : 0));
    h += le32(gamma) + le32(gamma) + le32(gamma) + le32(4) + le32(profileOffset) + le32(profileSize) + le32(0);
    return h.left(int(size));
}

inline QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    const QByteArray body = type + data;
    return be32(quint32(data.size())) + body + be32(quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))));
}

// A 1 x 1 PNG with `before` ahead of its picture data and `after` behind it.
inline QByteArray png(const QByteArray &before, const QByteArray &after = {})
{
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", be32(1) + be32(1) + QByteArray("\x08\x02\x00\x00\x00", 5)) + before
           + pngChunk("IDAT", qCompress(QByteArray(4, '\0')).mid(4)) + after + pngChunk("IEND", {});
}

// Adobe RGB's white and primaries as a PNG's cHRM gives them.
inline QByteArray adobeChrm()
{
    QByteArray c;
    for (quint32 v : {31270u, 32900u, 64000u, 33000u, 21000u, 71000u, 15000u, 6000u})
        c += be32(v);
    return pngChunk("cHRM", c);
}

}  // namespace pel::test
