// The colour module's engine: transforms made once per pair of profiles and pixel
// layout, kept in a small cache, and applied in place in bands.
#include "picture/colour.h"

#include "picture/colour_lcms.h"

#include <QHashFunctions>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "QImage's 32-bit pixels are read as B, G, R, A bytes");

namespace pel::picture::colour {

using detail::Profile;

// --- SourceProfile -----------------------------------------------------------------------

SourceProfile::SourceProfile(Kind kind, QByteArray data)
    : kind_(kind), data_(std::move(data)), hash_(qHash(data_, std::size_t(kind)))
{
}

SourceProfile SourceProfile::fromIcc(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() > kMaxProfileBytes)
        return {};
    return SourceProfile(Kind::Icc, bytes);
}

SourceProfile SourceProfile::builtin(Builtin space)
{
    if (space == Builtin::Srgb)
        return {};
    return SourceProfile(Kind::Builtin, QByteArray(1, char(space)));
}

SourceProfile SourceProfile::fromChromaticities(const double xy[8], double gamma)
{
    QByteArray data(9 * int(sizeof(double)), Qt::Uninitialized);
    std::memcpy(data.data(), xy, 8 * sizeof(double));
    std::memcpy(data.data() + 8 * sizeof(double), &gamma, sizeof gamma);
    return SourceProfile(Kind::Chromaticities, data);
}

SourceProfile SourceProfile::fromEndpoints(const double xyz[9], const double gamma[3])
{
    QByteArray data(12 * int(sizeof(double)), Qt::Uninitialized);
    std::memcpy(data.data(), xyz, 9 * sizeof(double));
    std::memcpy(data.data() + 9 * sizeof(double), gamma, 3 * sizeof(double));
    return SourceProfile(Kind::Endpoints, data);
}

namespace {

// --- Transforms --------------------------------------------------------------------------

// Relative colorimetric with black-point compensation, as photo programs show pictures
// on a display: colours the display can show stay exactly as the file states them
// (perceptual tables differ from vendor to vendor, and matrix profiles, nearly all
// photos' and displays', have none), and the compensation keeps shadow detail where the
// display's or the press's black is not zero.
constexpr cmsUInt32Number kIntent = INTENT_RELATIVE_COLORIMETRIC;
constexpr cmsUInt32Number kFlags = cmsFLAGS_BLACKPOINTCOMPENSATION;

// The layouts a transform reads and writes (QImage's 32-bit pixels are B, G, R, A bytes).
enum class Layout : quint8 { Bgra, GrayInBgra, Cmyk, CmykInverted };

// A grey value read from the first byte of a grey RGB32 pixel, the other three skipped.
constexpr cmsUInt32Number kGrayInBgra = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);

cmsUInt32Number inputFormat(Layout layout)
{
    switch (layout) {
    case Layout::Bgra: return TYPE_BGRA_8;
    case Layout::GrayInBgra: return kGrayInBgra;
    case Layout::Cmyk: return TYPE_CMYK_8;
    case Layout::CmykInverted: return TYPE_CMYK_8_REV;
    }
    return TYPE_BGRA_8;
}

cmsColorSpaceSignature spaceFor(Layout layout)
{
    switch (layout) {
    case Layout::GrayInBgra: return cmsSigGrayData;
    case Layout::Cmyk:
    case Layout::CmykInverted: return cmsSigCmykData;
    default: return cmsSigRgbData;
    }
}

struct Transform {
    cmsHTRANSFORM handle = nullptr;
    bool identity = false;  // changes no pixel by more than one level: skipped
    bool opaque = false;    // the fourth byte held ink: set to 255 afterwards
    QString refused;        // why the source's profile was not used (handle is null)
    std::shared_ptr<const Transform> fallback;  // CMYK refused: the standard press profile's
    ~Transform()
    {
        if (handle)
            cmsDeleteTransform(handle);
    }
};
using TransformPtr = std::shared_ptr<const Transform>;

