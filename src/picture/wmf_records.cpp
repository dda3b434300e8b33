// Record functions, the mapping of logical units, regions and bitmaps of records.
#include "picture/wmf_records.h"

#include "picture/dib.h"

#include <cmath>

namespace pel::wmf {

bool isCreate(quint16 f)
{
    switch (f) {
    case kCreatePalette: case kCreatePatternBrush: case kCreatePenIndirect:
    case kCreateFontIndirect: case kCreateBrushIndirect: case kCreateBitmapIndirect:
    case kCreateBitmap: case kCreateRegion: case kDibCreatePatternBrush:
        return true;
    default:
        return false;
    }
}

bool isDrawing(quint16 f)
{
    switch (f) {
    case kLineTo: case kPolygon: case kPolyline: case kPolyPolygon: case kEllipse:
    case kRectangle: case kRoundRect: case kArc: case kPie: case kChord: case kSetPixel:
    case kTextOut: case kExtTextOut: case kPatBlt: case kDibBitBlt: case kDibStretchBlt:
    case kStretchDib: case kSetDibToDev: case kFillRegion: case kFrameRegion: case kPaintRegion:
        return true;
    default:
        return false;
    }
}

bool isKept(quint16 f)
{
    if (isCreate(f) || isDrawing(f)) return true;
    switch (f) {
    case kSaveDC: case kRestoreDC: case kSetBkMode: case kSetMapMode: case kSetRop2:
    case kSetPolyFillMode: case kSetTextCharExtra: case kSetBkColor: case kSetTextColor:
    case kSetWindowOrg: case kSetWindowExt: case kSetViewportOrg: case kSetViewportExt:
    case kOffsetWindowOrg: case kOffsetViewportOrg: case kMoveTo: case kOffsetClipRgn:
    case kSetTextAlign: case kSelectClipRegion: case kSelectObject: case kDeleteObject:
    case kScaleWindowExt: case kScaleViewportExt: case kExcludeClipRect:
    case kIntersectClipRect:
        return true;
    default:
        return false;
    }
}

bool applyMap(MapState &m, quint16 f, const Rec &r)
{
    auto scaled = [&](double v, int num, int den) { return den ? v * num / den : 0.0; };
    switch (f) {
    case kSetWindowOrg: m.winOrg = r.ptYX(0); return true;
    case kSetWindowExt:
        if (r.s(0) && r.s(1)) {  // a zero extent would make the mapping singular: ignored
            m.winExt = QSizeF(r.s(1), r.s(0));
            m.winExtSet = true;
        }
        return true;
    case kSetViewportOrg: m.vpOrg = r.ptYX(0); return true;
    case kSetViewportExt:
        if (r.s(0) && r.s(1)) {
            m.vpExt = QSizeF(r.s(1), r.s(0));
            m.vpExtSet = true;
        }
        return true;
    case kOffsetWindowOrg: m.winOrg += r.ptYX(0); return true;
    case kOffsetViewportOrg: m.vpOrg += r.ptYX(0); return true;
    case kScaleWindowExt:
    case kScaleViewportExt: {
        QSizeF &e = f == kScaleWindowExt ? m.winExt : m.vpExt;
        const double w = scaled(e.width(), r.s(3), r.s(2)), h = scaled(e.height(), r.s(1), r.s(0));
        if (w != 0 && h != 0 && std::isfinite(w) && std::isfinite(h)) e = QSizeF(w, h);
        return true;
    }
    case kSetMapMode: m.mode = r.u(0); return true;
    default: return false;
    }
}

QTransform toDevice(const MapState &m, const QRectF &frameWin)
{
    const QPointF vo = m.vpExtSet ? m.vpOrg : frameWin.topLeft();
    const QSizeF ve = m.vpExtSet ? m.vpExt : frameWin.size();
    double sx = ve.width() / m.winExt.width(), sy = ve.height() / m.winExt.height();
    if (m.mode == kMmIsotropic && m.vpExtSet) {
        const double s = std::min(std::abs(sx), std::abs(sy));
        sx = std::copysign(s, sx);
        sy = std::copysign(s, sy);
    }
    return QTransform(sx, 0, 0, sy, vo.x() - m.winOrg.x() * sx, vo.y() - m.winOrg.y() * sy);
}

QPainterPath parseRegion(const Rec &r)
{
    QPainterPath path;
    const int scans = r.u(5);
    int w = 11;
    int rects = 0;
    for (int s = 0; s < scans && w + 3 <= r.words() && rects < kMaxRegionRects; ++s) {
        const int count = r.u(w);
        const double top = r.s(w + 1), bottom = r.s(w + 2);
        if (w + 3 + count + 1 > r.words()) break;
        for (int k = 0; k + 1 < count; k += 2) {
            const double left = r.s(w + 3 + k), right = r.s(w + 4 + k);
            if (right > left && bottom > top && rects++ < kMaxRegionRects)
                path.addRect(QRectF(left, top, right - left, bottom - top));
        }
        w += 3 + count + 1;
    }
    if (path.isEmpty()) {
        const QRectF box(QPointF(r.s(7), r.s(8)), QPointF(r.s(9), r.s(10)));
        if (box.width() > 0 && box.height() > 0) path.addRect(box);
    }
    return path;
}

int dibOffset(quint16 f, const Rec &r)
{
    const bool noBitmap = r.words() == (f >> 8);
    switch (f) {
    case kDibBitBlt: return noBitmap ? -1 : 8;
    case kDibStretchBlt: return noBitmap ? -1 : 10;
    case kStretchDib: return 11;
    case kSetDibToDev: return 9;
    case kDibCreatePatternBrush: return 2;
    default: return -1;
    }
}

QImage decodeRecordDib(QByteArrayView bytes, bool paletteIndices, qint64 &pixelBudget)
{
    using namespace picture::detail;
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const auto size = std::size_t(bytes.size());
    DibLayout l;
    if (!parseMetafileDib(p, size, paletteIndices, &l, nullptr))
        return {};
    const qint64 pixels = qint64(l.width) * l.height;
    if (l.width > 65535 || l.height > 65535 || pixels > pixelBudget || !dibPlausible(l, qint64(size), nullptr))
        return {};
    QImage img = decodeDib(p, size, l, QSize(), nullptr);
    if (!img.isNull())
        pixelBudget -= pixels;
    return img;
}

}  // namespace pel::wmf
