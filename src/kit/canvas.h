#pragma once
// A window's persistent drawing: pictures painted at twips positions stay until
// the next Cls, and survive the window being covered; the line and rectangle
// shapes are drawn above them.
#include "kit/controls.h"

#include <QImage>
#include <QLineF>
#include <QRectF>
#include <QVector>

namespace pel::kit {

struct LineShape {
    double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
    QColor color = Qt::black;
};

struct RectShape {
    double Left = 0, Top = 0, Width = 0, Height = 0;
    QColor color = Qt::black;
};

class Canvas : public QWidget {
    Q_OBJECT
public:
    explicit Canvas(QWidget *parent = nullptr);
    void Cls();
    // Draws `image` into the twips rectangle (stretched when sizes differ).
    void PaintPicture(const QImage &image, const QRectF &twipsRect);
    struct Painted {
        QImage image;
        QRectF twips;
    };
    const QVector<Painted> &painted() const { return m_painted; }
    void addLine(LineShape *line) { m_lines.append(line); update(); }
    void addRect(RectShape *rect) { m_rects.append(rect); update(); }
protected:
    void paintEvent(QPaintEvent *e) override;
private:
    QVector<Painted> m_painted;
    QVector<LineShape *> m_lines;
    QVector<RectShape *> m_rects;
};

}  // namespace pel::kit
