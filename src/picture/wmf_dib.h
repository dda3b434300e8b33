#pragma once
// Device-independent bitmaps embedded in metafile records (BITMAPINFO + bits),
// decoded by hand so that every read stays inside the record.
#include <QByteArrayView>
#include <QImage>
#include <QRgb>
#include <vector>

namespace pel::wmf {

// Decodes a packed DIB (header, colour table, bits). `paletteIndices` is the
// DIB_PAL_COLORS case: the colour table holds 16-bit indexes into `palette`.
// `pixelBudget` is decreased by the pixels allocated; a bitmap that would exceed
// it is refused. Returns a null image for anything broken or unsupported; rows
// missing at the end of truncated bits stay transparent.
QImage decodeDib(QByteArrayView dib, bool paletteIndices, const std::vector<QRgb> &palette,
                 qint64 &pixelBudget);

}  // namespace pel::wmf
