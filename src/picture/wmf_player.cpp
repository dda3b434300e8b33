// The player's device context: pens, brushes, the mapping, clipping, the object
// table and the drawing budget; and the dispatch of each record to its handler.
#include "picture/wmf_player.h"

#include <QPaintDevice>

#include <algorithm>
#include <cmath>

namespace pel::wmf {

QRect pixelRect(const QRectF &f)
{
    const QRectF n = f.normalized();
    return QRect(QPoint(qRound(n.left()), qRound(n.top())), QPoint(qRound(n.right()) - 1, qRound(n.bottom()) - 1));
}

QRegion toRegion(const QPainterPath &path)
{
    QRegion r;
    // Region objects are made of rectangles, and the mapping keeps them rectangles.
    for (const QPolygonF &poly : path.toSubpathPolygons()) {
        if (r.rectCount() >= kMaxClipRects) break;
        r += pixelRect(poly.boundingRect());
    }
    return r;
}

void Player::updateTransform()
{
    t_ = toDevice(dc_.map, d_.frameWin) * toTarget_;
    geometryActive_ = false;
    penDirty_ = brushDirty_ = true;  // cosmetic widths and pattern scales depend on it
}

void Player::useGeometry()
{
    if (geometryActive_) return;
    p_.setWorldTransform(t_ * base_);
    geometryActive_ = true;
}

// A binary raster operation combines pen and destination. We draw onto transparency,
// so the operation is evaluated against white paper, which is what the author saw:
// XOR turns into the inverted colour, NOT into black, and so on.
QColor Player::ropColor(const QColor &c) const
{
    const int table = std::clamp(dc_.rop2, 1, 16) - 1;  // result bit at index pen * 2 + dest
    const bool onPen = (table >> 3) & 1, offPen = (table >> 1) & 1;
    if (onPen && offPen) return Qt::white;
    if (!onPen && !offPen) return Qt::black;
    if (onPen) return c;
    return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue());
}

const QPen &Player::pen()
{
    if (!penDirty_) return qpen_;
    penDirty_ = false;
    const PenObj &pn = dc_.pen;
    const int style = pn.style & 0x0F;
    if (style == 5 || dc_.rop2 == R2Nop) {  // PS_NULL
        qpen_ = QPen(Qt::NoPen);
        return qpen_;
    }
    qpen_ = QPen(ropColor(pn.color));
    const double deviceWidth = pn.width * std::abs(t_.m11());
    if (pn.width <= 0 || deviceWidth < 1) {  // width 0 (and anything thinner): one pixel
        qpen_.setCosmetic(true);
        qpen_.setWidthF(1);
    } else {
        qpen_.setWidthF(pn.width);
    }
    switch (style) {
    case 1: qpen_.setStyle(Qt::DashLine); break;
    case 2: case 8: qpen_.setStyle(Qt::DotLine); break;
    case 3: qpen_.setStyle(Qt::DashDotLine); break;
    case 4: qpen_.setStyle(Qt::DashDotDotLine); break;
    default: break;
    }
    switch (pn.style & 0x0F00) {
    case 0x0100: qpen_.setCapStyle(Qt::SquareCap); break;
    case 0x0200: qpen_.setCapStyle(Qt::FlatCap); break;
    default: qpen_.setCapStyle(Qt::RoundCap); break;
    }
    switch (pn.style & 0xF000) {
    case 0x1000: qpen_.setJoinStyle(Qt::BevelJoin); break;
    case 0x2000: qpen_.setJoinStyle(Qt::MiterJoin); break;
    default: qpen_.setJoinStyle(Qt::RoundJoin); break;
    }
    return qpen_;
}

const QBrush &Player::brush()
{
    if (!brushDirty_) return qbrush_;
    brushDirty_ = false;
    hatched_ = false;
    const BrushObj &b = dc_.brush;
    if (b.style == 1 || dc_.rop2 == R2Nop) {  // BS_NULL
        qbrush_ = QBrush(Qt::NoBrush);
        return qbrush_;
    }
    // Patterns keep their device size whatever the zoom, as on a screen.
    const QTransform unscale = QTransform::fromScale(1 / t_.m11(), 1 / t_.m22());
    if (b.style == 2) {
        static constexpr Qt::BrushStyle kHatch[6] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                     Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        qbrush_ = QBrush(ropColor(b.color), kHatch[std::clamp(b.hatch, 0, 5)]);
        qbrush_.setTransform(unscale);
        hatched_ = true;
    } else if (b.image >= 0 && size_t(b.image) < d_.images.size()) {
        qbrush_ = QBrush(d_.images[size_t(b.image)]);
        qbrush_.setTransform(unscale);
    } else {
        qbrush_ = QBrush(ropColor(b.color));
    }
    return qbrush_;
}