// Whether an RGB transform leaves every colour of a coarse grid (and every grey) within
// one level of where it was: a profile equal to the target's costs nothing then.
bool isIdentity(cmsHTRANSFORM handle)
{
    std::vector<quint32> probe;
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17)
                probe.push_back(0xff000000u | quint32(r) << 16 | quint32(g) << 8 | quint32(b));
    for (quint32 v = 0; v < 256; ++v)
        probe.push_back(0xff000000u | v * 0x010101u);
    std::vector<quint32> out(probe.size());
    cmsDoTransform(handle, probe.data(), out.data(), cmsUInt32Number(probe.size()));
    for (std::size_t i = 0; i < probe.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8) {
            const int a = int(probe[i] >> shift & 0xff), b = int(out[i] >> shift & 0xff);
            if (std::abs(a - b) > 1)
                return false;
        }
    return true;
}

// Makes the transform from `source` (null: refused with `why`) to `target` for `layout`.
TransformPtr makeTransform(cmsHPROFILE source, cmsHPROFILE link, cmsHPROFILE target, Layout layout, QString why)
{
    auto t = std::make_shared<Transform>();
    if (!source && !link) {
        t->refused = why;
        return t;
    }
    const cmsUInt32Number in = inputFormat(layout);
    const bool rgb = layout == Layout::Bgra;
    const cmsUInt32Number out = TYPE_BGRA_8;
    const cmsUInt32Number flags = kFlags | (rgb ? cmsFLAGS_COPY_ALPHA : 0);
    detail::WorkBudget budget;
    if (link) {
        cmsHPROFILE chain[3] = {link, source, target};
        t->handle = cmsCreateMultiprofileTransformTHR(detail::context(), chain, 3, in, out, kIntent, flags);
    } else {
        t->handle = cmsCreateTransformTHR(detail::context(), source, in, target, out, kIntent, flags);
    }
    if (!t->handle) {
        t->refused = budget.exceeded() ? QStringLiteral("profile needs more memory than allowed")
                                       : QStringLiteral("lcms made no transform: %1").arg(detail::takeLcmsMessage());
        return t;
    }
    t->identity = rgb && isIdentity(t->handle);
    t->opaque = !rgb;
    return t;
}

// --- Shared state ------------------------------------------------------------------------

struct CacheEntry {
    SourceProfile source;
    Layout layout;
    bool toSrgb;
    TransformPtr transform;
};

constexpr std::size_t kCacheEntries = 8;

struct State {
    std::mutex mutex;
    QByteArray displayIcc;         // in use (empty: sRGB)
    Profile display;               // null: sRGB
    std::vector<CacheEntry> cache;  // most recently used first
    Runner runner;
    QStringList cmykPaths = defaultStandardCmykPaths();
    QString cmykSource;
    Profile standardCmyk;
    bool cmykMade = false;
};

State &state()
{
    static State *s = new State;  // never destroyed: pictures may render while the program ends
    return *s;
}

std::atomic<bool> g_displaySrgb{true};

// The standard press profile, made at first use (state's mutex held).
cmsHPROFILE standardCmyk(State &s)
{
    if (!s.cmykMade) {
        detail::WorkBudget budget;
        s.standardCmyk = detail::makeStandardCmyk(s.cmykPaths, &s.cmykSource);
        s.cmykMade = true;
    }
    return s.standardCmyk.get();
}

TransformPtr lookup(State &s, const SourceProfile &source, Layout layout, bool toSrgb);

