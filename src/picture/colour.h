#pragma once
// Colour management for the loader. A picture whose file describes its colours (an
// embedded ICC profile, a BMP's calibrated end points, PNG chunks) is converted from
// them to the display's profile, with Little CMS, after it has been reduced to the
// size it is shown at. A picture that describes nothing is sRGB; an sRGB picture on an
// sRGB display is not touched at all.
//
// The loader knows nothing of X or of threads: the layers above tell it the display's
// profile (setDisplayProfile) and how to run work on several cores (setRunner).
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>

namespace pel::picture::colour {

// Profiles longer than this are refused unread: real ones are a few kilobytes, press
// profiles a megabyte or two.
inline constexpr qsizetype kMaxProfileBytes = qsizetype(4) << 20;

// Spaces the loader builds with Little CMS from their published primaries.
enum class Builtin : quint8 {
    Srgb,
    AdobeRgb,   // Adobe RGB (1998): D65, gamma 563/256
    ProPhoto,   // ROMM RGB: D50, gamma 1.8 with its short linear segment
    DisplayP3,  // P3 primaries, D65, the sRGB curve
};

// What the decoded pixels hold.
enum class Pixels : quint8 {
    Rgb,        // RGB32, ARGB32 or ARGB32_Premultiplied
    Gray,       // RGB32 whose R = G = B, to be read through a grey profile
    Cmyk,       // a 32-bit image whose bytes are C, M, Y, K in memory order, 255 = full ink
    AdobeCmyk,  // the same, inverted as Adobe's CMYK and YCCK JPEGs store it (0 = full ink)
};

enum class Target : quint8 {
    Display,  // the profile setDisplayProfile() gave, sRGB when none
    Srgb,     // pictures that leave the program (a PNG made on request)
};

// The colours a picture's file declares. Cheap to copy (the bytes are shared).
class SourceProfile {
public:
    SourceProfile() = default;  // nothing declared: sRGB (for CMYK, the standard press profile)

    // An embedded ICC profile; empty or over kMaxProfileBytes gives sRGB. Whether lcms
    // can use it is found out when it is first applied.
    static SourceProfile fromIcc(const QByteArray &bytes);
    static SourceProfile builtin(Builtin space);
    // xy chromaticities of white, red, green and blue (8 numbers), and the decoding
    // exponent (2.2 for a PNG's gAMA of 45455); gamma 0 means the sRGB curve.
    static SourceProfile fromChromaticities(const double xy[8], double gamma);
    // CIE XYZ of the red, green and blue end points (9 numbers, D50 as ICC colourants)
    // and one decoding exponent per channel, as a BMP's calibrated header gives them.
    static SourceProfile fromEndpoints(const double xyz[9], const double gamma[3]);

    bool isSrgb() const { return kind_ == Kind::Srgb; }
    bool isIcc() const { return kind_ == Kind::Icc; }
    // The embedded bytes (empty unless fromIcc).
    QByteArray icc() const { return kind_ == Kind::Icc ? data_ : QByteArray(); }

    bool operator==(const SourceProfile &other) const
    {
        return hash_ == other.hash_ && kind_ == other.kind_ && data_ == other.data_;
    }
    std::size_t hash() const { return hash_; }

    enum class Kind : quint8 { Srgb, Icc, Builtin, Chromaticities, Endpoints };
    Kind kind() const { return kind_; }
    const QByteArray &data() const { return data_; }

private:
    SourceProfile(Kind kind, QByteArray data);
    Kind kind_ = Kind::Srgb;
    QByteArray data_;  // the ICC bytes, or the numbers a profile is built from
    std::size_t hash_ = 0;
};

// Converts `image` in place from `source` to `target`. Rgb and Gray pictures keep their
// format and alpha; a CMYK picture comes back as RGB32. Returns false when the
// source's profile could not be used (*why says why): an RGB picture is then left as
// it was, as sRGB, and a CMYK one goes through the standard press profile.
// Large pictures are split into bands run through setRunner()'s runner.
bool apply(QImage &image, const SourceProfile &source, Pixels pixels = Pixels::Rgb,
           Target target = Target::Display, QString *why = nullptr);

// The display's profile as the X session publishes it; empty for sRGB. A profile
// that cannot be used counts as sRGB (*why says why; returns false). Any thread;
// transforms made for the previous display are dropped.
bool setDisplayProfile(const QByteArray &icc, QString *why = nullptr);
// The profile in use for the display (empty when sRGB), and whether pictures
// without a profile need no conversion for it (none, or one equal to sRGB).
QByteArray displayProfile();
bool displayIsSrgb();

// Runs job(0) ... job(count - 1), in parallel where it can, and returns when all are
// done. Without one, everything runs on the calling thread.
using Runner = std::function<void(int count, const std::function<void(int)> &job)>;
void setRunner(Runner runner);

// Where the standard CMYK press profile is looked for, first found first; with none
// of them readable, the plain ink colours are used. `source` of standardCmyk() names
// what is in use.
void setStandardCmykPaths(const QStringList &paths);
QStringList defaultStandardCmykPaths();
QString standardCmykSource();

// A built-in space as ICC bytes (version 4), as lcms writes it.
QByteArray builtinIcc(Builtin space);

}  // namespace pel::picture::colour
