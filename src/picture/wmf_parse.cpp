// Reading a metafile: its headers, one walk over its records (kept for the player,
// with their bitmaps and regions decoded once), and the frame and size it is shown at.
#include "picture/wmf_records.h"

#include <QtEndian>

#include <cmath>
#include <optional>

namespace pel::wmf {
namespace {

constexpr quint32 kPlaceableKey = 0x9AC6CDD7;
constexpr int kMaxRecords = 1 << 21;              // far beyond any real file; bounds paint time
constexpr qint64 kPixelBudget = qint64(1) << 25;  // all embedded bitmaps of one file together

quint16 le16(const uchar *p) { return qFromLittleEndian<quint16>(p); }

struct Header {
    bool placeable = false;
    QRectF bbox;  // of the placeable header
    int inch = 0;  // its units per inch
    int objectSlots = 0;
    qsizetype recordsAt = 0;  // where the first record starts
};

// The placeable header, if any, and the metafile header; nullptr, or why not.
const char *readHeader(const uchar *p, qsizetype n, Header *h)
{
    qsizetype off = 0;
    if (n >= 4 && qFromLittleEndian<quint32>(p) == kPlaceableKey) {
        if (n < 22)
            return "truncated placeable header";
        h->placeable = true;
        h->bbox = QRectF(QPointF(qint16(le16(p + 6)), qint16(le16(p + 8))),
                         QPointF(qint16(le16(p + 10)), qint16(le16(p + 12))));
        h->inch = le16(p + 14);
        off = 22;
    }
    if (n - off < 18)
        return "too short for a metafile header";
    const quint16 type = le16(p + off), headerWords = le16(p + off + 2), version = le16(p + off + 4);
    if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0200 && version != 0x0300))
        return "not a Windows metafile (an EMF or another format)";
    h->objectSlots = le16(p + off + 10);
    h->recordsAt = off + 18;
    return nullptr;
}

// What the walk over the records learns besides the records themselves: the mapping
// at the first drawing and at the first window extent (either may be the frame), and
// the bounds of what is drawn, for files that give no size at all.
class Walk {
public:
    Walk(Document::Data &d, int objectSlots)
        : d_(d), table_(objectSlots), slotFontHeight_(std::size_t(objectSlots), -1) {}

    // Takes in one kept record; `op.extra` gets its bitmap or region.
    void record(quint16 f, const Rec &r, Op &op)
    {
        track(f, r, op);
        if (const int dib = dibOffset(f, r); dib >= 0) {
            const bool palIndices = f == kStretchDib      ? r.u(2) == 1
                                    : f == kSetDibToDev   ? r.u(0) == 1
                                    : f == kDibCreatePatternBrush ? r.u(1) == 1
                                                          : false;
            const QImage img = decodeRecordDib(r.bytesFrom(qsizetype(dib) * 2, r.n), palIndices, pixelBudget_);
            if (!img.isNull()) {
                op.extra = int(d_.images.size());
                d_.images.push_back(img);
            }
        }
        if (isDrawing(f)) {
            if (!drew_)
                atFirstDraw_ = map_;
            drew_ = true;
            grow(f, r);
        }
    }

    bool drew() const { return drew_; }
    const MapState &atFirstDraw() const { return atFirstDraw_; }
    const std::optional<MapState> &atFirstExt() const { return atFirstExt_; }
    const QRectF &bounds() const { return bounds_; }

private:
    // The mapping and the object table, as the player will have them.
    void track(quint16 f, const Rec &r, Op &op)
    {
        if (applyMap(map_, f, r)) {
            if (f == kSetWindowExt && map_.winExtSet && !atFirstExt_)
                atFirstExt_ = map_;
        } else if (f == kSaveDC) {
            if (mapStack_.size() < std::size_t(kMaxSaveDepth))
                mapStack_.push_back(map_);
            else
                ++mapOverflow_;
        } else if (f == kRestoreDC) {
            restoreFrom(mapStack_, mapOverflow_, r.s(0), map_);
        } else if (isCreate(f)) {
            const int slot = table_.alloc();
            if (slot >= 0)
                slotFontHeight_[std::size_t(slot)] = f == kCreateFontIndirect ? std::abs(r.s(0)) : -2;
            if (f == kCreateRegion) {
                op.extra = int(d_.regions.size());
                d_.regions.push_back(parseRegion(r));
            }
        } else if (f == kDeleteObject) {
            if (r.u(0) < slotFontHeight_.size() && slotFontHeight_[r.u(0)] != -1) {
                slotFontHeight_[r.u(0)] = -1;
                table_.release(r.u(0));
            }
        } else if (f == kSelectObject) {
            if (r.u(0) < slotFontHeight_.size() && slotFontHeight_[r.u(0)] > 0)
                fontHeight_ = slotFontHeight_[r.u(0)];
        }
    }

