#include "picture/wmf.h"

#include "picture/dib.h"
#include "picture/wmf_text.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QRawFont>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QtEndian>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <vector>

namespace pel::wmf {
namespace {

// Record functions we act on (the rest are skipped).
enum Func : quint16 {
    kEof = 0x0000,
    kSaveDC = 0x001E,
    kRestoreDC = 0x0127,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetRop2 = 0x0104,
    kSetPolyFillMode = 0x0106,
    kSetTextCharExtra = 0x0108,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kSetViewportOrg = 0x020D,
    kSetViewportExt = 0x020E,
    kOffsetWindowOrg = 0x020F,
    kOffsetViewportOrg = 0x0211,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kOffsetClipRgn = 0x0220,
    kFillRegion = 0x0228,
    kSetTextAlign = 0x012E,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kInvertRegion = 0x012A,
    kPaintRegion = 0x012B,
    kDeleteObject = 0x01F0,
    kSelectPalette = 0x0234,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kScaleWindowExt = 0x0410,
    kScaleViewportExt = 0x0412,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kRectangle = 0x041B,
    kSetPixel = 0x041F,
    kFrameRegion = 0x0429,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kRoundRect = 0x061C,
    kPatBlt = 0x061D,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kDibStretchBlt = 0x0B41,
    kSetDibToDev = 0x0D33,
    kStretchDib = 0x0F43,
    kCreatePalette = 0x00F7,
    kCreatePatternBrush = 0x01F9,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kCreateBitmapIndirect = 0x02FD,
    kCreateBitmap = 0x06FE,
    kCreateRegion = 0x06FF,
    kDibCreatePatternBrush = 0x0142,
};

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

constexpr quint32 kPlaceableKey = 0x9AC6CDD7;
constexpr int kMaxRecords = 1 << 21;       // far beyond any real file; bounds paint time
constexpr int kMaxSaveDepth = 256;         // SaveDC nesting kept; deeper saves are counted only
constexpr qint64 kPixelBudget = qint64(1) << 25;  // all embedded bitmaps of one file together
constexpr double kTwipsPerPixel = 15.0;    // 96 dpi
constexpr int kMaxRegionRects = 4096;      // rectangles kept of one region
constexpr int kMaxClipRects = 4096;        // rectangles of a clip built by exclusions

// The drawing budget of one render, in target pixels that an edge runs through (a
// stroke touches each of them, a fill makes a cell of each); a covered pixel costs far
// less (1/64), and every drawing costs a little. A picture may reach every pixel of its
// target many times over, but not without bound: long self-crossing polygons of tens
// of thousands of points, or millions of full-size rectangles, would take minutes.
// What would overrun the budget is left out.
constexpr double kDrawCost = 64;           // a drawing call of any size
constexpr double kCoverFactor = 1.0 / 64;  // a covered pixel
constexpr double kAaFillFactor = 8;        // an edge pixel of an antialiased fill
constexpr double kFontCost = 16384;        // realising a font (an unknown face is looked up anew)
constexpr double kBudgetFloor = 4e6, kBudgetPerPixel = 64, kBudgetCeiling = 2.5e8;
// Beyond this reach an antialiased fill no longer fits the rasteriser's cell pool and
// slows down by orders of magnitude; edges that dense gain nothing from antialiasing.
constexpr double kDenseReach = 65536;

// Text alignment, background and ExtTextOut option bits.
constexpr int kTaUpdateCp = 0x0001, kTaRight = 0x0002, kTaCenter = 0x0006, kTaBottom = 0x0008,
              kTaBaseline = 0x0018;
constexpr int kEtoOpaque = 0x0002, kEtoClipped = 0x0004;
constexpr int kMmIsotropic = 7;

// The parameters of one record. Every read is bounds-checked (0 past the end), so
// a short record can never read outside its own bytes.
struct Rec {
    const uchar *p = nullptr;
    qsizetype n = 0;  // bytes

