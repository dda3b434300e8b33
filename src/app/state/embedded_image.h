#pragma once
// Pictures compiled into the program as pixels (made from resources/ by
// tools/embed_image.cpp at build time).
#include <QColorSpace>
#include <QImage>

namespace pel::embedded {

struct Image {
    int width;
    int height;
    qsizetype bytesPerLine;
    int format;   // QImage::Format
    const unsigned char *bits;
    const char *icc;   // the colour space's ICC profile; none when iccSize is 0
    qsizetype iccSize;

    QImage image() const
    {
        QImage img(bits, width, height, bytesPerLine, QImage::Format(format));
        if (iccSize > 0)
            img.setColorSpace(QColorSpace::fromIccProfile(QByteArray::fromRawData(icc, iccSize)));
        return img;
    }
};

extern const Image icon;   // resources/icon.png

}  // namespace pel::embedded
