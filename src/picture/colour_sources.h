#pragma once
// What a picture's file says of its colours, read from bytes the decoders hand over:
// no file is opened here, and every input may be hostile. Each function returns sRGB
// (a default SourceProfile) where the file says nothing usable.
#include "picture/colour.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstddef>

namespace pel::picture::colour {

// --- JPEG ------------------------------------------------------------------------------

// The ICC profile carried by a JPEG's APP2 segments: `payloads` are the segments' bytes
// after their length field, in file order; those not starting "ICC_PROFILE\0" are
// skipped. The chunks may come in any order. Empty when they do not make exactly one
// whole profile (a number outside 1..count, counts that disagree, a chunk missing or
// given twice) or when it would be longer than kMaxProfileBytes.
QByteArray iccFromApp2(const QList<QByteArrayView> &payloads);

// What EXIF says of colour, from an APP1 payload ("Exif\0\0", then the TIFF data).
struct ExifColour {
    int colorSpace = 0;       // ColorSpace (0xA001): 1 sRGB, 0xFFFF uncalibrated; 0 absent
    QByteArray interopIndex;  // InteroperabilityIndex: "R98", "R03"; empty when absent
    // Camera files in Adobe RGB that carry no profile: uncalibrated, and DCF's option file "R03".
    bool adobeRgb() const { return colorSpace == 0xFFFF && interopIndex == "R03"; }
};
ExifColour exifColour(QByteArrayView app1);

// A JPEG's source profile: its embedded profile, else Adobe RGB where EXIF says so,
// else sRGB. `exifApp1` may be empty.
SourceProfile jpegSource(const QList<QByteArrayView> &app2, QByteArrayView exifApp1);

// --- BMP -------------------------------------------------------------------------------

struct BmpColourSpace {
    SourceProfile profile;       // what the header itself describes
    // A V5 header's embedded profile: its place counted from the start of the info
    // header, and its size (0: none, or larger than kMaxProfileBytes). The decoder
    // reads those bytes and makes SourceProfile::fromIcc of them.
    quint32 profileOffset = 0;
    quint32 profileSize = 0;
};

// The colour fields of a V4 or V5 info header; `header` starts at the info header (its
// size field first) and holds `size` bytes of it. sRGB for older headers, for
// LCS_sRGB and LCS_WINDOWS_COLOR_SPACE, for calibrated end points that no display
// could have, and for a linked profile (a path inside the picture, never opened).
BmpColourSpace bmpColourSpace(const uchar *header, std::size_t size);

// --- PNG -------------------------------------------------------------------------------

// A PNG's source profile (the whole file, its signature first) from its chunks before
// the picture data: iCCP (inflated to at most kMaxProfileBytes), else sRGB, else cHRM
// with gAMA (or the sRGB curve), else gAMA alone with sRGB's primaries.
SourceProfile pngSource(QByteArrayView png);

}  // namespace pel::picture::colour