    int words() const { return int(n / 2); }
    quint16 u(int i) const { return i >= 0 && 2 * qsizetype(i) + 2 <= n ? qFromLittleEndian<quint16>(p + 2 * i) : 0; }
    qint16 s(int i) const { return qint16(u(i)); }
    quint32 u32(int i) const { return quint32(u(i)) | quint32(u(i + 1)) << 16; }
    uchar byte(qsizetype k) const { return k >= 0 && k < n ? p[k] : 0; }
    QPointF pt(int i) const { return QPointF(s(i), s(i + 1)); }  // x, y
    QPointF ptYX(int i) const { return QPointF(s(i + 1), s(i)); }  // y first, as most records store it
    QColor color(int i) const { return QColor(byte(2 * i), byte(2 * i + 1), byte(2 * i + 2)); }
    // Bottom, right, top, left (the record order of every rectangle parameter).
    QRectF rectBRTL(int i) const { return QRectF(QPointF(s(i + 3), s(i + 2)), QPointF(s(i + 1), s(i))); }
    QByteArrayView bytesFrom(qsizetype off, qsizetype len) const
    {
        if (off < 0 || len < 0 || off > n) return {};
        return QByteArrayView(reinterpret_cast<const char *>(p + off), std::min(len, n - off));
    }
};

// Window / viewport state: the part of the device context that maps logical units.
struct MapState {
    QPointF winOrg{0, 0};
    QSizeF winExt{1, 1};
    QPointF vpOrg{0, 0};
    QSizeF vpExt{1, 1};
    bool winExtSet = false;
    bool vpExtSet = false;
    int mode = 1;
};

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

// Logical units to the metafile's device space. Until the file sets a viewport of its
// own, the viewport is the picture frame: the window maps onto the frame, which is how
// a placeable metafile is played into a rectangle.
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

// Restores a saved state by RestoreDC's argument: negative = that many levels back,
// positive = the state saved by that SaveDC (1-based). Saves beyond kMaxSaveDepth were
// only counted (`overflow`); they are unwound first.
template <class T>
bool restoreFrom(std::vector<T> &stack, int &overflow, int n, T &out)
{
    if (n < 0) {
        int back = -n;
        const int fromOverflow = std::min(back, overflow);
        overflow -= fromOverflow;
        back -= fromOverflow;
        if (back == 0) return false;
        if (back > int(stack.size())) return false;
        const size_t idx = stack.size() - size_t(back);
        out = stack[idx];
        stack.resize(idx);
        return true;
    }
    if (n > 0 && n <= int(stack.size())) {
        out = stack[size_t(n - 1)];
        stack.resize(size_t(n - 1));
        overflow = 0;
        return true;
    }
    return false;
}

// The object table: the lowest free index is reused first, as GDI does.
class Slots {
public:
    explicit Slots(int limit) : limit_(limit) {}
    int alloc()
    {
        if (!free_.empty()) {
            const int i = free_.top();
            free_.pop();
            return i;
        }
        return next_ < limit_ ? next_++ : -1;
    }
    void release(int i) { free_.push(i); }

private:
    int limit_;
    int next_ = 0;
    std::priority_queue<int, std::vector<int>, std::greater<int>> free_;
};

// A region record's scans as a path of rectangles (logical units).
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

// Where the DIB starts in a bitmap record (in words), or -1 for the form without one.
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

// The bitmap of a record, or a null image for anything broken, unsupported or beyond
// what is left of `pixelBudget` (which it is then charged).
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

struct Op {
    quint16 func = 0;
    quint32 off = 0;   // parameter bytes in Data::bytes
    quint32 len = 0;
    qint32 extra = -1;  // decoded bitmap (images) or region (regions)
};

}  // namespace

struct Document::Data {
    QByteArray bytes;
    std::vector<Op> ops;
    std::vector<QImage> images;
    std::vector<QPainterPath> regions;
    QSizeF twips;
    QRectF frameWin;  // logical rectangle shown (width/height may be negative: a flip)
    QRectF frameDev;  // the same in the metafile's device space
    int objectSlots = 0;

