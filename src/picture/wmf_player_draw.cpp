// Drawing records: lines, polygons, boxes, arcs, pixels, regions, and the records
// that shape the clip.
#include "picture/wmf_player.h"

#include <QtMath>

#include <algorithm>
#include <cmath>

namespace pel::wmf {

void Player::lineTo(const Rec &r)
{
    const QPointF to = r.ptYX(0);
    const QLineF line(dc_.cur, to);
    shape(false, true, extentOf(QPolygonF({line.p1(), line.p2()}), false), [&] { p_.drawLine(line); });
    dc_.cur = to;
}

void Player::poly(quint16 f, const Rec &r)
{
    const int count = std::min<int>(r.u(0), (r.words() - 1) / 2);
    if (count < 2) return;
    QPolygonF poly(count);
    for (int i = 0; i < count; ++i) poly[i] = r.pt(1 + 2 * i);
    const Extent extent = extentOf(poly, f == kPolygon);
    if (f == kPolyline) shape(false, true, extent, [&] { p_.drawPolyline(poly); });
    else shape(true, true, extent, [&] { p_.drawPolygon(poly, dc_.fill); });
}

void Player::polyPolygon(const Rec &r)
{
    const int polys = r.u(0);
    if (polys <= 0 || 1 + polys > r.words()) return;
    QPainterPath path;
    path.setFillRule(dc_.fill);
    int w = 1 + polys;
    for (int k = 0; k < polys; ++k) {
        const int count = r.u(1 + k);
        if (w + 2 * count > r.words()) break;  // points beyond the record: stop here
        QPolygonF poly(count);
        for (int i = 0; i < count; ++i) poly[i] = r.pt(w + 2 * i);
        w += 2 * count;
        if (count < 2) continue;
        path.addPolygon(poly);
        path.closeSubpath();
    }
    shape(true, true, extentOf(path), [&] { p_.drawPath(path); });
}

// Rectangle, Ellipse and RoundRect.
void Player::box(quint16 f, const Rec &r)
{
    const QRectF box = r.rectBRTL(f == kRoundRect ? 2 : 0).normalized();
    if (f == kRectangle) {
        shape(true, true, extentOf(box), [&] { p_.drawRect(box); });
    } else if (f == kEllipse) {
        shape(true, true, extentOf(box), [&] { p_.drawEllipse(box); });
    } else {
        const double rx = std::min(std::abs(r.s(1)) / 2.0, box.width() / 2),
                     ry = std::min(std::abs(r.s(0)) / 2.0, box.height() / 2);
        shape(true, true, extentOf(box), [&] { p_.drawRoundedRect(box, rx, ry); });
    }
}

void Player::arcLike(quint16 f, const Rec &r)
{
    const QRectF box = r.rectBRTL(4).normalized();
    if (box.width() <= 0 || box.height() <= 0) return;
    const QPointF c = box.center();
    auto angle = [&](QPointF pt) {
        return qRadiansToDegrees(std::atan2(-(pt.y() - c.y()) / box.height(), (pt.x() - c.x()) / box.width()));
    };
    const double start = angle(r.ptYX(2)), end = angle(r.ptYX(0));
    double sweep = end - start;
    if (sweep <= 0) sweep += 360;  // counter-clockwise from start to end; equal = full turn
    QPainterPath path;
    if (f == kPie) {
        path.moveTo(c);
        path.arcTo(box, start, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(box, start);
        path.arcTo(box, start, sweep);
        if (f == kChord) path.closeSubpath();
    }
    shape(f != kArc, true, extentOf(path), [&] { p_.drawPath(path); });
}

void Player::setPixel(const Rec &r)
{
    if (!afford(kDrawCost)) return;
    useGeometry();
    const QPointF at = t_.map(r.ptYX(2));
    p_.setWorldTransform(base_);
    geometryActive_ = false;
    p_.fillRect(QRectF(at, QSizeF(1, 1)), r.color(0));
}

// IntersectClipRect and ExcludeClipRect.
void Player::clipRect(quint16 f, const Rec &r)
{
    const QRectF box = t_.mapRect(r.rectBRTL(0).normalized());
    Clip c = dc_.clip;
    if (f == kIntersectClipRect) {
        if (!c.on) {
            c.on = true;
            c.isRect = true;
            c.rect = box;
        } else if (c.isRect) {
            c.rect = c.rect.intersected(box);
        } else {
            c.region &= pixelRect(box);
        }
    } else {
        // Each exclusion can split the clip further; a file that keeps excluding
        // would make every later clip operation slower, so past a generous size
        // further exclusions are left out.
        if (c.on && !c.isRect && c.region.rectCount() > kMaxClipRects) return;
        const QRegion all = c.on ? c.asRegion() : QRegion(pixelRect(target_));
        c.on = true;
        c.isRect = false;
        c.region = all.subtracted(QRegion(pixelRect(box)));
    }
    setClip(c);
}

void Player::offsetClip(const Rec &r)
{
    if (!dc_.clip.on) return;
    Clip c = dc_.clip;
    const QPointF o = QPointF(r.s(1) * t_.m11(), r.s(0) * t_.m22());
    if (c.isRect) c.rect.translate(o);
    else c.region.translate(o.toPoint());
    setClip(c);
}

void Player::selectClipRegion(const Rec &r)
{
    const QPainterPath region = regionPath(r.u(0));
    Clip c;  // not a region (the null handle): no clip
    if (!region.isEmpty()) {
        c.on = true;
        c.isRect = false;
        c.region = toRegion(t_.map(region));
    }
    setClip(c);
}

// FillRegion, FrameRegion and PaintRegion.
void Player::regionRecord(quint16 f, const Rec &r)
{
    const QPainterPath region = regionPath(r.u(0));
    if (region.isEmpty()) return;
    const BrushObj saved = dc_.brush;
    if (f != kPaintRegion) {
        const int bi = r.u(1);
        if (std::size_t(bi) >= objs_.size() || objs_[std::size_t(bi)].kind != Obj::Brush) return;
        dc_.brush = objs_[std::size_t(bi)].brush;
        brushDirty_ = true;
    }
    if (f == kFrameRegion) {
        // The frame is drawn with the brush: a pen of its colour and the frame width.
        const PenObj savedPen = dc_.pen;
        dc_.pen = PenObj{0, double(std::abs(r.s(3))), dc_.brush.color};
        penDirty_ = true;
        shape(false, true, extentOf(region), [&] { p_.drawPath(region); });
        dc_.pen = savedPen;
        penDirty_ = true;
    } else {
        shape(true, false, extentOf(region), [&] { p_.drawPath(region); });
    }
    dc_.brush = saved;
    brushDirty_ = true;
}

}  // namespace pel::wmf
