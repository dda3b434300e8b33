#pragma once
// Picture files that declare their colours, made here byte by byte (BMP, ICO, EXIF) or
// with libjpeg (JPEG, RGB and Adobe CMYK) and Qt's PNG writer, for the loader's colour
// tests: each carries a test pattern made in some space by Little CMS.
#include "picture/colour_reference.h"

#include <QBuffer>
#include <QColorSpace>
#include <QList>
#include <QPair>

#include <algorithm>
#include <cstdio>
#include <jpeglib.h>

namespace pel::test {

// One marker segment: its code (0xE1 for APP1, ...) and its payload.
using Segment = QPair<int, QByteArray>;

// A JPEG of `pixels` at quality 100 without chroma subsampling: RGB32, or with `cmyk`
// the four bytes of each pixel as Adobe's inverted inks (libjpeg then writes Adobe's
// APP14 marker). `segments` follow the header in the order given.
inline QByteArray jpegFile(const QImage &pixels, bool cmyk, const QList<Segment> &segments = {})
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(pixels.width());
    cinfo.image_height = JDIMENSION(pixels.height());
    cinfo.input_components = 4;
    cinfo.in_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    for (const Segment &s : segments)
        jpeg_write_marker(&cinfo, s.first, reinterpret_cast<const JOCTET *>(s.second.constData()), unsigned(s.second.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

// `icc` as APP2 segments: `count` chunks, written in the order of `order` (chunk numbers
// from 1); empty `order`: as many chunks as a segment's size needs, in order.
inline QList<Segment> iccSegments(const QByteArray &icc, int count = 1, QList<int> order = {})
{
    constexpr qsizetype kMaxPiece = 65533 - 14;
    if (order.isEmpty()) {
        count = int(std::max<qsizetype>(count, (icc.size() + kMaxPiece - 1) / kMaxPiece));
        for (int n = 1; n <= count; ++n)
            order.append(n);
    }
    const qsizetype piece = (icc.size() + count - 1) / count;
    QList<Segment> segments;
    for (int n : order)
        segments.append({0xE2, QByteArray("ICC_PROFILE", 12) + char(n) + char(count) + icc.mid((n - 1) * piece, piece)});
    return segments;
}

// EXIF saying what cameras say of Adobe RGB without a profile: ColorSpace uncalibrated
// (0xFFFF), InteroperabilityIndex "R03". Little-endian TIFF: IFD0 at 8 points to the
// EXIF IFD at 26, which points to the interoperability IFD at 56.
inline Segment exifAdobeRgb()
{
    auto le16 = [](quint32 v) { return bytesOf(v, 2, false); };
    auto entry = [&](quint32 tag, quint32 type, quint32 value) { return le16(tag) + le16(type) + le32(1) + le32(value); };
    QByteArray tiff = QByteArray("II*\0", 4) + le32(8);
    tiff += le16(1) + entry(0x8769, 4, 26) + le32(0);
    tiff += le16(2) + entry(0xA001, 3, 0xFFFF) + entry(0xA005, 4, 56) + le32(0);
    tiff += le16(1) + le16(0x0001) + le16(2) + le32(4) + QByteArray("R03", 4) + le32(0);
    return {0xE1, QByteArray("Exif\0\0", 6) + tiff};
}

// A top-down 32-bit BMP of `pixels` with a V4 or V5 info header (bmpHeader's colour
// fields); a V5's `profile` follows the pixels.
inline QByteArray bmpFile(const QImage &pixels, quint32 headerSize, quint32 csType, const qint32 endpoints[9] = nullptr,
                          quint32 gamma = 0, const QByteArray &profile = {})
{
    const QImage rgb = pixels.convertToFormat(QImage::Format_RGB32);
    const quint32 bits = quint32(rgb.sizeInBytes());
    QByteArray info = bmpHeader(headerSize, csType, endpoints, gamma, profile.isEmpty() ? 0 : headerSize + bits, quint32(profile.size()));
    info.replace(4, 8, le32(quint32(rgb.width())) + le32(quint32(-rgb.height())));
    info.replace(40, 12, le32(0xff0000) + le32(0xff00) + le32(0xff));
    const quint32 offset = 14 + headerSize;
    return QByteArray("BM") + le32(offset + bits + quint32(profile.size())) + le32(0) + le32(offset) + info
           + QByteArray(reinterpret_cast<const char *>(rgb.constBits()), qsizetype(bits)) + profile;
}

// `pixels` as a PNG that Qt writes with `icc` as its iCCP chunk.
inline QByteArray pngFile(const QImage &pixels, const QByteArray &icc)
{
    QImage tagged = pixels;
    tagged.setColorSpace(QColorSpace::fromIccProfile(icc));
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    tagged.save(&buffer, "PNG");
    return file;
}

// An icon of one entry, the PNG `png` of `size`.
inline QByteArray icoWithPng(const QByteArray &png, QSize size)
{
    return QByteArray("\0\0\1\0\1\0", 6) + char(size.width() & 0xff) + char(size.height() & 0xff) + QByteArray(2, '\0')
           + bytesOf(1, 2, false) + bytesOf(32, 2, false) + le32(quint32(png.size())) + le32(22) + png;
}

}  // namespace pel::test
