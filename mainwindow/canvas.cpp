#include "mainwindow/canvas.h"

#include <QPainterPath>
#include <QPainterPathStroker>
#include <QVarLengthArray>
#include <cstdlib>

namespace kp33 {

Canvas::Canvas(QImage &image) : m_p(&image), m_ratio(image.devicePixelRatio())
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

void Canvas::setBrush(const QColor &colour)
{
    m_brush = colour;
    m_p.setBrush(colour);
}

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
        if (!scaled()) {
            m_p.drawPoints(pixels.constData(), int(pixels.size()));
        } else {
            // A point of a scaled 1-pixel pen may land a device pixel off
            // its square; the square itself is exact. Runs along a row or a
            // column go in one rectangle.
            QRect run;
            const auto extend = [&run](QPoint p) {
                if (run.height() == 1 && p.y() == run.top() && (p.x() == run.right() + 1 || p.x() == run.left() - 1)) {
                    run = run.united(QRect(p, QSize(1, 1)));
                    return true;
                }
                if (run.width() == 1 && p.x() == run.left() && (p.y() == run.bottom() + 1 || p.y() == run.top() - 1)) {
                    run = run.united(QRect(p, QSize(1, 1)));
                    return true;
                }
                return false;
            };
            for (const QPoint &p : pixels) {
                if (!run.isEmpty() && extend(p))
                    continue;
                if (!run.isEmpty())
                    m_p.fillRect(run, m_pen);
                run = QRect(p, QSize(1, 1));
            }
            if (!run.isEmpty())
                m_p.fillRect(run, m_pen);
        }
    } else if (!scaled()) {
        m_p.drawLine(m_at, to);
    } else {
        // Around the centres of the two pixels, so the stroke is as wide on
        // each side of the line at any ratio; filled without antialiasing,
        // a device pixel is in when its centre is.
        QPainterPath path(QPointF(m_at) + QPointF(0.5, 0.5));
        path.lineTo(QPointF(to) + QPointF(0.5, 0.5));
        QPainterPathStroker stroker;
        stroker.setWidth(m_width);
        stroker.setCapStyle(Qt::RoundCap);
        stroker.setJoinStyle(Qt::RoundJoin);
        m_p.fillPath(stroker.createStroke(path), m_pen);
    }
    m_at = to;
}

void Canvas::ellipse(int x1, int y1, int x2, int y2)
{
    if (x2 - x1 < 2 || y2 - y1 < 2)
        return;
    if (!scaled()) {
        m_p.drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
        return;
    }
    // A one-pixel outline at device resolution: the box's disc less the disc
    // a pixel in, in the pen's colour, and that inner disc in the brush's.
    QPainterPath outer, inner;
    outer.addEllipse(QRectF(x1, y1, x2 - x1, y2 - y1));
    inner.addEllipse(QRectF(x1 + 1, y1 + 1, x2 - x1 - 2, y2 - y1 - 2));
    if (m_p.brush().style() != Qt::NoBrush)
        m_p.fillPath(inner, m_brush);
    m_p.fillPath(outer.subtracted(inner), m_pen);
}

void Canvas::fillRect(int x1, int y1, int x2, int y2, const QColor &colour)
{
    m_p.fillRect(QRect(x1, y1, x2 - x1, y2 - y1), colour);
}

} // namespace kp33
