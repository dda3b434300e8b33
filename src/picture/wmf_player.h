#pragma once
// The player: replays a parsed metafile's records through a QPainter, with the
// device context GDI would keep (objects, mapping, clip, text settings) and a
// drawing budget that bounds the time one render can take.
#include "picture/wmf_records.h"
#include "picture/wmf_text.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QPainter>
#include <QPen>
#include <QRawFont>
#include <QRegion>

#include <utility>
#include <vector>

namespace pel::wmf {

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
QRect pixelRect(const QRectF &f);

// The clip in target coordinates: an exact rectangle while it stays one, else a
// region of whole pixels (region operations stay cheap where paths would not).
struct Clip {
    bool on = false;
    bool isRect = true;
    QRectF rect;
    QRegion region;

    QRegion asRegion() const { return isRect ? QRegion(pixelRect(rect)) : region; }
};

// A region's rectangles, mapped to the target, as a clip region.
QRegion toRegion(const QPainterPath &path);

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
    // wmf_player.cpp: the device context, objects, budget, and the record dispatch.
    void step(const Op &op);
    bool setState(quint16 f, const Rec &r);
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
    void create(quint16 f, const Rec &r, const Op &op);
    void select(int index);
    void deleteObject(int index);
    void setClip(const Clip &c);
    QPainterPath regionPath(int objIndex) const;

    // wmf_player_draw.cpp: lines, shapes, regions and clipping records.
    void lineTo(const Rec &r);
    void poly(quint16 f, const Rec &r);
    void polyPolygon(const Rec &r);
    void box(quint16 f, const Rec &r);
    void arcLike(quint16 f, const Rec &r);
    void setPixel(const Rec &r);
    void clipRect(quint16 f, const Rec &r);
    void offsetClip(const Rec &r);
    void selectClipRegion(const Rec &r);
    void regionRecord(quint16 f, const Rec &r);

    // wmf_player_text.cpp: text records.
    void textOut(const Rec &r);
    void extTextOut(const Rec &r);
    void text(QPointF at, QByteArrayView bytes, const std::vector<int> &dx, int opts, const QRectF &rect);
    double emPixels(const FontObj &f, double sy);
    void ensureFont(double emPx, double widthPx);
    QGlyphRun placeGlyphs(const DecodedText &decoded, const std::vector<int> &dx, const std::vector<double> &dxBefore,
                          double sx, double *width);
    void drawText(QPointF at, const QGlyphRun &run, const DecodedText &decoded, const std::vector<double> &dxBefore,
                  double width, int opts, const QRectF &rect);

    // wmf_player_bitmaps.cpp: bitmap and pattern records.
    void bitmapRecord(quint16 f, const Rec &r, const Op &op);
    void blit(const QImage &img, QRectF src, const QRectF &dst, quint32 rop);
    void patBlt(const QRectF &dst, quint32 rop);

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

// Draws with the pen and brush of the device context, provided the drawing budget
// affords it; `draw` makes the painter calls.
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

}  // namespace pel::wmf
