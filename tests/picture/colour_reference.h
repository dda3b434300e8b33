#pragma once
// What the colour tests measure the loader against: pictures converted by Little CMS
// itself, here in the test, and the profiles Debian installs (icc-profiles-free,
// colord-data, libgs-common), read where they are installed.
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QString>

#include <cmath>
#include <lcms2.h>
#include <memory>

namespace pel::test {

inline const QString kColordAdobe = QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc");
inline const QString kColordProPhoto = QStringLiteral("/usr/share/color/icc/colord/ProPhotoRGB.icc");
inline const QString kColordSrgb = QStringLiteral("/usr/share/color/icc/colord/sRGB.icc");
inline const QString kColordApple = QStringLiteral("/usr/share/color/icc/colord/AppleRGB.icc");
inline const QString kFreeAdobe = QStringLiteral("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
inline const QString kFreeSrgb = QStringLiteral("/usr/share/color/icc/sRGB.icc");
inline const QString kFreeGray = QStringLiteral("/usr/share/color/icc/Gray.icc");
inline const QString kPressCmyk = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");

inline QByteArray readProfile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct ProfileCloser {
    void operator()(void *p) const
    {
        if (p)
            cmsCloseProfile(p);
    }
};
using LcmsProfile = std::unique_ptr<void, ProfileCloser>;

inline LcmsProfile lcmsProfile(const QByteArray &icc)
{
    return LcmsProfile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
}

inline QByteArray lcmsBytes(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    return bytes;
}

// Display P3 built here from its published numbers (P3 primaries, D65, sRGB's curve).
inline QByteArray displayP3Icc()
{
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    const cmsFloat64Number srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
    cmsToneCurve *curves[3] = {curve, curve, curve};
    const LcmsProfile p(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return lcmsBytes(p.get());
}

// Converts the 32-bit pixels of `in` (read as `inFormat`) into a new RGB32 picture.
inline QImage lcmsConvert(const QImage &in, cmsHPROFILE from, cmsUInt32Number inFormat, cmsHPROFILE to,
                          cmsUInt32Number intent = INTENT_RELATIVE_COLORIMETRIC,
                          cmsUInt32Number flags = cmsFLAGS_BLACKPOINTCOMPENSATION)
{
    QImage out(in.size(), QImage::Format_RGB32);
    out.fill(Qt::black);
    cmsHTRANSFORM t = cmsCreateTransform(from, inFormat, to, TYPE_BGRA_8, intent, flags);
    if (!t)
        return {};
    for (int y = 0; y < in.height(); ++y)
        cmsDoTransform(t, in.constScanLine(y), out.scanLine(y), cmsUInt32Number(in.width()));
    cmsDeleteTransform(t);
    return out;
}

// sRGB pixels into the space of `to` as 32-bit pixels of `outFormat` (RGB, or CMYK bytes).
inline QImage lcmsEncode(const QImage &srgbPicture, cmsHPROFILE to, cmsUInt32Number outFormat = TYPE_BGRA_8)
{
    const LcmsProfile srgb(cmsCreate_sRGBProfile());
    QImage out(srgbPicture.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    cmsHTRANSFORM t = cmsCreateTransform(srgb.get(), TYPE_BGRA_8, to, outFormat, INTENT_RELATIVE_COLORIMETRIC, 0);
    if (!t)
        return {};
    for (int y = 0; y < out.height(); ++y)
        cmsDoTransform(t, srgbPicture.constScanLine(y), out.scanLine(y), cmsUInt32Number(out.width()));
    cmsDeleteTransform(t);
    return out;
}

// A test pattern: every hue across, saturation and value down, and grey ramps.
inline QImage referencePicture(int width = 96, int height = 64)
{
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double across = double(x) / width, down = double(y % 32) / 31.0;
            const QColor c = y >= height - 4 ? QColor::fromRgbF(float(across), float(across), float(across))
                                             : QColor::fromHsvF(float(across), float(0.15 + 0.85 * down), y < height / 2 ? 1.0f : 0.55f);
            img.setPixel(x, y, c.rgb());
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
            const int d[3] = {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)};
            for (int v : d)
                sum += double(v) * v;
        }
    return 100.0 * std::sqrt(sum / (3.0 * a.width() * a.height())) / 255.0;
}

}  // namespace pel::test