    Rec rec(const Op &op) const
    {
        return Rec{reinterpret_cast<const uchar *>(bytes.constData()) + op.off, qsizetype(op.len)};
    }
};

std::optional<Document> Document::parse(const QByteArray &data, QString *error)
{
    auto fail = [error](const char *why) -> std::optional<Document> {
        if (error) *error = QString::fromLatin1(why);
        return std::nullopt;
    };
    const auto *p = reinterpret_cast<const uchar *>(data.data());
    const qsizetype n = data.size();
    qsizetype off = 0;

    bool placeable = false;
    QRectF bbox;
    int inch = 0;
    if (n >= 4 && qFromLittleEndian<quint32>(p) == kPlaceableKey) {
        if (n < 22) return fail("truncated placeable header");
        placeable = true;
        bbox = QRectF(QPointF(qint16(qFromLittleEndian<quint16>(p + 6)), qint16(qFromLittleEndian<quint16>(p + 8))),
                      QPointF(qint16(qFromLittleEndian<quint16>(p + 10)), qint16(qFromLittleEndian<quint16>(p + 12))));
        inch = qFromLittleEndian<quint16>(p + 14);
        off = 22;
    }
    if (n - off < 18) return fail("too short for a metafile header");
    const quint16 type = qFromLittleEndian<quint16>(p + off), headerWords = qFromLittleEndian<quint16>(p + off + 2),
                  version = qFromLittleEndian<quint16>(p + off + 4);
    if ((type != 1 && type != 2) || headerWords != 9
        || (version != 0x0100 && version != 0x0200 && version != 0x0300))
        return fail("not a Windows metafile (an EMF or another format)");
    const int objectSlots = qFromLittleEndian<quint16>(p + off + 10);
    off += 18;

    auto d = std::make_shared<Data>();
    d->bytes = data;
    d->objectSlots = objectSlots;
    const auto *base = reinterpret_cast<const uchar *>(d->bytes.constData());

    MapState map;
    std::vector<MapState> mapStack;
    int mapOverflow = 0;
    bool drew = false;
    MapState atFirstDraw;
    std::optional<MapState> atFirstExt;
    QRectF bounds;  // logical, for files that give no size at all
    auto grow = [&](const QRectF &r) { bounds = bounds.isNull() ? r : bounds.united(r); };
    // Font heights by object slot, for the text part of those bounds
    // (-1 = free slot, -2 = an object that is not a font).
    Slots table(objectSlots);
    std::vector<int> slotFontHeight(size_t(objectSlots), -1);
    int fontHeight = 12;
    qint64 pixelBudget = kPixelBudget;

    int records = 0;
    while (off < n) {
        if (n - off < 6) break;  // padding after the last record
        const quint32 size = qFromLittleEndian<quint32>(p + off);
        const quint16 f = qFromLittleEndian<quint16>(p + off + 4);
        if (f == kEof) break;
        if (size < 3 || size > quint64(n - off) / 2) return fail("record size out of bounds");
        if (++records > kMaxRecords) break;
        const Rec r{base + off + 6, qsizetype(size) * 2 - 6};
        Op op{f, quint32(off + 6), quint32(r.n), -1};
        off += qsizetype(size) * 2;
        if (!isKept(f)) continue;

        if (applyMap(map, f, r)) {
            if (f == kSetWindowExt && map.winExtSet && !atFirstExt) atFirstExt = map;
        } else if (f == kSaveDC) {
            if (mapStack.size() < size_t(kMaxSaveDepth)) mapStack.push_back(map);
            else ++mapOverflow;
        } else if (f == kRestoreDC) {
            restoreFrom(mapStack, mapOverflow, r.s(0), map);
        } else if (isCreate(f)) {
            const int slot = table.alloc();
            if (slot >= 0) slotFontHeight[size_t(slot)] = f == kCreateFontIndirect ? std::abs(r.s(0)) : -2;
            if (f == kCreateRegion) {
                op.extra = int(d->regions.size());
                d->regions.push_back(parseRegion(r));
            }
        } else if (f == kDeleteObject) {
            if (r.u(0) < slotFontHeight.size() && slotFontHeight[r.u(0)] != -1) {
                slotFontHeight[r.u(0)] = -1;
                table.release(r.u(0));
            }
        } else if (f == kSelectObject) {
            if (r.u(0) < slotFontHeight.size() && slotFontHeight[r.u(0)] > 0)
                fontHeight = slotFontHeight[r.u(0)];
        }

        if (const int dib = dibOffset(f, r); dib >= 0) {
            const bool palIndices = f == kStretchDib ? r.u(2) == 1
                                    : f == kSetDibToDev || f == kDibCreatePatternBrush ? r.u(f == kSetDibToDev ? 0 : 1) == 1
                                                                                       : false;
            const QImage img = decodeRecordDib(r.bytesFrom(qsizetype(dib) * 2, r.n), palIndices, pixelBudget);
            if (!img.isNull()) {
                op.extra = int(d->images.size());
                d->images.push_back(img);
            }
        }

        if (isDrawing(f)) {
            if (!drew) atFirstDraw = map;
            drew = true;
            switch (f) {
            case kLineTo: grow(QRectF(r.ptYX(0), QSizeF(0, 0))); break;
            case kPolygon:
            case kPolyline:
                for (int i = 0; i < r.u(0) && 2 + 2 * i <= r.words(); ++i) grow(QRectF(r.pt(1 + 2 * i), QSizeF(0, 0)));
                break;
            case kEllipse: case kRectangle: case kRoundRect: case kArc: case kPie: case kChord: {
                const int first = f == kRoundRect ? 2 : (f == kEllipse || f == kRectangle) ? 0 : 4;
                grow(r.rectBRTL(first).normalized());
                break;
            }
            case kTextOut: {
                const int len = std::max<int>(0, r.s(0)), at = 1 + (len + 1) / 2;
                grow(QRectF(r.ptYX(at), QSizeF(len * fontHeight * 0.6, fontHeight)));
                break;
            }
            case kExtTextOut:
                grow(QRectF(r.ptYX(0), QSizeF(std::max<int>(0, r.s(2)) * fontHeight * 0.6, fontHeight)));
                break;
            default: break;
            }
        }
        d->ops.push_back(op);
    }

    // The frame: the window when the drawing starts (or the first window set at all),
    // else the placeable bounding box, else the bounds of what is drawn.
    std::optional<MapState> frameState;
    if (drew && atFirstDraw.winExtSet) frameState = atFirstDraw;
    else if (atFirstExt) frameState = atFirstExt;
    const bool bboxOk = placeable && bbox.width() > 0 && bbox.height() > 0;
    if (frameState) {
        d->frameWin = QRectF(frameState->winOrg, frameState->winExt);
        const QTransform t = toDevice(*frameState, d->frameWin);
        const QPointF a = t.map(d->frameWin.topLeft());
        const QPointF b = t.map(d->frameWin.topLeft() + QPointF(d->frameWin.width(), d->frameWin.height()));
        // A viewport of the file's own is in real device units (y down), so the frame
        // there is its normalised rectangle; without one, the signs of the window
        // extent decide the orientation.
        d->frameDev = QRectF(a, QSizeF(b.x() - a.x(), b.y() - a.y()));
        if (frameState->vpExtSet) d->frameDev = d->frameDev.normalized();
    } else if (bboxOk) {
        d->frameWin = d->frameDev = bbox;
    } else if (drew && !bounds.isNull()) {
        d->frameWin = d->frameDev = QRectF(bounds.topLeft(), bounds.size().expandedTo(QSizeF(1, 1)));
    } else {
        return fail("metafile draws nothing and gives no size");
    }

    if (bboxOk && inch > 0)
        d->twips = QSizeF(bbox.width() * 1440.0 / inch, bbox.height() * 1440.0 / inch);
    else if (frameState)
        d->twips = QSizeF(std::abs(frameState->winExt.width()), std::abs(frameState->winExt.height()));
    else
        d->twips = d->frameWin.size() * kTwipsPerPixel;  // logical units of a bare file are pixels

    Document doc;
    doc.d = std::move(d);
    return doc;
}

QSizeF Document::sizeTwips() const { return d ? d->twips : QSizeF(); }

QByteArray Document::bytes() const { return d ? d->bytes : QByteArray(); }

namespace {

struct PenObj {
    int style = 0;
    double width = 0;
    QColor color = Qt::black;
};
struct BrushObj {
    int style = 0;  // BS_SOLID
    QColor color = Qt::white;
    int hatch = 0;
    int image = -1;
};
struct FontObj {
    int id = 0;
    int height = 0;
    int width = 0;  // average character width; 0 = the face's own proportions
    int escapement = 0;
    int weight = 400;
    bool italic = false, underline = false, strike = false;
    int charset = DefaultCharset;
    QString face;
};
struct Obj {
    enum Kind : quint8 { Empty, Pen, Brush, Font, Region, Other } kind = Empty;
    PenObj pen;
    BrushObj brush;
    FontObj font;
    int region = -1;
};

// A rectangle in target coordinates snapped to whole device pixels, as GDI keeps
// its clip regions.
QRect pixelRect(const QRectF &f)
{
    const QRectF n = f.normalized();
    return QRect(QPoint(qRound(n.left()), qRound(n.top())), QPoint(qRound(n.right()) - 1, qRound(n.bottom()) - 1));
}

// The clip in target coordinates: an exact rectangle while it stays one, else a
// region of whole pixels (region operations stay cheap where paths would not).
struct Clip {
    bool on = false;
    bool isRect = true;
    QRectF rect;
    QRegion region;

