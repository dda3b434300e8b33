// Bitmap records: a DIB copied or stretched onto the picture with its raster
// operation, and the pattern operations of the records that carry no bitmap.
#include "picture/wmf_player.h"

namespace pel::wmf {

// DibBitBlt, DibStretchBlt, StretchDIBits and SetDIBitsToDevice.
void Player::bitmapRecord(quint16 f, const Rec &r, const Op &op)
{
    const int dibWord = dibOffset(f, r);
    if (dibWord < 0) {  // no bitmap: a pattern operation on the destination
        if (f == kDibBitBlt) patBlt(QRectF(QPointF(r.s(8), r.s(7)), QSizeF(r.s(6), r.s(5))), r.u32(0));
        else patBlt(QRectF(QPointF(r.s(10), r.s(9)), QSizeF(r.s(8), r.s(7))), r.u32(0));
        return;
    }
    if (op.extra < 0 || std::size_t(op.extra) >= d_.images.size()) return;  // broken bitmap: skipped
    const QImage &img = d_.images[std::size_t(op.extra)];
    const bool bottomUp = qint32(r.u32(dibWord + 4)) > 0 && r.u32(dibWord) != 12;
    QRectF src, dst;
    quint32 rop = 0x00CC0020;
    switch (f) {
    case kDibBitBlt:
        rop = r.u32(0);
        src = QRectF(r.s(3), r.s(2), r.s(5), r.s(4));
        dst = QRectF(r.s(7), r.s(6), r.s(5), r.s(4));
        break;
    case kDibStretchBlt:
        rop = r.u32(0);
        src = QRectF(r.s(5), r.s(4), r.s(3), r.s(2));
        dst = QRectF(r.s(9), r.s(8), r.s(7), r.s(6));
        break;
    case kStretchDib:
        rop = r.u32(0);
        src = QRectF(r.s(6), r.s(5), r.s(4), r.s(3));
        dst = QRectF(r.s(10), r.s(9), r.s(8), r.s(7));
        // The source rectangle of a bottom-up DIB counts from its bottom row.
        if (bottomUp) src.moveTop(img.height() - src.y() - src.height());
        break;
    default:  // SetDIBitsToDevice: no stretching
        src = QRectF(r.s(4), r.s(3), r.s(6), r.s(5));
        if (bottomUp) src.moveTop(img.height() - src.y() - src.height());
        dst = QRectF(r.s(8), r.s(7), r.s(6), r.s(5));
        break;
    }
    blit(img, src.normalized(), dst, rop);
}

void Player::blit(const QImage &img, QRectF src, const QRectF &dst, quint32 rop)
{
    src = src.intersected(QRectF(img.rect()));
    if (src.isEmpty() || dst.width() == 0 || dst.height() == 0) return;
    // A smooth scaled copy costs a few cover costs per target pixel.
    if (!afford(kDrawCost + extentOf(dst.normalized()).area * kCoverFactor * 8)) return;
    QImage shown = img;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (rop) {
    case 0x008800C6:  // SRCAND: white leaves the destination alone
        shown = img.copy();
        for (int y = 0; y < shown.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(shown.scanLine(y));
            for (int x = 0; x < shown.width(); ++x)
                if ((line[x] & 0xFFFFFF) == 0xFFFFFF) line[x] = 0;
        }
        mode = QPainter::CompositionMode_Multiply;
        break;
    case 0x00EE0086:  // SRCPAINT, SRCINVERT: black leaves the destination alone
    case 0x00660046:
        shown = img.copy();
        for (int y = 0; y < shown.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(shown.scanLine(y));
            for (int x = 0; x < shown.width(); ++x)
                if ((line[x] & 0xFFFFFF) == 0) line[x] = 0;
        }
        break;
    case 0x00330008:  // NOTSRCCOPY
        shown = img.copy();
        shown.invertPixels();
        break;
    case 0x00AA0029:  // destination unchanged
        return;
    default: break;
    }
    // Image pixels -> logical units: a negative destination extent mirrors, as in GDI.
    const double kx = dst.width() / src.width(), ky = dst.height() / src.height();
    const QTransform m(kx, 0, 0, ky, dst.x() - src.x() * kx, dst.y() - src.y() * ky);
    p_.setWorldTransform(m * t_ * base_);
    geometryActive_ = false;
    p_.setCompositionMode(mode);
    p_.drawImage(src.topLeft(), shown, src);
    p_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void Player::patBlt(const QRectF &dst, quint32 rop)
{
    const QRectF r = dst.normalized();
    if (r.isEmpty() || !afford(kDrawCost + extentOf(r).area * kCoverFactor)) return;
    useGeometry();
    switch (rop) {
    case 0x00000042: p_.fillRect(r, Qt::black); break;  // BLACKNESS
    case 0x00FF0062: p_.fillRect(r, Qt::white); break;  // WHITENESS
    case 0x00AA0029:                                     // destination unchanged
    case 0x00550009:                                     // DSTINVERT: no destination to invert
        break;
    default:
        if (brush().style() != Qt::NoBrush) p_.fillRect(r, brush());
        break;
    }
}

}  // namespace pel::wmf
