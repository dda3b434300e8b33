#pragma once
// Our own decoders behind PictureFile. Each reads its header without decoding pixels,
// and decodes straight to the size that will be shown.
#include <QByteArray>
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

// Bytes of a decoded picture of `size` at 4 bytes a pixel, without overflow.
inline qint64 decodedBytes(QSize size)
{
    return qint64(size.width()) * qint64(size.height()) * 4;
}

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
// Decodes the pixels described by `layout` from the whole buffer, reduced to `target`
// (empty: natural size).
QImage decodeDib(const uchar *data, std::size_t size, const DibLayout &layout, QSize target, QString *error);

// --- JPEG --------------------------------------------------------------------------

struct JpegHeader {
    QSize stored;          // as coded
    int orientation = 1;   // EXIF, 1..8
    bool progressive = false;
    QSize upright() const { return orientation >= 5 ? stored.transposed() : stored; }
};
bool readJpegHeader(const QString &path, JpegHeader *out, QString *error);
// `target` is in upright pixels; empty means the natural size.
QImage decodeJpeg(const QString &path, QSize target, QString *error);
// EXIF orientation from the payload of an APP1 segment; 1 when absent or malformed.
int exifOrientation(const uchar *data, std::size_t size);

// --- ICO / CUR -----------------------------------------------------------------------

struct IcoEntry {
    std::size_t offset = 0, length = 0;
    QSize size;
    int bpp = 0;
    bool png = false;
};
// Picks the largest image in the directory. `cursor` tells ICO from CUR.
bool parseIco(const uchar *data, std::size_t size, IcoEntry *largest, bool *cursor, QString *error);
QImage decodeIcoEntry(const uchar *data, std::size_t size, const IcoEntry &entry, QString *error);

}  // namespace pel::picture::detail
