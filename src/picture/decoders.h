#pragma once
// Our own decoders behind PictureFile. Each reads its header without decoding pixels,
// and decodes straight to the size that will be shown.
#include "picture/file.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
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

// --- BMP and the DIBs inside icons ---------------------------------------------------

struct DibLayout {
    int width = 0;
    int height = 0;             // always positive
    bool topDown = false;
    int bpp = 0;
    quint32 compression = 0;    // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
    quint32 masks[4] = {};      // R, G, B, A for 16 and 32 bpp
    bool alpha = false;         // an alpha channel is stored
    std::vector<quint32> palette;  // opaque 0xffRRGGBB
    std::size_t bitsOffset = 0;    // from the start of the buffer the DIB was parsed from
    std::size_t stride = 0;        // bytes per stored row (uncompressed)
    bool icon = false;             // AND mask follows the colour bits
    std::size_t maskLimit = SIZE_MAX;  // where other data (an embedded colour profile) begins
};

// Parses a BMP file header and its DIB header; needs only the bytes up to the palette's end.
// `fileSize` is the whole file's size (the buffer may be a prefix of it).
bool parseBmp(const uchar *data, std::size_t size, std::size_t fileSize, DibLayout *out, QString *error);
// Parses a headerless DIB as stored in an ICO/CUR entry (height counts the AND mask too).
bool parseIconDib(const uchar *data, std::size_t size, DibLayout *out, QString *error);
// Whether `available` bytes from the start of the DIB's buffer can hold what its header
// claims: a large picture whose data holds under half of its rows (or, run-length
// coded, under half of the shortest coding of them) is a lie, not a damaged photo.
bool dibPlausible(const DibLayout &layout, qint64 available, QString *error);
// Decodes the pixels described by `layout` from the whole buffer, reduced to `target`
// (empty: natural size).
QImage decodeDib(const uchar *data, std::size_t size, const DibLayout &layout, QSize target, QString *error);
// The same for a BMP file read from `fd` in bands of rows, so that a large file is
// never held whole (`fileSize` bytes in all).
QImage decodeBmpFile(int fd, qint64 fileSize, const DibLayout &layout, QSize target, QString *error);

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
// decode may be kept for later uses of the same file (see DecodeCache).
QImage decodeJpeg(int fd, const FileStamp &stamp, bool settled, QSize target, QString *error);
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
// Decodes the entry reduced to `target` (empty: natural size).
QImage decodeIcoEntry(const uchar *data, std::size_t size, const IcoEntry &entry, QSize target, QString *error);

}  // namespace pel::picture::detail
