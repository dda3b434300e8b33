#pragma once
// Our own decoders behind PictureFile. Each reads its header without decoding pixels,
// and decodes straight to the size that will be shown.
#include "picture/colour.h"
#include "picture/dib.h"
#include "picture/file.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace pel::picture::detail {

inline void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// Size arithmetic on untrusted headers: products saturate at the largest value
// instead of wrapping, so a lie can only make a picture look larger, never smaller.
inline qint64 mulSat(qint64 a, qint64 b)
{
    qint64 r;
    return a < 0 || b < 0 || __builtin_mul_overflow(a, b, &r) ? INT64_MAX : r;
}
inline qint64 mulSat(qint64 a, qint64 b, qint64 c) { return mulSat(mulSat(a, b), c); }

// Bytes of a decoded picture of `size` at 4 bytes a pixel (0 for an empty size).
inline qint64 decodedBytes(QSize size)
{
    return size.isEmpty() ? 0 : mulSat(size.width(), size.height(), 4);
}

// The decoder's budget: a picture whose decode would need more than the loader's
// limit is refused before anything is allocated (*error says why).
bool withinBudget(QSize size, QString *error);

// Qt's readers refuse pictures over 128 MB unless told otherwise; our budget decides instead.
void liftQtAllocationLimit();

// Whether every chunk of the PNG in `device` (at its start) fits in what follows it.
// The PNG library allocates a text chunk's whole declared length before reading it, so a
// few bytes claiming a 2 GB comment would cost 2 GB; picture data (IDAT) is streamed and
// may be cut short. Leaves the device at its start.
bool pngChunksFit(QIODevice &device, QString *error);

// A decode at the size it is shown, with what its file says of its colours: the
// caller converts it (picture::colour::apply) once it has its final size.
struct Decoded {
    QImage image;
    colour::SourceProfile source;  // default: sRGB (for CMYK, the standard press profile)
    colour::Pixels pixels = colour::Pixels::Rgb;
};

// The colours a DIB's info header declares (`header` holds `size` bytes of it, its
// size field first). A V5 header's embedded profile is read by `profileAt`, given its
// place from the header's start and its length; it returns empty bytes when they are
// not all there. No file the header names is ever opened.
colour::SourceProfile dibSource(const uchar *header, std::size_t size,
                                const std::function<QByteArray(quint32 offset, quint32 length)> &profileAt);

// --- JPEG --------------------------------------------------------------------------

struct JpegHeader {
    QSize stored;          // as coded
    int orientation = 1;   // EXIF, 1..8
    bool progressive = false;
    QSize upright() const { return orientation >= 5 ? stored.transposed() : stored; }
};
// Both read the open file `fd` as `stamp` describes it (nothing past its size then).
bool readJpegHeader(int fd, const FileStamp &stamp, JpegHeader *out, QString *error);
// `target` is in upright pixels; empty means the natural size. `settled`: a reduced
// decode may be kept for later uses of the same file (see DecodeCache). CMYK pictures
// come back as their ink bytes (Pixels::Cmyk or AdobeCmyk) in a 32-bit image whose
// format keeps the fourth byte through scaling (ARGB32_Premultiplied, not a real alpha).
Decoded decodeJpeg(int fd, const FileStamp &stamp, bool settled, QSize target, QString *error);
// EXIF orientation from the payload of an APP1 segment; 1 when absent or malformed.
int exifOrientation(const uchar *data, std::size_t size);

// --- ICO / CUR -----------------------------------------------------------------------

struct IcoEntry {
    std::size_t offset = 0, length = 0;
    QSize size;
    int bpp = 0;
    bool png = false;
};
// Picks the largest image in the directory. `cursor` tells ICO from CUR. An image
// its entry's bytes could not hold is refused (*error says why) when it is the largest.
bool parseIco(const uchar *data, std::size_t size, IcoEntry *largest, bool *cursor, QString *error);
// Decodes the entry reduced to `target` (empty: natural size), with the colours its
// PNG chunks or its DIB header declare.
Decoded decodeIcoEntry(const uchar *data, std::size_t size, const IcoEntry &entry, QSize target, QString *error);

}  // namespace pel::picture::detail
