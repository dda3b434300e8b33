#include "picture/scale.h"

#include "picture/decoders.h"
#include "picture/picture.h"

#include <algorithm>
#include <new>

namespace pel::picture::detail {

int binFactor(int source, int target)
{
    if (target <= 0 || source <= target)
        return 1;
    // 2048 x 2048 x 255 still fits in 32 bits; beyond that the smooth pass does the rest.
    return std::min(source / target, 2048);
}

BoxReducer::BoxReducer(QSize source, QSize target, bool alpha)
    : src_(source), target_(target), alpha_(alpha)
{
    if (source.isEmpty() || target.isEmpty())
        return;
    kx_ = binFactor(source.width(), target.width());
    ky_ = binFactor(source.height(), target.height());
    binned_ = QSize((source.width() + kx_ - 1) / kx_, (source.height() + ky_ - 1) / ky_);
    if (!reduces() || mulSat(binned_.width(), binned_.height(), 16) > maxDecodedBytes())
        return;
    try {
        sums_.assign(size_t(binned_.width()) * size_t(binned_.height()) * 4, 0);
    } catch (const std::bad_alloc &) {
        sums_.clear();
    }
}

namespace {
// The part of row y from x0 that lies in the picture, as [x0, end); false when none does.
bool clipSpan(QSize src, int y, int &x0, int count, int &end)
{
    if (y < 0 || y >= src.height() || x0 < 0 || x0 >= src.width())
        return false;
    end = count < 0 ? src.width() : int(std::min<qint64>(qint64(x0) + count, src.width()));
    return end > x0;
}
}  // namespace

void BoxReducer::addRow(int y, const quint32 *px, int x0, int count)
{
    int end;
    if (sums_.empty() || !clipSpan(src_, y, x0, count, end))
        return;
    quint32 *acc = sums_.data() + (size_t(y / ky_) * size_t(binned_.width()) + size_t(x0 / kx_)) * 4;
    for (int x = x0; x < end; acc += 4) {
        const int binEnd = int(std::min<qint64>((qint64(x) / kx_ + 1) * kx_, end));
        quint32 b = 0, g = 0, r = 0, a = 0;
        for (; x < binEnd; ++x, ++px) {
            const quint32 p = *px;
            b += p & 0xff;
            g += (p >> 8) & 0xff;
            r += (p >> 16) & 0xff;
            a += p >> 24;
        }
        acc[0] += b;
        acc[1] += g;
        acc[2] += r;
        acc[3] += a;
    }
}

void BoxReducer::addRowBgr(int y, const uchar *p, int x0, int count)
{
    int end;
    if (sums_.empty() || !clipSpan(src_, y, x0, count, end))
        return;
    quint32 *acc = sums_.data() + (size_t(y / ky_) * size_t(binned_.width()) + size_t(x0 / kx_)) * 4;
    for (int x = x0; x < end; acc += 4) {
        const int binEnd = int(std::min<qint64>((qint64(x) / kx_ + 1) * kx_, end));
        quint32 b = 0, g = 0, r = 0;
        for (; x < binEnd; ++x, p += 3) {
            b += p[0];
            g += p[1];
            r += p[2];
        }
        acc[0] += b;
        acc[1] += g;
        acc[2] += r;
    }
}

void BoxReducer::addRun(int y, int x0, int count, quint32 even, quint32 odd)
{
    int end;
    const int first = x0;
    if (sums_.empty() || count <= 0 || !clipSpan(src_, y, x0, count, end))
        return;
    quint32 *acc = sums_.data() + (size_t(y / ky_) * size_t(binned_.width()) + size_t(x0 / kx_)) * 4;
    // Pixels at even offsets from the start before `x`.
    auto evensBefore = [first](qint64 x) { return quint32((x - first + 1) / 2); };
    for (int x = x0; x < end; acc += 4) {
        const int binEnd = int(std::min<qint64>((qint64(x) / kx_ + 1) * kx_, end));
        const quint32 e = evensBefore(binEnd) - evensBefore(x), o = quint32(binEnd - x) - e;
        acc[0] += e * (even & 0xff) + o * (odd & 0xff);
        acc[1] += e * ((even >> 8) & 0xff) + o * ((odd >> 8) & 0xff);
        acc[2] += e * ((even >> 16) & 0xff) + o * ((odd >> 16) & 0xff);
        acc[3] += e * (even >> 24) + o * (odd >> 24);
        x = binEnd;
    }
}

QImage BoxReducer::result() const
{
    if (sums_.empty())
        return {};
    QImage out(binned_, alpha_ ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return {};
    const quint32 *acc = sums_.data();
    for (int by = 0; by < binned_.height(); ++by) {
        const int rows = std::min(ky_, src_.height() - by * ky_);
        auto *line = reinterpret_cast<quint32 *>(out.scanLine(by));
        for (int bx = 0; bx < binned_.width(); ++bx, acc += 4) {
            const int cols = std::min(kx_, src_.width() - bx * kx_);
            const quint32 n = quint32(rows) * quint32(cols);
            const quint32 half = n / 2;
            const quint32 b = (acc[0] + half) / n, g = (acc[1] + half) / n, r = (acc[2] + half) / n;
            const quint32 a = alpha_ ? (acc[3] + half) / n : 0xffu;
            line[bx] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    return scaledTo(out, target_);
}

QImage scaledTo(const QImage &image, QSize target)
{
    if (image.isNull() || target.isEmpty() || image.size() == target)
        return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace pel::picture::detail
