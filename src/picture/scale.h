#pragma once
// Reduction of a picture while it is being decoded: rows are summed into whole-number
// bins as they arrive, so a 24-megapixel picture never exists in memory when only a
// preview is wanted. A final smooth pass brings the binned picture to the exact size.
#include <QImage>
#include <QSize>
#include <cstdint>
#include <vector>

namespace pel::picture::detail {

class BoxReducer {
public:
    // `alpha`: rows carry premultiplied alpha worth keeping; otherwise alpha is ignored.
    // Only a box that reduces holds sums (16 bytes a binned pixel); one that does not
    // allocates nothing, and its caller decodes straight into the picture.
    BoxReducer(QSize source, QSize target, bool alpha);

    // Bin widths; 1 x 1 means there is nothing to reduce.
    int binX() const { return kx_; }
    int binY() const { return ky_; }
    bool reduces() const { return kx_ > 1 || ky_ > 1; }
    // The sums are there: false when the box does not reduce, or when they would not
    // fit in the decoder's budget or in memory.
    bool valid() const { return !sums_.empty(); }

    // Rows may come in any order, and in pieces; y is the source row, top-down. `px`
    // holds `count` pixels starting at column x0 (count < 0: the rest of the row).
    // Pixels never added count as zero (transparent, or black without alpha).
    void addRow(int y, const quint32 *px, int x0 = 0, int count = -1);  // 0xAARRGGBB (premultiplied when alpha)
    void addRowBgr(int y, const uchar *bgr, int x0 = 0, int count = -1); // packed B, G, R bytes
    // `count` pixels of row y from x0 alternating `even` and `odd` (equal for a plain run),
    // in time that follows the bins it touches, not the pixels.
    void addRun(int y, int x0, int count, quint32 even, quint32 odd);
    // The binned picture, smoothly scaled to `target` where it is not already that size.
    QImage result() const;

private:
    QSize src_, target_, binned_;
    int kx_ = 1, ky_ = 1;
    bool alpha_ = false;
    std::vector<quint32> sums_;  // 4 per binned pixel: B, G, R, A
};

// Whole-number bin for reducing `source` to no less than `target` (at least 1), bounded
// so that a bin's sum cannot overflow 32 bits.
int binFactor(int source, int target);

// Smoothly scales an already decoded picture to `target` (unchanged when it already fits).
QImage scaledTo(const QImage &image, QSize target);

}  // namespace pel::picture::detail
