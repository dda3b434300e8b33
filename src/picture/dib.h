#pragma once
// The one DIB decoder: the device-independent bitmaps of BMP files, of ICO and CUR
// entries, and of metafile records. Headers from BITMAPCOREHEADER and OS/2 2.x to
// BITMAPV5HEADER; 1, 2, 4, 8, 16, 24 and 32 bits; bit fields; RLE8 and RLE4. Every
// read stays inside the bytes given, and a picture is decoded straight to the size it
// will be shown at, from memory or from a file in bands.
#include <QImage>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pel::picture::detail {

// Where a DIB comes from; each has its own few rules.
enum class DibKind {
    File,      // a BMP file: its file header says where the pixels begin
    Icon,      // an ICO/CUR entry: the height counts the AND mask that follows the colours
    Metafile,  // a metafile record: alpha is ignored (GDI copies colours only), and
               // pixels the data does not reach stay transparent
};

struct DibLayout {
    DibKind kind = DibKind::File;
    int width = 0;
    int height = 0;             // always positive
    bool topDown = false;
    int bpp = 0;
    quint32 compression = 0;    // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields, 6 bit fields with alpha
    quint32 masks[4] = {};      // R, G, B, A for 16 and 32 bpp
    bool alpha = false;         // an alpha channel is stored
    std::vector<quint32> palette;  // 256 opaque 0xffRRGGBB entries (black past the stored ones)
    std::size_t bitsOffset = 0;    // from the start of the buffer the DIB was parsed from
    std::size_t stride = 0;        // bytes per stored row (uncompressed)
    std::size_t maskLimit = SIZE_MAX;  // icons: where other data (an embedded colour profile) begins

    bool runLength() const { return compression == 1 || compression == 2; }
};

// Parses a BMP file header and its DIB header; needs only the bytes up to the palette's end.
// `fileSize` is the whole file's size (the buffer may be a prefix of it).
bool parseBmp(const uchar *data, std::size_t size, std::size_t fileSize, DibLayout *out, QString *error);
// Parses a headerless DIB as stored in an ICO/CUR entry (height counts the AND mask too).
bool parseIconDib(const uchar *data, std::size_t size, DibLayout *out, QString *error);
// Parses a packed DIB (header, colour table, bits) of a metafile record. With
// `paletteIndices` (DIB_PAL_COLORS) the colour table holds 16-bit indexes into the
// metafile's logical palette, which is not kept: each shows as the grey of its low byte.
bool parseMetafileDib(const uchar *data, std::size_t size, bool paletteIndices, DibLayout *out, QString *error);

// Whether `available` bytes from the start of the DIB's buffer can hold what its header
// claims: a large picture whose data holds under half of its rows (or, run-length
// coded, under half of the shortest coding of them) is a lie, not a damaged photo.
bool dibPlausible(const DibLayout &layout, qint64 available, QString *error);

// Decodes the pixels described by `layout` from the whole buffer, reduced to `target`
// (empty: natural size).
QImage decodeDib(const uchar *data, std::size_t size, const DibLayout &layout, QSize target, QString *error);
// The same for a BMP file read from `fd` in bands of rows, so that a large file is
// never held whole (`fileSize` bytes in all, as when it was opened). A read error, or
// a file holding fewer bytes than that, fails the decode.
QImage decodeBmpFile(int fd, qint64 fileSize, const DibLayout &layout, QSize target, QString *error);

}  // namespace pel::picture::detail