    // The bounds of a drawing record, roughly (text by its length and the font's height).
    void grow(quint16 f, const Rec &r)
    {
        auto add = [this](const QRectF &box) { bounds_ = bounds_.isNull() ? box : bounds_.united(box); };
        switch (f) {
        case kLineTo: add(QRectF(r.ptYX(0), QSizeF(0, 0))); break;
        case kPolygon:
        case kPolyline:
            for (int i = 0; i < r.u(0) && 2 + 2 * i <= r.words(); ++i)
                add(QRectF(r.pt(1 + 2 * i), QSizeF(0, 0)));
            break;
        case kEllipse: case kRectangle: case kRoundRect: case kArc: case kPie: case kChord: {
            const int first = f == kRoundRect ? 2 : (f == kEllipse || f == kRectangle) ? 0 : 4;
            add(r.rectBRTL(first).normalized());
            break;
        }
        case kTextOut: {
            const int len = std::max<int>(0, r.s(0)), at = 1 + (len + 1) / 2;
            add(QRectF(r.ptYX(at), QSizeF(len * fontHeight_ * 0.6, fontHeight_)));
            break;
        }
        case kExtTextOut:
            add(QRectF(r.ptYX(0), QSizeF(std::max<int>(0, r.s(2)) * fontHeight_ * 0.6, fontHeight_)));
            break;
        default: break;
        }
    }

    Document::Data &d_;
    MapState map_;
    std::vector<MapState> mapStack_;
    int mapOverflow_ = 0;
    bool drew_ = false;
    MapState atFirstDraw_;
    std::optional<MapState> atFirstExt_;
    QRectF bounds_;  // logical
    // Font heights by object slot, for the text part of the bounds
    // (-1 = free slot, -2 = an object that is not a font).
    Slots table_;
    std::vector<int> slotFontHeight_;
    int fontHeight_ = 12;
    qint64 pixelBudget_ = kPixelBudget;
};

// Walks the records from `off`, bounded by the data (never by the header's size
// fields); nullptr, or why the file is refused.
const char *readRecords(Document::Data &d, qsizetype off, Walk &walk)
{
    const auto *p = reinterpret_cast<const uchar *>(d.bytes.constData());
    const qsizetype n = d.bytes.size();
    int records = 0;
    while (n - off >= 6) {  // anything shorter is padding after the last record
        const quint32 size = qFromLittleEndian<quint32>(p + off);
        const quint16 f = le16(p + off + 4);
        if (f == kEof)
            break;
        if (size < 3 || size > quint64(n - off) / 2)
            return "record size out of bounds";
        if (++records > kMaxRecords)
            break;
        Op op{f, quint32(off + 6), quint32(qsizetype(size) * 2 - 6), -1};
        off += qsizetype(size) * 2;
        if (!isKept(f))
            continue;
        walk.record(f, d.rec(op), op);
        d.ops.push_back(op);
    }
    return nullptr;
}

// The frame: the window when the drawing starts (or the first window set at all),
// else the placeable bounding box, else the bounds of what is drawn; and the size.
const char *placeFrame(Document::Data &d, const Header &h, const Walk &walk)
{
    std::optional<MapState> frameState;
    if (walk.drew() && walk.atFirstDraw().winExtSet)
        frameState = walk.atFirstDraw();
    else if (walk.atFirstExt())
        frameState = walk.atFirstExt();
    const bool bboxOk = h.placeable && h.bbox.width() > 0 && h.bbox.height() > 0;
    if (frameState) {
        d.frameWin = QRectF(frameState->winOrg, frameState->winExt);
        const QTransform t = toDevice(*frameState, d.frameWin);
        const QPointF a = t.map(d.frameWin.topLeft());
        const QPointF b = t.map(d.frameWin.topLeft() + QPointF(d.frameWin.width(), d.frameWin.height()));
        // A viewport of the file's own is in real device units (y down), so the frame
        // there is its normalised rectangle; without one, the signs of the window
        // extent decide the orientation.
        d.frameDev = QRectF(a, QSizeF(b.x() - a.x(), b.y() - a.y()));
        if (frameState->vpExtSet)
            d.frameDev = d.frameDev.normalized();
    } else if (bboxOk) {
        d.frameWin = d.frameDev = h.bbox;
    } else if (walk.drew() && !walk.bounds().isNull()) {
        d.frameWin = d.frameDev = QRectF(walk.bounds().topLeft(), walk.bounds().size().expandedTo(QSizeF(1, 1)));
    } else {
        return "metafile draws nothing and gives no size";
    }

    if (bboxOk && h.inch > 0)
        d.twips = QSizeF(h.bbox.width() * 1440.0 / h.inch, h.bbox.height() * 1440.0 / h.inch);
    else if (frameState)
        d.twips = QSizeF(std::abs(frameState->winExt.width()), std::abs(frameState->winExt.height()));
    else
        d.twips = d.frameWin.size() * kTwipsPerPixel;  // logical units of a bare file are pixels
    return nullptr;
}

}  // namespace

std::optional<Document> Document::parse(const QByteArray &data, QString *error)
{
    Header header;
    const char *why = readHeader(reinterpret_cast<const uchar *>(data.constData()), data.size(), &header);
    auto d = std::make_shared<Data>();
    if (!why) {
        d->bytes = data;
        d->objectSlots = header.objectSlots;
        Walk walk(*d, header.objectSlots);
        why = readRecords(*d, header.recordsAt, walk);
        if (!why)
            why = placeFrame(*d, header, walk);
    }
    if (why) {
        if (error)
            *error = QString::fromLatin1(why);
        return std::nullopt;
    }
    Document doc;
    doc.d = std::move(d);
    return doc;
}

QSizeF Document::sizeTwips() const { return d ? d->twips : QSizeF(); }

QByteArray Document::bytes() const { return d ? d->bytes : QByteArray(); }

}  // namespace pel::wmf
