#pragma once
// Every window measures in twips (1/1440 inch). This is the one place where
// twips meet device pixels.
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <cstdint>

namespace pel::twips {

// Twips per logical pixel: 1440 / logical DPI (15 at 96 DPI).
double perPixel();

double fromPixels(double px);
double toPixels(double tw);
int toPixelsRounded(double tw);           // nearest pixel, half to even
QRect toPixels(const QRectF& tw);         // edges rounded, so adjacent rects stay adjacent
QSizeF fromPixels(QSize px);

// The numeric rules the windows rely on.
// "Rounded to an integer": nearest, halves to the even neighbour.
double roundHalfEven(double v);
// 16-bit signed Integer store: rounds half to even, clamps to the 16-bit range.
std::int16_t toInt16(double v);
// Single-precision store.
inline float toSingle(double v) { return static_cast<float>(v); }

}  // namespace pel::twips