Player::Extent Player::extentOf(const QPolygonF &poly, bool closed) const
{
    Extent e;
    if (poly.isEmpty()) return e;
    const QPointF first = t_.map(poly[0]);
    QPointF prev = first;
    double left = first.x(), right = first.x(), top = first.y(), bottom = first.y();
    auto edge = [&](QPointF q) {
        e.reach += std::abs(q.x() - prev.x()) + std::abs(q.y() - prev.y()) + 1;
        prev = q;
    };
    for (qsizetype i = 1; i < poly.size(); ++i) {
        const QPointF q = t_.map(poly[i]);
        edge(q);
        left = std::min(left, q.x());
        right = std::max(right, q.x());
        top = std::min(top, q.y());
        bottom = std::max(bottom, q.y());
    }
    if (closed) edge(first);
    const QRectF covered = QRectF(QPointF(left, top), QPointF(right, bottom)).intersected(target_);
    e.area = covered.width() * covered.height();
    return e;
}

Player::Extent Player::extentOf(const QPainterPath &path) const
{
    // Curves are measured along their control points, which is never shorter.
    QPolygonF points(path.elementCount());
    for (int i = 0; i < path.elementCount(); ++i) points[i] = path.elementAt(i);
    return extentOf(points, true);
}

Player::Extent Player::extentOf(const QRectF &box) const
{
    const QRectF d = t_.mapRect(box);
    Extent e;
    e.reach = 2 * (d.width() + d.height()) + 4;
    const QRectF covered = d.intersected(target_);
    e.area = covered.width() * covered.height();
    return e;
}

bool Player::afford(double cost)
{
    if (!(cost <= workLeft_)) return false;
    workLeft_ -= cost;
    return true;
}

void Player::applyClip()
{
    // The painter state saved in run() carries the caller's clip and the target clip;
    // going back to it and intersecting is how a smaller clip is widened again.
    p_.restore();
    p_.save();
    geometryActive_ = false;
    if (!dc_.clip.on) return;
    p_.setWorldTransform(base_);
    if (dc_.clip.isRect) p_.setClipRect(dc_.clip.rect, Qt::IntersectClip);
    else p_.setClipRegion(dc_.clip.region, Qt::IntersectClip);
}

void Player::setClip(const Clip &c)
{
    dc_.clip = c;
    applyClip();
}

QPainterPath Player::regionPath(int objIndex) const
{
    if (objIndex < 0 || size_t(objIndex) >= objs_.size()) return {};
    const Obj &o = objs_[size_t(objIndex)];
    if (o.kind != Obj::Region || o.region < 0 || size_t(o.region) >= d_.regions.size()) return {};
    return d_.regions[size_t(o.region)];
}

void Player::create(quint16 f, const Rec &r, const Op &op)
{
    const int slot = slots_.alloc();
    if (slot < 0) return;  // the table is full: GDI fails the creation too
    if (size_t(slot) >= objs_.size()) objs_.resize(size_t(slot) + 1);
    Obj &o = objs_[size_t(slot)];
    o = Obj();
    switch (f) {
    case kCreatePenIndirect:
        o.kind = Obj::Pen;
        o.pen.style = r.u(0);
        o.pen.width = std::abs(r.s(1));
        o.pen.color = r.color(3);
        break;
    case kCreateBrushIndirect:
        o.kind = Obj::Brush;
        o.brush.style = r.u(0);
        o.brush.color = r.color(1);
        o.brush.hatch = r.u(3);
        if (o.brush.style == 3 || o.brush.style > 4) o.brush.style = 0;  // patterns need a bitmap
        break;
    case kDibCreatePatternBrush:
        o.kind = Obj::Brush;
        o.brush.style = 3;
        o.brush.image = op.extra;
        o.brush.color = Qt::gray;  // stands in for a bitmap we could not decode
        break;
    case kCreatePatternBrush:
        o.kind = Obj::Brush;
        o.brush.color = Qt::gray;  // old device-dependent bitmap: shown as a mid tone
        break;
    case kCreateFontIndirect: {
        o.kind = Obj::Font;
        FontObj &fo = o.font;
        fo.id = nextFontId_++;
        fo.height = r.s(0);
        fo.width = std::abs(r.s(1));
        fo.escapement = r.s(2);
        fo.weight = r.s(4);
        fo.italic = r.byte(10);
        fo.underline = r.byte(11);
        fo.strike = r.byte(12);
        fo.charset = r.byte(13);
        const QByteArrayView name = r.bytesFrom(18, 32);
        const qsizetype end = name.indexOf('\0');
        fo.face = decoder_.decode(end >= 0 ? name.first(end) : name, fo.charset == SymbolCharset ? AnsiCharset : fo.charset).trimmed();
        break;
    }
    case kCreateRegion:
        o.kind = Obj::Region;
        o.region = op.extra;
        break;
    default:
        o.kind = Obj::Other;  // palettes, bitmaps: they only hold their slot
        break;
    }
}

