#pragma once
// Drawing on a QImage with the conventions the display is designed in:
// no antialiasing; rectangles and ellipses exclude their right and bottom
// edges; a 1-pixel line excludes its end point; a wider pen is round-capped
// between the same two points.
//
// On an image with a device pixel ratio above 1 the same figures are drawn
// at device resolution: a 1-pixel line is ratio device pixels wide all along,
// a wide pen is the round-capped stroke of its width around the pixels'
// centres, an ellipse is the smooth disc of its box.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>

namespace kp33 {

class Canvas {
public:
    explicit Canvas(QImage &image);
    void setPen(const QColor &colour, int width = 1);
    void setBrush(const QColor &colour);
    void moveTo(int x, int y);
    void lineTo(int x, int y);
    // The box (x1, y1)-(x2, y2), right and bottom edges excluded, outlined
    // with the pen and filled with the brush.
    void ellipse(int x1, int y1, int x2, int y2);
    void fillRect(int x1, int y1, int x2, int y2, const QColor &colour);
    QPainter &painter() { return m_p; }

private:
    bool scaled() const { return m_ratio != 1; }

    QPainter m_p;
    qreal m_ratio = 1;
    QColor m_pen;
    QColor m_brush;
    int m_width = 1;
    QPoint m_at;
};

} // namespace kp33
