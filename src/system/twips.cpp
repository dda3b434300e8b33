#include "system/twips.h"

#include "system/os.h"

#include <cfenv>
#include <cmath>

namespace pel::twips {

double perPixel() { return os().twipsPerPixel(); }

double fromPixels(double px) { return px * perPixel(); }
double toPixels(double tw) { return tw / perPixel(); }
int toPixelsRounded(double tw) { return static_cast<int>(roundHalfEven(toPixels(tw))); }

QRect toPixels(const QRectF &tw)
{
    const int l = toPixelsRounded(tw.left());
    const int t = toPixelsRounded(tw.top());
    const int r = toPixelsRounded(tw.left() + tw.width());
    const int b = toPixelsRounded(tw.top() + tw.height());
    return QRect(l, t, r - l, b - t);
}

QSizeF fromPixels(QSize px) { return QSizeF(fromPixels(px.width()), fromPixels(px.height())); }

double roundHalfEven(double v)
{
    // nearbyint follows the current rounding mode, which is to-nearest-even by default.
    return std::nearbyint(v);
}

std::int16_t toInt16(double v)
{
    const double r = roundHalfEven(v);
    if (!std::isfinite(r))
        return 0;
    // Out of range is clamped rather than wrapped: a wrapped index or range would be garbage.
    if (r > 32767.0)
        return 32767;
    if (r < -32768.0)
        return -32768;
    return static_cast<std::int16_t>(r);
}

}  // namespace pel::twips
