#pragma once
// The one picture loader every window uses. A file is identified by its content
// (never its name); its natural size comes from the header alone, and pixels are
// decoded only at the size they will be shown.
#include "picture/colour.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <memory>

class QPainter;
class QRectF;

namespace pel {

enum class PictureFormat { Bmp, Jpeg, Ico, Cur, Wmf, Png, Gif, Tiff, Webp, Other };

class PictureFile {
public:
    virtual ~PictureFile() = default;

    // Opens the file at `path` (the name's bytes, as the folder gave them), detects its
    // format from the bytes and reads the natural size from the header. Returns nullptr
    // when the file is missing, unreadable, not a picture of a kind we read, or a
    // decompression bomb; *error says why (for tests and diagnostics; the user only
    // ever sees the bad-file message). `twipsPerPixel` is the screen's (15 at 96 DPI):
    // a bitmap's size in twips and a metafile's size in pixels follow from it.
    static std::shared_ptr<const PictureFile> open(const QByteArray &path, double twipsPerPixel,
                                                   QString *error = nullptr);

    virtual PictureFormat format() const = 0;
    bool isVector() const { return format() == PictureFormat::Wmf; }

    // Natural size in device pixels (a metafile's twips size converted).
    virtual QSize pixelSize() const = 0;
    // Natural size in twips: pixels x twips per pixel for bitmaps, the stored size for metafiles.
    virtual QSizeF sizeTwips() const = 0;

    // The picture decoded to exactly `target` pixels, scaled smoothly; decodes
    // reduced where the format allows it. An empty target means the natural size
    // (the full decode). Returns a null image when decoding fails (*error says why).
    // The colours are converted for `to`: the display, or sRGB for a picture that
    // leaves the program.
    virtual QImage render(QSize target = QSize(), QString *error = nullptr,
                          picture::colour::Target to = picture::colour::Target::Display) const = 0;

    // Paints the picture stretched into `target` (device coordinates). Metafiles
    // are drawn as vectors, so they stay sharp at any size; bitmaps go through render().
    virtual bool paint(QPainter &painter, const QRectF &target, QString *error = nullptr) const = 0;

    // The file's own bytes where a format wants to offer them as-is (a metafile on
    // the clipboard); empty for others.
    virtual QByteArray nativeData() const { return {}; }
};

namespace picture {
// Upper bound for one decoded picture, derived from the machine's memory; a header
// claiming more is refused as a decompression bomb.
qint64 maxDecodedBytes();
}  // namespace picture

}  // namespace pel
