#include "kit/canvas.h"

#include "system/twips.h"

#include <QPainter>

namespace pel::kit {

Canvas::Canvas(QWidget *parent) : QWidget(parent) { setAutoFillBackground(true); }

void Canvas::Cls()
{
    m_painted.clear();
    update();
}

void Canvas::PaintPicture(const QImage &image, const QRectF &twipsRect)
{
    m_painted.append({image, twipsRect});
    update();
}

void Canvas::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const Painted &item : m_painted) {
        const QRect r = twips::toPixels(item.twips);
        const QSize d = r.size() - item.image.size();
        if (std::abs(d.width()) <= 1 && std::abs(d.height()) <= 1)
            p.drawImage(r.topLeft(), item.image);   // natural size: rounding must not resample it
        else
            p.drawImage(r, item.image);
    }
    for (const RectShape *s : m_rects) {
        p.setPen(QPen(s->color, 1));
        p.setBrush(Qt::NoBrush);
        const QRect r = twips::toPixels(QRectF(s->Left, s->Top, s->Width, s->Height));
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
    for (const LineShape *l : m_lines) {
        p.setPen(QPen(l->color, 1));
        p.drawLine(QPointF(twips::toPixels(l->X1), twips::toPixels(l->Y1)),
                   QPointF(twips::toPixels(l->X2), twips::toPixels(l->Y2)));
    }
}

}  // namespace pel::kit
