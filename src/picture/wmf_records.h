#pragma once
// The inside of the metafile reader: record functions, the bounds-checked view of a
// record's parameters, the mapping state, and the parsed document that the player
// replays. Shared by the parser (wmf_parse.cpp) and the player (wmf_player*.cpp).
#include "picture/wmf.h"

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <functional>
#include <queue>
#include <vector>

namespace pel::wmf {

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

bool isCreate(quint16 f);   // creates an object in the table
bool isDrawing(quint16 f);  // draws something
bool isKept(quint16 f);     // acted on at all (the rest are skipped)

constexpr int kMaxSaveDepth = 256;         // SaveDC nesting kept; deeper saves are counted only
constexpr double kTwipsPerPixel = 15.0;    // 96 dpi
constexpr int kMaxRegionRects = 4096;      // rectangles kept of one region
constexpr int kMaxClipRects = 4096;        // rectangles of a clip built by exclusions
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

// Applies a window or viewport record (or SetMapMode) to `m`; false for other records.
bool applyMap(MapState &m, quint16 f, const Rec &r);
// Logical units to the metafile's device space. Until the file sets a viewport of its
// own, the viewport is the picture frame: the window maps onto the frame, which is how
// a placeable metafile is played into a rectangle.
QTransform toDevice(const MapState &m, const QRectF &frameWin);

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
QPainterPath parseRegion(const Rec &r);
// Where the DIB starts in a bitmap record (in words), or -1 for the form without one.
int dibOffset(quint16 f, const Rec &r);
// The bitmap of a record, or a null image for anything broken, unsupported or beyond
// what is left of `pixelBudget` (which it is then charged).
QImage decodeRecordDib(QByteArrayView bytes, bool paletteIndices, qint64 &pixelBudget);

struct Op {
    quint16 func = 0;
    quint32 off = 0;   // parameter bytes in Data::bytes
    quint32 len = 0;
    qint32 extra = -1;  // decoded bitmap (images) or region (regions)
};

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

}  // namespace pel::wmf
