// Colour facts and profiles. An input that is an ICC profile ("acsp" in its place) is
// applied to RGB, grey and CMYK pixels and offered as the display's profile; any other
// input goes, by its first byte, to one of the byte readers (0 APP2 segments split at
// FF E2, 1 an EXIF payload, 2 a BMP info header with what follows it, 3 PNG chunks),
// and whatever profile they find is applied.
#include "picture/colour.h"
#include "picture/colour_sources.h"

#include <QByteArray>
#include <QImage>
#include <QList>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using namespace pel::picture::colour;

void tryProfile(const SourceProfile &source)
{
    for (Pixels pixels : {Pixels::Rgb, Pixels::Gray, Pixels::AdobeCmyk}) {
        QImage img(13, 7, pixels == Pixels::Rgb ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        img.fill(0x80336699u);
        apply(img, source, pixels);
        if (img.size() != QSize(13, 7) || img.depth() != 32)
            abort();  // converted in place, or left as it was
        if (pixels == Pixels::Rgb && qAlpha(img.pixel(6, 3)) != 0x80)
            abort();  // alpha is kept
    }
}

void readers(const QByteArray &rest, int which)
{
    switch (which) {
    case 0: {
        const QList<QByteArray> pieces = rest.split('\xff');  // the views below point into them
        QList<QByteArrayView> segments;
        for (const QByteArray &s : pieces)
            if (s.startsWith('\xe2'))
                segments.append(QByteArrayView(s).sliced(1));
        const QByteArray icc = iccFromApp2(segments);
        if (icc.size() > kMaxProfileBytes)
            abort();
        tryProfile(jpegSource(segments, rest));
        break;
    }
    case 1:
        exifColour(rest);
        tryProfile(jpegSource({}, rest));
        break;
    case 2: {
        const auto *header = reinterpret_cast<const uchar *>(rest.constData());
        const BmpColourSpace c = bmpColourSpace(header, std::size_t(rest.size()));
        tryProfile(c.profile);
        if (c.profileSize > 0 && c.profileOffset < quint64(rest.size()))
            tryProfile(SourceProfile::fromIcc(rest.mid(c.profileOffset, c.profileSize)));
        break;
    }
    default: {
        static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
        tryProfile(pngSource(rest.startsWith(signature) ? rest : signature + rest));
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (size >= 40 && std::memcmp(data + 36, "acsp", 4) == 0) {
        tryProfile(SourceProfile::fromIcc(bytes));
        if (setDisplayProfile(bytes))
            tryProfile(SourceProfile());
        setDisplayProfile({});
    } else if (size > 0) {
        readers(bytes.mid(1), data[0] % 4);
    }
    return 0;
}