void Player::select(int index)
{
    if (index < 0 || size_t(index) >= objs_.size()) return;  // out of range: ignored
    const Obj &o = objs_[size_t(index)];
    switch (o.kind) {
    case Obj::Pen: dc_.pen = o.pen; penDirty_ = true; break;
    case Obj::Brush: dc_.brush = o.brush; brushDirty_ = true; break;
    case Obj::Font: dc_.font = o.font; break;
    case Obj::Region: {  // selecting a region makes it the clip
        Clip c;
        c.on = true;
        c.isRect = false;
        c.region = toRegion(t_.map(regionPath(index)));
        setClip(c);
        break;
    }
    default: break;  // a deleted slot keeps what is selected
    }
}

void Player::deleteObject(int index)
{
    if (std::size_t(index) < objs_.size() && objs_[std::size_t(index)].kind != Obj::Empty) {
        objs_[std::size_t(index)] = Obj();
        slots_.release(index);
    }
}

// The records that only change the device context; false for others.
bool Player::setState(quint16 f, const Rec &r)
{
    switch (f) {
    case kSaveDC:
        if (stack_.size() < std::size_t(kMaxSaveDepth)) stack_.push_back(dc_);
        else ++overflow_;
        return true;
    case kRestoreDC:
        if (restoreFrom(stack_, overflow_, r.s(0), dc_)) {
            updateTransform();
            applyClip();
        }
        return true;
    case kSetBkMode: dc_.opaqueBk = r.u(0) == 2; return true;
    case kSetRop2: dc_.rop2 = r.u(0); penDirty_ = brushDirty_ = true; return true;
    case kSetPolyFillMode: dc_.fill = r.u(0) == 2 ? Qt::WindingFill : Qt::OddEvenFill; return true;
    case kSetTextCharExtra: dc_.charExtra = r.s(0); return true;
    case kSetBkColor: dc_.bk = r.color(0); return true;
    case kSetTextColor: dc_.text = r.color(0); return true;
    case kSetTextAlign: dc_.align = r.u(0); return true;
    case kMoveTo: dc_.cur = r.ptYX(0); return true;
    case kSelectObject: select(r.u(0)); return true;
    case kDeleteObject: deleteObject(r.u(0)); return true;
    default: return false;
    }
}

void Player::step(const Op &op)
{
    const Rec r = d_.rec(op);
    const quint16 f = op.func;
    if (applyMap(dc_.map, f, r)) {
        updateTransform();
        return;
    }
    if (setState(f, r))
        return;
    switch (f) {
    case kLineTo: lineTo(r); break;
    case kPolyline:
    case kPolygon: poly(f, r); break;
    case kPolyPolygon: polyPolygon(r); break;
    case kRectangle:
    case kEllipse:
    case kRoundRect: box(f, r); break;
    case kArc:
    case kPie:
    case kChord: arcLike(f, r); break;
    case kSetPixel: setPixel(r); break;
    case kTextOut: textOut(r); break;
    case kExtTextOut: extTextOut(r); break;
    case kPatBlt: patBlt(QRectF(QPointF(r.s(5), r.s(4)), QSizeF(r.s(3), r.s(2))), r.u32(0)); break;
    case kDibBitBlt:
    case kDibStretchBlt:
    case kStretchDib:
    case kSetDibToDev: bitmapRecord(f, r, op); break;
    case kIntersectClipRect:
    case kExcludeClipRect: clipRect(f, r); break;
    case kOffsetClipRgn: offsetClip(r); break;
    case kSelectClipRegion: selectClipRegion(r); break;
    case kFillRegion:
    case kFrameRegion:
    case kPaintRegion: regionRecord(f, r); break;
    default:
        if (isCreate(f)) create(f, r, op);
        break;
    }
}

void Player::run()
{
    if (!(std::abs(d_.frameDev.width()) > 0) || !(std::abs(d_.frameDev.height()) > 0)) return;
    const double kx = target_.width() / d_.frameDev.width(), ky = target_.height() / d_.frameDev.height();
    toTarget_ = QTransform(kx, 0, 0, ky, target_.x() - d_.frameDev.x() * kx, target_.y() - d_.frameDev.y() * ky);
    base_ = p_.worldTransform();
    p_.save();
    p_.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    p_.setClipRect(target_, Qt::IntersectClip);
    p_.save();
    workLeft_ = std::min(kBudgetCeiling, kBudgetFloor + kBudgetPerPixel * std::abs(target_.width() * target_.height()));
    dc_.map.winOrg = d_.frameWin.topLeft();
    dc_.map.winExt = d_.frameWin.size();
    updateTransform();
    for (const Op &op : d_.ops) step(op);
    p_.restore();
    p_.restore();
}

void Document::paint(QPainter &painter, const QRectF &target) const
{
    if (!d || !painter.isActive() || target.isEmpty()) return;
    Player(*d, painter, target).run();
}

QImage Document::render(QSize size) const
{
    if (!d || size.isEmpty() || qint64(size.width()) * size.height() > (qint64(1) << 27)) return {};
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    if (img.isNull()) return {};
    img.fill(Qt::transparent);
    QPainter painter(&img);
    paint(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    return img;
}

}  // namespace pel::wmf
