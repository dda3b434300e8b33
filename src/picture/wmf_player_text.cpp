// Text records: the font realised at the size the picture is drawn at, the bytes
// decoded with its charset, and each character placed as GDI places it.
#include "picture/wmf_player.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPaintEngine>

#include <algorithm>
#include <cmath>

namespace pel::wmf {

void Player::textOut(const Rec &r)
{
    const int len = r.s(0);
    if (len <= 0 || 2 + qsizetype(len) > r.n) return;
    const int at = 1 + (len + 1) / 2;
    if (at + 2 > r.words()) return;
    text(r.ptYX(at), r.bytesFrom(2, len), {}, 0, {});
}

void Player::extTextOut(const Rec &r)
{
    const int len = r.s(2), opts = r.u(3);
    const bool hasRect = opts & (kEtoOpaque | kEtoClipped);
    const int strWord = hasRect ? 8 : 4;
    QRectF rect;
    if (hasRect) rect = QRectF(QPointF(r.s(4), r.s(5)), QPointF(r.s(6), r.s(7))).normalized();
    if (len < 0 || 2 * qsizetype(strWord) + len > r.n) return;
    if (len == 0) {  // an opaque rectangle alone
        if ((opts & kEtoOpaque) && afford(kDrawCost + extentOf(rect).area * kCoverFactor)) {
            useGeometry();
            p_.fillRect(rect, dc_.bk);
        }
        return;
    }
    std::vector<int> dx;
    const int dxWord = strWord + (len + 1) / 2;
    if (dxWord + len <= r.words()) {
        dx.resize(std::size_t(len));
        for (int i = 0; i < len; ++i) dx[std::size_t(i)] = r.s(dxWord + i);
    }
    text(r.ptYX(0), r.bytesFrom(2 * qsizetype(strWord), len), dx, opts, rect);
}

// The font's em in target pixels (`sy`: target pixels per logical unit vertically).
double Player::emPixels(const FontObj &f, double sy)
{
    if (f.height == 0)
        return 16.0 * std::abs(target_.height()) * kTwipsPerPixel / std::max(1.0, d_.twips.height());
    if (f.height < 0)
        return -f.height * sy;
    // Positive: the cell height, which includes the internal leading.
    auto it = std::find_if(emRatios_.begin(), emRatios_.end(), [&](auto &e) { return e.first == f.id; });
    if (it == emRatios_.end()) {
        QFont probe;
        if (!f.face.isEmpty()) probe.setFamilies({f.face});
        probe.setPixelSize(256);
        const QFontMetricsF fm(probe);
        emRatios_.emplace_back(f.id, fm.height() > 0 ? 256.0 / (fm.ascent() + fm.descent()) : 1.0);
        it = emRatios_.end() - 1;
    }
    return f.height * sy * it->second;
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

    const double emPx = emPixels(f, sy);
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
    const QGlyphRun run = placeGlyphs(decoded, dx, dxBefore, sx, &width);
    if (run.isEmpty() && dx.empty()) {
        qfont_.setLetterSpacing(QFont::AbsoluteSpacing, dc_.charExtra * sx / xScale_);
        width = QFontMetricsF(qfont_, p_.device()).horizontalAdvance(s) * xScale_;
    }
    drawText(at, run, decoded, dxBefore, width, opts, rect);

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

// On raster targets the glyphs are placed by hand (GDI places characters by their
// advances, without kerning), which is also far cheaper than text layout. Other
// devices (a PDF, a recording) get real text; so does a string the font cannot show,
// for Qt's font fallback to find its glyphs: for them the run is empty. *width is the
// text's advance when it has no Dx array.
QGlyphRun Player::placeGlyphs(const DecodedText &decoded, const std::vector<int> &dx,
                              const std::vector<double> &dxBefore, double sx, double *width)
{
    const QString &s = decoded.text;
    QGlyphRun run;
    const bool raster = p_.paintEngine() && p_.paintEngine()->type() == QPaintEngine::Raster;
    if (!raster || !rawFont_.isValid())
        return run;
    const QList<quint32> glyphs = rawFont_.glyphIndexesForString(s);
    bool complete = glyphs.size() == s.size();
    for (qsizetype i = 0; complete && i < glyphs.size(); ++i)
        complete = glyphs[i] != 0 || s[i].isSpace() || s[i].isSurrogate();
    if (!complete)
        return run;
    auto startOf = [&](qsizetype unit) { return dxBefore[std::size_t(decoded.firstByte[std::size_t(unit)])]; };
    QList<QPointF> positions(glyphs.size());
    bool needAdvances = dx.empty();
    for (qsizetype g = 1; !needAdvances && g < glyphs.size(); ++g)
        needAdvances = decoded.firstByte[std::size_t(g)] == decoded.firstByte[std::size_t(g - 1)];
    const QList<QPointF> advances =
        needAdvances ? rawFont_.advancesForGlyphIndexes(glyphs, QRawFont::UseDesignMetrics) : QList<QPointF>();
    double x = 0;
    for (qsizetype g = 0; g < glyphs.size(); ++g) {
        // A character spread over two units (a surrogate pair) continues by advance.
        if (!dx.empty() && (g == 0 || decoded.firstByte[std::size_t(g)] != decoded.firstByte[std::size_t(g - 1)]))
            x = startOf(g);
        positions[g] = QPointF(x / xScale_, 0);
        if (needAdvances) x += advances[g].x() * xScale_ + (dx.empty() ? dc_.charExtra * sx : 0);
    }
    if (dx.empty()) *width = x;
    run.setRawFont(rawFont_);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    run.setUnderline(dc_.font.underline);
    run.setStrikeOut(dc_.font.strike);
    return run;
}

// Draws the text at `at` (logical units) as aligned, with its background box and the
// clip of an ExtTextOut rectangle.
void Player::drawText(QPointF at, const QGlyphRun &run, const DecodedText &decoded,
                      const std::vector<double> &dxBefore, double width, int opts, const QRectF &rect)
{
    const QString &s = decoded.text;
    auto startOf = [&](qsizetype unit) { return dxBefore[std::size_t(decoded.firstByte[std::size_t(unit)])]; };
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
    if (dc_.font.escapement) tt.rotate(-dc_.font.escapement / 10.0);  // tenths of a degree, counter-clockwise
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
        if (dxBefore.empty()) {
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
}

}  // namespace pel::wmf