TransformPtr buildTransform(State &s, const SourceProfile &source, Layout layout, bool toSrgb)
{
    const Profile srgb = detail::makeBuiltin(Builtin::Srgb);
    cmsHPROFILE target = toSrgb || !s.display ? srgb.get() : s.display.get();
    const bool cmyk = spaceFor(layout) == cmsSigCmykData;
    if (cmyk && source.isSrgb()) {
        // CMYK without a profile of its own: the standard press profile.
        cmsHPROFILE standard = standardCmyk(s);
        if (standard && cmsGetDeviceClass(standard) == cmsSigLinkClass)
            return makeTransform(srgb.get(), standard, target, layout, {});
        return makeTransform(standard, nullptr, target, layout, QStringLiteral("no press profile"));
    }
    QString why;
    Profile profile;
    {
        detail::WorkBudget budget;
        profile = detail::makeProfile(source, &why);
    }
    if (profile && cmsGetColorSpace(profile.get()) != spaceFor(layout)) {
        why = QStringLiteral("profile is not for these pixels' colour space");
        profile.reset();
    }
    TransformPtr made = makeTransform(profile.get(), nullptr, target, layout, why);
    if (made->handle || !cmyk)
        return made;
    // Refused CMYK shares the standard profile's transform.
    auto refused = std::make_shared<Transform>();
    refused->refused = made->refused;
    refused->fallback = lookup(s, SourceProfile(), layout, toSrgb);
    return refused;
}

// The cached transform, made when missing (state's mutex held).
TransformPtr lookup(State &s, const SourceProfile &source, Layout layout, bool toSrgb)
{
    for (auto it = s.cache.begin(); it != s.cache.end(); ++it) {
        if (it->layout == layout && it->toSrgb == toSrgb && it->source == source) {
            std::rotate(s.cache.begin(), it, it + 1);
            return s.cache.front().transform;
        }
    }
    TransformPtr made = buildTransform(s, source, layout, toSrgb);
    s.cache.insert(s.cache.begin(), CacheEntry{source, layout, toSrgb, made});
    if (s.cache.size() > kCacheEntries)
        s.cache.pop_back();
    return made;
}

TransformPtr transformFor(const SourceProfile &source, Layout layout, bool toSrgb)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    return lookup(s, source, layout, toSrgb);
}

// Below this many pixels a band's hand-over to another thread costs more than it saves.
constexpr qint64 kParallelPixels = 256 * 1024;
// Bands are this many pixels or so, taken one at a time by whichever thread is free: on a
// machine whose other core is busy, the calling thread does nearly all of them instead
// of waiting for a worker that holds half the picture.
constexpr qint64 kBandPixels = 64 * 1024;

void applyInParallel(QImage &image, const Transform &t, const Runner &runner)
{
    const int width = image.width(), height = image.height();
    const qsizetype stride = image.bytesPerLine();
    uchar *bits = image.bits();  // detaches here, on the calling thread
    const qint64 pixels = qint64(width) * height;
    const bool split = runner && pixels >= kParallelPixels;
    const int bands = split ? int(std::clamp<qint64>(pixels / kBandPixels, 2, height)) : 1;
    auto band = [&](int i) {
        const int y0 = int(qint64(height) * i / bands), y1 = int(qint64(height) * (i + 1) / bands);
        uchar *first = bits + y0 * stride;
        cmsDoTransformLineStride(t.handle, first, first, cmsUInt32Number(width), cmsUInt32Number(y1 - y0),
                                 cmsUInt32Number(stride), cmsUInt32Number(stride), 0, 0);
        if (t.opaque)
            for (int y = y0; y < y1; ++y) {
                auto *px = reinterpret_cast<quint32 *>(bits + y * stride);
                for (int x = 0; x < width; ++x)
                    px[x] |= 0xff000000u;
            }
    };
    if (bands == 1) {
        band(0);
        return;
    }
    std::atomic<int> next{0};
    const int threads = std::clamp(QThread::idealThreadCount(), 1, 8);
    runner(threads, [&](int) {
        for (int i = next++; i < bands; i = next++)
            band(i);
    });
}

}  // namespace

// --- The module's functions --------------------------------------------------------------