    QRegion asRegion() const { return isRect ? QRegion(pixelRect(rect)) : region; }
};

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

struct DC {
    PenObj pen;
    BrushObj brush;
    FontObj font;
    QColor text = Qt::black, bk = Qt::white;
    bool opaqueBk = true;
    int align = 0;
    Qt::FillRule fill = Qt::OddEvenFill;
    int rop2 = 13;  // R2_COPYPEN
    double charExtra = 0;
    MapState map;
    Clip clip;
    QPointF cur;
};

constexpr int R2Nop = 11;

class Player {
public:
    Player(const Document::Data &d, QPainter &p, const QRectF &target)
        : d_(d), p_(p), target_(target), slots_(d.objectSlots)
    {
    }
    void run();

private:
    void updateTransform();
    void useGeometry();
    void applyClip();
    const QPen &pen();
    const QBrush &brush();
    QColor ropColor(const QColor &c) const;
    // What a drawing reaches: target pixels along its edges, and the target area it covers.
    struct Extent {
        double reach = 0;
        double area = 0;
    };
    Extent extentOf(const QPolygonF &poly, bool closed) const;
    Extent extentOf(const QPainterPath &path) const;
    Extent extentOf(const QRectF &box) const;
    bool afford(double cost);
    template <class Draw> void shape(bool fill, bool stroke, const Extent &extent, Draw draw);
    void arcLike(quint16 f, const Rec &r);
    void text(QPointF at, QByteArrayView bytes, const std::vector<int> &dx, int opts, const QRectF &rect);
    void ensureFont(double emPx, double widthPx);
    void blit(const QImage &img, QRectF src, const QRectF &dst, quint32 rop);
    void patBlt(const QRectF &dst, quint32 rop);
    void create(quint16 f, const Rec &r, const Op &op);
    void select(int index);
    void setClip(const Clip &c);
    QPainterPath regionPath(int objIndex) const;
    void step(const Op &op);

    const Document::Data &d_;
    QPainter &p_;
    QRectF target_;
    QTransform base_;
    QTransform toTarget_;  // metafile device space -> target
    QTransform t_;         // logical -> target
    bool geometryActive_ = false;
    double workLeft_ = 0;  // of the drawing budget

