#include "picture/colour_lcms.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <lcms2_plugin.h>

namespace pel::picture::colour::detail {
namespace {

// --- Allocations ---------------------------------------------------------------------

struct Budget {
    bool on = false;
    bool exceeded = false;
    std::size_t used = 0;
    std::size_t limit = 0;
};
thread_local Budget t_budget;

// Each block keeps its size in front of it, for realloc; 16 bytes keep the alignment.
constexpr std::size_t kHead = 16;

void *budgetMalloc(cmsContext, cmsUInt32Number size)
{
    Budget &b = t_budget;
    if (b.on) {
        if (size > b.limit - b.used) {
            b.exceeded = true;
            return nullptr;
        }
        b.used += size;
    }
    auto *block = static_cast<unsigned char *>(std::malloc(std::size_t(size) + kHead));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    return block + kHead;
}

void budgetFree(cmsContext, void *ptr)
{
    if (ptr)
        std::free(static_cast<unsigned char *>(ptr) - kHead);
}

void *budgetRealloc(cmsContext context, void *ptr, cmsUInt32Number size)
{
    void *fresh = budgetMalloc(context, size);
    if (!fresh || !ptr)
        return fresh;
    cmsUInt32Number old = 0;
    std::memcpy(&old, static_cast<unsigned char *>(ptr) - kHead, sizeof old);
    std::memcpy(fresh, ptr, std::min(old, size));
    budgetFree(context, ptr);
    return fresh;
}

// --- Messages ------------------------------------------------------------------------

thread_local QString t_message;

void recordMessage(cmsContext, cmsUInt32Number, const char *text)
{
    t_message = QString::fromUtf8(text ? text : "");
}

// --- Reading -------------------------------------------------------------------------

quint32 be32(const uchar *p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }

constexpr std::size_t kIccHeader = 128;
constexpr quint32 kMaxTags = 100;  // as many as lcms itself reads

// What lcms is spared: sizes and offsets it would have to distrust tag by tag.
bool plausibleIcc(const QByteArray &bytes, QString *why)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    if (bytes.size() > kMaxProfileBytes) {
        *why = QStringLiteral("profile larger than %1 bytes").arg(kMaxProfileBytes);
        return false;
    }
    if (size < kIccHeader + 4 || std::memcmp(p + 36, "acsp", 4) != 0) {
        *why = QStringLiteral("not an ICC profile");
        return false;
    }
    const std::size_t declared = be32(p);
    if (declared < kIccHeader + 4 || declared > size) {
        *why = QStringLiteral("profile declares %1 bytes, holds %2").arg(declared).arg(size);
        return false;
    }
    const quint32 tags = be32(p + kIccHeader);
    if (tags > kMaxTags || kIccHeader + 4 + std::size_t(tags) * 12 > declared) {
        *why = QStringLiteral("profile's tag table (%1 tags) does not fit").arg(tags);
        return false;
    }
    for (quint32 i = 0; i < tags; ++i) {
        const uchar *entry = p + kIccHeader + 4 + 12 * i;
        const std::size_t offset = be32(entry + 4), length = be32(entry + 8);
        if (offset > declared || length > declared - offset) {
            *why = QStringLiteral("profile's tag %1 lies outside it").arg(i);
            return false;
        }
    }
    return true;
}

bool usableClass(cmsProfileClassSignature c)
{
    return c == cmsSigInputClass || c == cmsSigDisplayClass || c == cmsSigOutputClass
           || c == cmsSigColorSpaceClass;
}

// --- Building ------------------------------------------------------------------------

struct CurveFreer {
    void operator()(cmsToneCurve *curve) const { cmsFreeToneCurve(curve); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFreer>;

// The sRGB transfer curve in lcms's parametric form 4 (IEC 61966-2-1's constants).
Curve srgbCurve()
{
    const cmsFloat64Number p[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    return Curve(cmsBuildParametricToneCurve(context(), 4, p));
}

Curve gammaCurve(double gamma) { return Curve(gamma > 0 ? cmsBuildGamma(context(), gamma) : srgbCurve().release()); }

// An RGB profile from the chromaticities of white and the primaries, one curve for all three.
Profile fromPrimaries(const double xy[8], Curve curve)
{
    if (!curve)
        return nullptr;
    const cmsCIExyY white = {xy[0], xy[1], 1.0};
    const cmsCIExyYTRIPLE primaries = {{xy[2], xy[3], 1.0}, {xy[4], xy[5], 1.0}, {xy[6], xy[7], 1.0}};
    cmsToneCurve *curves[3] = {curve.get(), curve.get(), curve.get()};
    return Profile(cmsCreateRGBProfileTHR(context(), &white, &primaries, curves));
}

// A matrix/curves profile whose colourants are the given XYZ end points, as a BMP's
// calibrated header states them.
Profile fromEndpoints(const double xyz[9], const double gamma[3])
{
    Profile profile(cmsCreateProfilePlaceholder(context()));
    if (!profile)
        return nullptr;
    cmsHPROFILE h = profile.get();
    cmsSetProfileVersion(h, 4.3);
    cmsSetDeviceClass(h, cmsSigDisplayClass);
    cmsSetColorSpace(h, cmsSigRgbData);
    cmsSetPCS(h, cmsSigXYZData);
    bool ok = cmsWriteTag(h, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    const cmsTagSignature colourants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int c = 0; c < 3 && ok; ++c) {
        const cmsCIEXYZ point = {xyz[3 * c], xyz[3 * c + 1], xyz[3 * c + 2]};
        const Curve curve(cmsBuildGamma(context(), gamma[c]));
        ok = curve && cmsWriteTag(h, colourants[c], &point) && cmsWriteTag(h, curves[c], curve.get());
    }
    return ok ? std::move(profile) : nullptr;
}

// CMYK to sRGB from the plain colours of the inks: each ink takes its share of one
// channel, and black of all three (red = (1 - C)(1 - K), ...), as viewers without colour
// management show CMYK. lcms interpolates four inputs partly by tetrahedra, which would
// make that product a minimum between the corners: the grid has 9 points a side.
// Used only where no press profile is installed.
Profile inkCornerLink()
{
    constexpr int kPoints = 9;
    std::vector<cmsUInt16Number> table(std::size_t(kPoints * kPoints * kPoints * kPoints * 3));
    std::size_t at = 0;
    for (int c = 0; c < kPoints; ++c)  // the first input (C) varies slowest
        for (int m = 0; m < kPoints; ++m)
            for (int y = 0; y < kPoints; ++y)
                for (int k = 0; k < kPoints; ++k) {
                    const double paper = 1.0 - double(k) / (kPoints - 1);
                    for (int ink : {c, m, y})
                        table[at++] = cmsUInt16Number(std::lround(65535.0 * (1.0 - double(ink) / (kPoints - 1)) * paper));
                }
    cmsPipeline *lut = cmsPipelineAlloc(context(), 4, 3);
    cmsStage *clut = lut ? cmsStageAllocCLut16bit(context(), kPoints, 4, 3, table.data()) : nullptr;
    Profile profile(lut && clut ? cmsCreateProfilePlaceholder(context()) : nullptr);
    bool ok = profile && cmsPipelineInsertStage(lut, cmsAT_BEGIN, clut);
    if (!ok && clut)
        cmsStageFree(clut);
    if (ok) {
        cmsHPROFILE h = profile.get();
        cmsSetProfileVersion(h, 4.3);
        cmsSetDeviceClass(h, cmsSigLinkClass);
        cmsSetColorSpace(h, cmsSigCmykData);
        cmsSetPCS(h, cmsSigRgbData);
        ok = cmsWriteTag(h, cmsSigAToB0Tag, lut);
    }
    if (lut)
        cmsPipelineFree(lut);
    return ok ? std::move(profile) : nullptr;
}

}  // namespace

cmsContext context()
{
    static const cmsContext made = [] {
        static cmsPluginMemHandler memory = {};
        memory.base.Magic = cmsPluginMagicNumber;
        memory.base.ExpectedVersion = 2060;  // the first version with memory plug-ins per context
        memory.base.Type = cmsPluginMemHandlerSig;
        memory.MallocPtr = budgetMalloc;
        memory.FreePtr = budgetFree;
        memory.ReallocPtr = budgetRealloc;
        cmsContext c = cmsCreateContext(&memory, nullptr);
        cmsSetLogErrorHandlerTHR(c, recordMessage);
        return c;
    }();
    return made;
}

WorkBudget::WorkBudget(std::size_t limit)
    : savedLimit_(t_budget.limit), savedUsed_(t_budget.used), savedOn_(t_budget.on), savedExceeded_(t_budget.exceeded)
{
    t_budget = Budget{true, false, 0, limit};
}

WorkBudget::~WorkBudget() { t_budget = Budget{savedOn_, savedExceeded_, savedUsed_, savedLimit_}; }

bool WorkBudget::exceeded() const { return t_budget.exceeded; }
std::size_t WorkBudget::used() const { return t_budget.used; }

QString takeLcmsMessage()
{
    QString m;
    m.swap(t_message);
    return m;
}

Profile openIcc(const QByteArray &bytes, QString *why)
{
    if (!plausibleIcc(bytes, why))
        return nullptr;
    Profile profile(cmsOpenProfileFromMemTHR(context(), bytes.constData(), cmsUInt32Number(bytes.size())));
    if (!profile) {
        *why = QStringLiteral("lcms refused the profile: %1").arg(takeLcmsMessage());
        return nullptr;
    }
    if (!usableClass(cmsGetDeviceClass(profile.get()))) {
        *why = QStringLiteral("not a device profile");
        return nullptr;
    }
    const cmsColorSpaceSignature pcs = cmsGetPCS(profile.get());
    if (pcs != cmsSigXYZData && pcs != cmsSigLabData) {
        *why = QStringLiteral("profile's connection space is neither XYZ nor Lab");
        return nullptr;
    }
    return profile;
}

Profile makeBuiltin(Builtin space)
{
    // White, red, green, blue as xy chromaticities.
    static constexpr double adobe[8] = {0.3127, 0.3290, 0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
    static constexpr double romm[8] = {0.3457, 0.3585, 0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001};
    static constexpr double p3[8] = {0.3127, 0.3290, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
    switch (space) {
    case Builtin::Srgb:
        return Profile(cmsCreate_sRGBProfileTHR(context()));
    case Builtin::AdobeRgb:
        return fromPrimaries(adobe, gammaCurve(563.0 / 256.0));
    case Builtin::ProPhoto: {
        // ROMM RGB: 1.8, and a straight line below 1/32 of the encoded value.
        const cmsFloat64Number p[5] = {1.8, 1.0, 0.0, 1.0 / 16.0, 1.0 / 32.0};
        return fromPrimaries(romm, Curve(cmsBuildParametricToneCurve(context(), 4, p)));
    }
    case Builtin::DisplayP3:
        return fromPrimaries(p3, srgbCurve());
    }
    return nullptr;
}

Profile makeProfile(const SourceProfile &source, QString *why)
{
    Profile made;
    const QByteArray &data = source.data();
    // The numbers a profile is built from, copied out: the bytes need not be aligned.
    double numbers[12] = {};
    std::memcpy(numbers, data.constData(), std::min(sizeof numbers, std::size_t(data.size())));
    switch (source.kind()) {
    case SourceProfile::Kind::Srgb:
        made = makeBuiltin(Builtin::Srgb);
        break;
    case SourceProfile::Kind::Icc:
        return openIcc(data, why);
    case SourceProfile::Kind::Builtin:
        made = makeBuiltin(Builtin(data.at(0)));
        break;
    case SourceProfile::Kind::Chromaticities:
        made = fromPrimaries(numbers, gammaCurve(numbers[8]));
        break;
    case SourceProfile::Kind::Endpoints:
        made = fromEndpoints(numbers, numbers + 9);
        break;
    }
    if (!made)
        *why = QStringLiteral("lcms could not build the profile: %1").arg(takeLcmsMessage());
    return made;
}

Profile makeStandardCmyk(const QStringList &paths, QString *source)
{
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxProfileBytes)
            continue;
        QString why;
        Profile profile = openIcc(file.readAll(), &why);
        if (profile && cmsGetColorSpace(profile.get()) == cmsSigCmykData) {
            *source = path;
            return profile;
        }
    }
    *source = QStringLiteral("plain ink colours");
    return inkCornerLink();
}

}  // namespace pel::picture::colour::detail
