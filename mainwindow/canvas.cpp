#include "mainwindow/canvas.h"

#include <QVarLengthArray>
#include <cstdlib>

namespace kp33 {

Canvas::Canvas(QImage &image) : m_p(&image)
{
    m_p.setRenderHint(QPainter::Antialiasing, false);
    setPen(Qt::black);
    m_p.setBrush(Qt::NoBrush);
}

void Canvas::setPen(const QColor &colour, int width)
{
    m_pen = colour;
    m_width = width;
    QPen pen(colour, width, Qt::SolidLine, width > 1 ? Qt::RoundCap : Qt::FlatCap, Qt::RoundJoin);
    m_p.setPen(pen);
}

void Canvas::setBrush(const QColor &colour) { m_p.setBrush(colour); }

void Canvas::moveTo(int x, int y) { m_at = QPoint(x, y); }

void Canvas::lineTo(int x, int y)
{
    const QPoint to(x, y);
    if (m_width <= 1) {
        // Qt's flat-capped thin line leaves out whichever end lies further
        // right or down, not the end point, so step the pixels ourselves:
        // every pixel from the start up to, not including, the end.
        const int dx = std::abs(to.x() - m_at.x()), dy = std::abs(to.y() - m_at.y());
        const int sx = to.x() < m_at.x() ? -1 : 1, sy = to.y() < m_at.y() ? -1 : 1;
        QVarLengthArray<QPoint, 256> pixels;
        int err = dx - dy;
        for (QPoint p = m_at; p != to;) {
            pixels.append(p);
            const int e2 = 2 * err;
            if (e2 > -dy) {
                err -= dy;
                p.rx() += sx;
            }
            if (e2 < dx) {
                err += dx;
                p.ry() += sy;
            }
        }
        m_p.drawPoints(pixels.constData(), int(pixels.size()));
    } else {
        m_p.drawLine(m_at, to);
    }
    m_at = to;
}

void Canvas::ellipse(int x1, int y1, int x2, int y2)
{
    if (x2 - x1 < 2 || y2 - y1 < 2)
        return;
    m_p.drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
}

void Canvas::fillRect(int x1, int y1, int x2, int y2, const QColor &colour)
{
    m_p.fillRect(QRect(x1, y1, x2 - x1, y2 - y1), colour);
}

} // namespace kp33