    std::vector<Obj> objs_;
    Slots slots_;
    int nextFontId_ = 1;
    DC dc_;
    std::vector<DC> stack_;
    int overflow_ = 0;

    bool penDirty_ = true, brushDirty_ = true;
    QPen qpen_;
    QBrush qbrush_;
    bool hatched_ = false;

    TextDecoder decoder_;
    int fontKeyId_ = -1;
    double fontKeyEm_ = -1, fontKeyWidth_ = -1;
    double xScale_ = 1;  // horizontal stretch for fonts that ask for a character width
    QFont qfont_;
    QRawFont rawFont_;
    double ascent_ = 0, descent_ = 0;
    std::vector<std::pair<int, double>> emRatios_;  // font id -> em / cell height
    std::vector<bool> fontSeen_;                     // font ids realised in this render
};

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

template <class Draw>
void Player::shape(bool fill, bool stroke, const Extent &extent, Draw draw)
{
    useGeometry();
    const QBrush &b = fill ? brush() : QBrush();
    const QPen &pn = stroke ? pen() : QPen(Qt::NoPen);
    if (b.style() == Qt::NoBrush && pn.style() == Qt::NoPen) return;
    const bool dense = extent.reach > kDenseReach;
    double cost = kDrawCost;
    if (b.style() != Qt::NoBrush)
        cost += extent.area * kCoverFactor + extent.reach * (dense ? 1 : kAaFillFactor);
    if (pn.style() != Qt::NoPen)
        cost += extent.reach * std::max(1.0, pn.isCosmetic() ? 1.0 : pn.widthF() * std::abs(t_.m11()));
    if (!afford(cost)) return;
    if (dense) p_.setRenderHint(QPainter::Antialiasing, false);
    if (hatched_ && fill && dc_.opaqueBk && b.style() != Qt::NoBrush) {
        p_.setPen(Qt::NoPen);
        p_.setBrush(dc_.bk);
        draw();
    }
    p_.setPen(stroke ? pen() : QPen(Qt::NoPen));
    p_.setBrush(fill ? brush() : QBrush());
    draw();
    if (dense) p_.setRenderHint(QPainter::Antialiasing, true);
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

void Player::ensureFont(double emPx, double widthPx)
{
    const FontObj &f = dc_.font;
    if (f.id == fontKeyId_ && std::abs(emPx - fontKeyEm_) < 1e-3 && std::abs(widthPx - fontKeyWidth_) < 1e-3)
        return;
    fontKeyId_ = f.id;
    fontKeyEm_ = emPx;
    fontKeyWidth_ = widthPx;
    qfont_ = QFont();
    // Symbol and MT Extra text is decoded to real Greek and mathematical characters,
    // which any serif face has; a font of that name here may use a private encoding.
    if (TextDecoder::isMathFont(f.charset, f.face))
        qfont_.setFamilies({QStringLiteral("serif")});
    else if (!f.face.isEmpty())
        qfont_.setFamilies({f.face});
    qfont_.setWeight(QFont::Weight(f.weight <= 0 ? 400 : std::clamp(f.weight, 1, 1000)));
    qfont_.setItalic(f.italic);
    qfont_.setUnderline(f.underline);
    qfont_.setStrikeOut(f.strike);
    // Unhinted outlines scale smoothly with the picture.
    qfont_.setHintingPreference(QFont::PreferNoHinting);
    const int dpi = p_.device() ? p_.device()->logicalDpiY() : 96;
    qfont_.setPointSizeF(emPx * 72.0 / (dpi > 0 ? dpi : 96));
    const QFontMetricsF fm(qfont_, p_.device());
    ascent_ = fm.ascent();
    descent_ = fm.descent();
    rawFont_ = QRawFont::fromFont(qfont_);
    const double average = fm.averageCharWidth();
    xScale_ = widthPx > 0 && average > 0 ? std::clamp(widthPx / average, 0.05, 20.0) : 1.0;
}

void Player::text(QPointF at, QByteArrayView bytes, const std::vector<int> &dx, int opts, const QRectF &rect)
{
    const FontObj &f = dc_.font;
    if (dc_.align & kTaUpdateCp) at = dc_.cur;
    const double sx = std::abs(t_.m11()), sy = std::abs(t_.m22());
    // Realising a font the first time costs far more than drawing its glyphs (a face we
    // do not have is looked up anew each time), switching back to one much less: a file
    // of thousands of fonts pays for each, an equation switching among three does not.
    if (f.id != fontKeyId_) {
        const bool seen = size_t(f.id) < fontSeen_.size() && fontSeen_[size_t(f.id)];
        if (!afford(seen ? kFontCost / 16 : kFontCost)) return;
        if (size_t(f.id) >= fontSeen_.size()) fontSeen_.resize(size_t(f.id) + 1);
        fontSeen_[size_t(f.id)] = true;
    }

    double emPx;
    if (f.height == 0) {
        emPx = 16.0 * std::abs(target_.height()) * kTwipsPerPixel / std::max(1.0, d_.twips.height());
    } else if (f.height < 0) {
        emPx = -f.height * sy;
    } else {  // positive: the cell height, which includes the internal leading
        auto it = std::find_if(emRatios_.begin(), emRatios_.end(), [&](auto &e) { return e.first == f.id; });
        if (it == emRatios_.end()) {
            QFont probe;
            if (!f.face.isEmpty()) probe.setFamilies({f.face});
            probe.setPixelSize(256);
            const QFontMetricsF fm(probe);
            emRatios_.emplace_back(f.id, fm.height() > 0 ? 256.0 / (fm.ascent() + fm.descent()) : 1.0);
            it = emRatios_.end() - 1;
        }
        emPx = f.height * sy * it->second;
    }
    if (!(emPx >= 0.5 && emPx <= 32768)) return;  // invisible, or absurd
    // Each glyph covers about an em square (no more than the whole target); an opaque
    // box covers its rectangle.
    const double targetArea = std::abs(target_.width() * target_.height());
    const double glyph = kDrawCost / 4 + std::min(emPx * emPx, targetArea) * kCoverFactor;
    if (!afford(kDrawCost + glyph * double(bytes.size()) + (rect.isValid() ? extentOf(rect).area * kCoverFactor : 0)))
        return;
    ensureFont(emPx, f.width * sx);

    const DecodedText decoded = dx.empty() ? DecodedText{decoder_.decode(bytes, f.charset, f.face), {}}
                                           : decoder_.decodeWithOffsets(bytes, f.charset, f.face);
    const QString &s = decoded.text;
    if (s.isEmpty()) return;
    // With a Dx array, each character starts where the advances of the bytes before it
    // put it (device units along the baseline).
    std::vector<double> dxBefore;
    double width = 0;
    if (!dx.empty()) {
        dxBefore.resize(dx.size() + 1, 0);
        for (size_t b = 0; b < dx.size(); ++b) dxBefore[b + 1] = dxBefore[b] + dx[b] * sx;
        width = dxBefore.back();
    }
    auto startOf = [&](qsizetype unit) { return dxBefore[size_t(decoded.firstByte[size_t(unit)])]; };

    // On raster targets the glyphs are placed by hand (GDI places characters by their
    // advances, without kerning), which is also far cheaper than text layout. Other
    // devices (a PDF, a recording) get real text; so does a string the font cannot
    // show, for Qt's font fallback to find its glyphs.
    QGlyphRun run;
    const bool raster = p_.paintEngine() && p_.paintEngine()->type() == QPaintEngine::Raster;
    if (raster && rawFont_.isValid()) {
        const QList<quint32> glyphs = rawFont_.glyphIndexesForString(s);
        bool complete = glyphs.size() == s.size();
        for (qsizetype i = 0; complete && i < glyphs.size(); ++i)
            complete = glyphs[i] != 0 || s[i].isSpace() || s[i].isSurrogate();
        if (complete) {
            QList<QPointF> positions(glyphs.size());
            bool needAdvances = dx.empty();
            for (qsizetype g = 1; !needAdvances && g < glyphs.size(); ++g)
                needAdvances = decoded.firstByte[size_t(g)] == decoded.firstByte[size_t(g - 1)];
            const QList<QPointF> advances =
                needAdvances ? rawFont_.advancesForGlyphIndexes(glyphs, QRawFont::UseDesignMetrics) : QList<QPointF>();
            double x = 0;
            for (qsizetype g = 0; g < glyphs.size(); ++g) {
                // A character spread over two units (a surrogate pair) continues by advance.
                if (!dx.empty() && (g == 0 || decoded.firstByte[size_t(g)] != decoded.firstByte[size_t(g - 1)]))
                    x = startOf(g);
                positions[g] = QPointF(x / xScale_, 0);
                if (needAdvances) x += advances[g].x() * xScale_ + (dx.empty() ? dc_.charExtra * sx : 0);
            }
            if (dx.empty()) width = x;
            run.setRawFont(rawFont_);
            run.setGlyphIndexes(glyphs);
            run.setPositions(positions);
            run.setUnderline(f.underline);
            run.setStrikeOut(f.strike);
        }
    }
    if (run.isEmpty() && dx.empty()) {
        qfont_.setLetterSpacing(QFont::AbsoluteSpacing, dc_.charExtra * sx / xScale_);
        width = QFontMetricsF(qfont_, p_.device()).horizontalAdvance(s) * xScale_;
    }

    double x0 = 0;
    if ((dc_.align & kTaCenter) == kTaCenter) x0 = -width / 2;
    else if (dc_.align & kTaRight) x0 = -width;
    double baseline = ascent_;
    if ((dc_.align & kTaBaseline) == kTaBaseline) baseline = 0;
    else if (dc_.align & kTaBottom) baseline = -descent_;

    const bool hasRect = (opts & (kEtoOpaque | kEtoClipped)) && rect.isValid();
    if (hasRect && (opts & kEtoOpaque)) {
        useGeometry();
        p_.fillRect(rect, dc_.bk);
    }
    const bool clipped = hasRect && (opts & kEtoClipped);
    if (clipped) {
        p_.save();
        useGeometry();
        p_.setClipRect(rect, Qt::IntersectClip);
    }

    const QPointF origin = t_.map(at);
    QTransform tt;
    tt.translate(origin.x(), origin.y());
    if (f.escapement) tt.rotate(-f.escapement / 10.0);  // tenths of a degree, counter-clockwise
    geometryActive_ = false;
    if (dc_.opaqueBk && !(opts & kEtoOpaque)) {
        p_.setWorldTransform(tt * base_);
        p_.fillRect(QRectF(x0, baseline - ascent_, width, ascent_ + descent_), dc_.bk);
    }
    p_.setWorldTransform(QTransform::fromScale(xScale_, 1) * tt * base_);
    p_.setPen(dc_.text);
    if (!run.isEmpty()) {
        p_.drawGlyphRun(QPointF(x0 / xScale_, baseline), run);
    } else {
        p_.setFont(qfont_);
        if (dx.empty()) {
            p_.drawText(QPointF(x0 / xScale_, baseline), s);
        } else {  // each character where its Dx entries put it
            for (qsizetype i = 0; i < s.size();) {
                qsizetype end = i + 1;
                while (end < s.size() && decoded.firstByte[size_t(end)] == decoded.firstByte[size_t(i)]) ++end;
                p_.drawText(QPointF((x0 + startOf(i)) / xScale_, baseline), s.mid(i, end - i));
                i = end;
            }
        }
    }
    if (clipped) {
        p_.restore();
        geometryActive_ = false;
    }

    if ((dc_.align & kTaUpdateCp) && sx > 0) {
        const double advance = width / sx * (t_.m11() < 0 ? -1 : 1);
        if ((dc_.align & kTaCenter) == kTaCenter) {
        } else if (dc_.align & kTaRight) {
            dc_.cur.rx() -= advance;
        } else {
            dc_.cur.rx() += advance;
        }
    }
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

void Player::step(const Op &op)
{
    const Rec r = d_.rec(op);
    const quint16 f = op.func;
    if (applyMap(dc_.map, f, r)) {
        updateTransform();
        return;
    }
    switch (f) {
    case kSaveDC:
        if (stack_.size() < size_t(kMaxSaveDepth)) stack_.push_back(dc_);
        else ++overflow_;
        break;
    case kRestoreDC:
        if (restoreFrom(stack_, overflow_, r.s(0), dc_)) {
            updateTransform();
            applyClip();
        }
        break;
    case kSetBkMode: dc_.opaqueBk = r.u(0) == 2; break;
    case kSetRop2: dc_.rop2 = r.u(0); penDirty_ = brushDirty_ = true; break;
    case kSetPolyFillMode: dc_.fill = r.u(0) == 2 ? Qt::WindingFill : Qt::OddEvenFill; break;
    case kSetTextCharExtra: dc_.charExtra = r.s(0); break;
    case kSetBkColor: dc_.bk = r.color(0); break;
    case kSetTextColor: dc_.text = r.color(0); break;
    case kSetTextAlign: dc_.align = r.u(0); break;
    case kMoveTo: dc_.cur = r.ptYX(0); break;
    case kLineTo: {
        const QPointF to = r.ptYX(0);
        const QLineF line(dc_.cur, to);
        shape(false, true, extentOf(QPolygonF({line.p1(), line.p2()}), false), [&] { p_.drawLine(line); });
        dc_.cur = to;
        break;
    }
    case kPolyline:
    case kPolygon: {
        const int count = std::min<int>(r.u(0), (r.words() - 1) / 2);
        if (count < 2) break;
        QPolygonF poly(count);
        for (int i = 0; i < count; ++i) poly[i] = r.pt(1 + 2 * i);
        const Extent extent = extentOf(poly, f == kPolygon);
        if (f == kPolyline) shape(false, true, extent, [&] { p_.drawPolyline(poly); });
        else shape(true, true, extent, [&] { p_.drawPolygon(poly, dc_.fill); });
        break;
    }
    case kPolyPolygon: {
        const int polys = r.u(0);
        if (polys <= 0 || 1 + polys > r.words()) break;
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
        break;
    }
    case kRectangle: {
        const QRectF box = r.rectBRTL(0).normalized();
        shape(true, true, extentOf(box), [&] { p_.drawRect(box); });
        break;
    }
    case kEllipse: {
        const QRectF box = r.rectBRTL(0).normalized();
        shape(true, true, extentOf(box), [&] { p_.drawEllipse(box); });
        break;
    }
    case kRoundRect: {
        const QRectF box = r.rectBRTL(2).normalized();
        const double rx = std::min(std::abs(r.s(1)) / 2.0, box.width() / 2),
                     ry = std::min(std::abs(r.s(0)) / 2.0, box.height() / 2);
        shape(true, true, extentOf(box), [&] { p_.drawRoundedRect(box, rx, ry); });
        break;
    }
    case kArc:
    case kPie:
    case kChord: arcLike(f, r); break;
    case kSetPixel: {
        if (!afford(kDrawCost)) break;
        useGeometry();
        const QPointF at = t_.map(r.ptYX(2));
        p_.setWorldTransform(base_);
        geometryActive_ = false;
        p_.fillRect(QRectF(at, QSizeF(1, 1)), r.color(0));
        break;
    }
    case kTextOut: {
        const int len = r.s(0);
        if (len <= 0 || 2 + qsizetype(len) > r.n) break;
        const int at = 1 + (len + 1) / 2;
        if (at + 2 > r.words()) break;
        text(r.ptYX(at), r.bytesFrom(2, len), {}, 0, {});
        break;
    }
    case kExtTextOut: {
        const int len = r.s(2), opts = r.u(3);
        const bool hasRect = opts & (kEtoOpaque | kEtoClipped);
        const int strWord = hasRect ? 8 : 4;
        QRectF rect;
        if (hasRect) rect = QRectF(QPointF(r.s(4), r.s(5)), QPointF(r.s(6), r.s(7))).normalized();
        if (len < 0 || 2 * qsizetype(strWord) + len > r.n) break;
        if (len == 0) {  // an opaque rectangle alone
            if ((opts & kEtoOpaque) && afford(kDrawCost + extentOf(rect).area * kCoverFactor)) {
                useGeometry();
                p_.fillRect(rect, dc_.bk);
            }
            break;
        }
        std::vector<int> dx;
        const int dxWord = strWord + (len + 1) / 2;
        if (dxWord + len <= r.words()) {
            dx.resize(size_t(len));
            for (int i = 0; i < len; ++i) dx[size_t(i)] = r.s(dxWord + i);
        }
        text(r.ptYX(0), r.bytesFrom(2 * qsizetype(strWord), len), dx, opts, rect);
        break;
    }
    case kPatBlt:
        patBlt(QRectF(QPointF(r.s(5), r.s(4)), QSizeF(r.s(3), r.s(2))), r.u32(0));
        break;
    case kDibBitBlt:
    case kDibStretchBlt:
    case kStretchDib:
    case kSetDibToDev: {
        if (dibOffset(f, r) < 0) {  // no bitmap: a pattern operation on the destination
            if (f == kDibBitBlt) patBlt(QRectF(QPointF(r.s(8), r.s(7)), QSizeF(r.s(6), r.s(5))), r.u32(0));
            else patBlt(QRectF(QPointF(r.s(10), r.s(9)), QSizeF(r.s(8), r.s(7))), r.u32(0));
            break;
        }
        if (op.extra < 0 || size_t(op.extra) >= d_.images.size()) break;  // broken bitmap: skipped
        const QImage &img = d_.images[size_t(op.extra)];
        const int dibWord = dibOffset(f, r);
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
        break;
    }
    case kSelectObject: select(r.u(0)); break;
    case kDeleteObject: {
        const int i = r.u(0);
        if (size_t(i) < objs_.size() && objs_[size_t(i)].kind != Obj::Empty) {
            objs_[size_t(i)] = Obj();
            slots_.release(i);
        }
        break;
    }
    case kIntersectClipRect:
    case kExcludeClipRect: {
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
            if (c.on && !c.isRect && c.region.rectCount() > kMaxClipRects) break;
            const QRegion all = c.on ? c.asRegion() : QRegion(pixelRect(target_));
            c.on = true;
            c.isRect = false;
            c.region = all.subtracted(QRegion(pixelRect(box)));
        }
        setClip(c);
        break;
    }
    case kOffsetClipRgn: {
        if (!dc_.clip.on) break;
        Clip c = dc_.clip;
        const QPointF o = QPointF(r.s(1) * t_.m11(), r.s(0) * t_.m22());
        if (c.isRect) c.rect.translate(o);
        else c.region.translate(o.toPoint());
        setClip(c);
        break;
    }
    case kSelectClipRegion: {
        const QPainterPath region = regionPath(r.u(0));
        Clip c;  // not a region (the null handle): no clip
        if (!region.isEmpty()) {
            c.on = true;
            c.isRect = false;
            c.region = toRegion(t_.map(region));
        }
        setClip(c);
        break;
    }
    case kFillRegion:
    case kFrameRegion:
    case kPaintRegion: {
        const QPainterPath region = regionPath(r.u(0));
        if (region.isEmpty()) break;
        const BrushObj saved = dc_.brush;
        if (f != kPaintRegion) {
            const int bi = r.u(1);
            if (size_t(bi) >= objs_.size() || objs_[size_t(bi)].kind != Obj::Brush) break;
            dc_.brush = objs_[size_t(bi)].brush;
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
        break;
    }
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

}  // namespace

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