bool apply(QImage &image, const SourceProfile &source, Pixels pixels, Target target, QString *why)
{
    if (image.isNull())
        return true;
    const bool toSrgb = target == Target::Srgb || g_displaySrgb.load(std::memory_order_acquire);
    if (pixels == Pixels::Gray && source.isSrgb())
        pixels = Pixels::Rgb;  // a grey picture without a profile is sRGB grey
    if (pixels == Pixels::Rgb && source.isSrgb() && toSrgb)
        return true;  // nothing to do, and nothing spent

    Layout layout = Layout::Bgra;
    switch (pixels) {
    case Pixels::Rgb: break;
    case Pixels::Gray: layout = Layout::GrayInBgra; break;
    case Pixels::Cmyk: layout = Layout::Cmyk; break;
    case Pixels::AdobeCmyk: layout = Layout::CmykInverted; break;
    }
    const TransformPtr found = transformFor(source, layout, toSrgb);
    if (!found->refused.isEmpty() && why)
        *why = found->refused;
    const TransformPtr &t = found->fallback ? found->fallback : found;
    const bool cmyk = pixels == Pixels::Cmyk || pixels == Pixels::AdobeCmyk;
    if (t->handle && !t->identity) {
        Runner runner;
        {
            std::lock_guard lock(state().mutex);
            runner = state().runner;
        }
        // Other formats than the decoders' 32-bit ones are made so first (ink bytes are
        // kept as they are). lcms 2.14's optimised 8-bit transforms get premultiplied
        // alpha wrong: Qt takes it off and puts it back.
        const QImage::Format given = image.format();
        if (given != QImage::Format_RGB32 && given != QImage::Format_ARGB32) {
            if (pixels != Pixels::Rgb && image.depth() == 32)
                image.reinterpretAsFormat(QImage::Format_RGB32);
            else
                image.convertTo(image.hasAlphaChannel() && pixels == Pixels::Rgb ? QImage::Format_ARGB32
                                                                                 : QImage::Format_RGB32);
        }
        applyInParallel(image, *t, runner);
        if (given == QImage::Format_ARGB32_Premultiplied && pixels == Pixels::Rgb)
            image.convertTo(given);
    }
    if (cmyk)
        image.reinterpretAsFormat(QImage::Format_RGB32);
    return found->refused.isEmpty();
}

bool setDisplayProfile(const QByteArray &icc, QString *why)
{
    QString problem;
    Profile display;
    bool srgb = true;
    if (!icc.isEmpty()) {
        detail::WorkBudget budget;
        display = detail::openIcc(icc, &problem);
        if (display && cmsGetColorSpace(display.get()) != cmsSigRgbData) {
            problem = QStringLiteral("display profile is not an RGB profile");
            display.reset();
        }
        if (display) {
            const Profile srgbProfile = detail::makeBuiltin(Builtin::Srgb);
            const TransformPtr probe = makeTransform(srgbProfile.get(), nullptr, display.get(), Layout::Bgra, {});
            if (!probe->handle) {
                problem = QStringLiteral("display profile unusable: %1").arg(probe->refused);
                display.reset();
            } else {
                srgb = probe->identity;
            }
        }
    }
    State &s = state();
    {
        std::lock_guard lock(s.mutex);
        s.displayIcc = display ? icc : QByteArray();
        s.display = std::move(display);
        s.cache.clear();
        g_displaySrgb.store(srgb, std::memory_order_release);
    }
    if (why)
        *why = problem;
    return problem.isEmpty();
}

QByteArray displayProfile()
{
    std::lock_guard lock(state().mutex);
    return state().displayIcc;
}

bool displayIsSrgb() { return g_displaySrgb.load(std::memory_order_acquire); }

void setRunner(Runner runner)
{
    std::lock_guard lock(state().mutex);
    state().runner = std::move(runner);
}

QStringList defaultStandardCmykPaths()
{
    // Neither icc-profiles-free nor colord-data ships a CMYK press profile; Ghostscript's
    // default CMYK (libgs-common, a SWOP-like coated press) is on most desktops.
    return {QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc")};
}

void setStandardCmykPaths(const QStringList &paths)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    s.cmykPaths = paths;
    s.cmykMade = false;
    s.standardCmyk.reset();
    s.cache.clear();
}

QString standardCmykSource()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    standardCmyk(s);
    return s.cmykSource;
}

QByteArray builtinIcc(Builtin space)
{
    const Profile profile = detail::makeBuiltin(space);
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size))
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size))
        return {};
    bytes.truncate(qsizetype(size));
    return bytes;
}

}  // namespace pel::picture::colour
