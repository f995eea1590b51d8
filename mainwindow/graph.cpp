#include "mainwindow/graph.h"

#include "dialogs/colorref.h"
#include "mainwindow/canvas.h"
#include "sensorbus/globals.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

namespace kp33 {

namespace {

// Plot area (40, 6)-(600, 212), right and bottom edges excluded.
constexpr int PlotLeft = 40;
constexpr int PlotTop = 6;
constexpr int PlotRight = 600;
constexpr int PlotBottom = 212;
constexpr int RowStep = (GraphHeight - 12) / 5;          // 41
constexpr int GridWidth = GraphWidth - 45;               // 555
constexpr int ColumnStep = GridWidth / 5;                // 111
constexpr int SampleStep = 4;
constexpr int LabelRight = 25;
const QColor GridGrey(192, 192, 192);

int SampleX(int n, int j) { return PlotLeft + SampleStep * (n - j); }

} // namespace

GraphBounds GraphBoundsOf(const GraphInputs &in)
{
    if (!in.autoScale)
        return {in.loT, in.hiT};
    GraphBounds b{in.snapshot.MinTemp - 0.5L, in.snapshot.MaxTemp + 0.5L};
    if (b.lo < -55)
        b.lo = -55;
    if (b.hi > 125)
        b.hi = 125;
    return b;
}

int GraphY(long double v, long double lo, long double hi)
{
    // Bounds that meet or cross happen only when every sample lies beyond
    // the sensor's range (autoscale clamps both ends to it). Such a curve has
    // no scale to sit on; the middle row keeps it visible, clear of the frame
    // that would hide it on the top or bottom row, and it is the same answer
    // whichever way the bounds are wrong. "!(span > 0)" also catches NaN.
    const long double span = hi - lo;
    if (!(span > 0))
        return GraphMiddleRow;
    const long double y = GraphBottomRow - (205 / span) * (v - lo);
    if (std::isnan(y))
        return GraphMiddleRow;
    // Clamping before rounding gives the same rows (the limits are whole
    // numbers) and keeps infinities and huge values away from the int cast.
    if (y < 5)
        return 5;
    if (y > 212)
        return 212;
    return static_cast<int>(std::nearbyint(y)); // ties to even
}

int GridPhase(int sampleCount, int sampleIndex)
{
    if (sampleCount < HistorySize - 1)
        return 0;
    const int s = (SampleStep * sampleIndex) % ColumnStep;
    return s < 0 ? s + ColumnStep : s;
}

std::array<QString, 6> GraphLabels(long double lo, long double hi)
{
    const long double step = (hi - lo) / 5;
    std::array<QString, 6> labels;
    for (int i = 0; i < 6; ++i)
        labels[i] = TempToStr(hi - i * step);
    return labels;
}

namespace {

void Compose(QImage &image, const GraphInputs &in)
{
    image.fill(in.buttonFace);

    const GraphBounds b = GraphBoundsOf(in);
    const HistorySnapshot &snap = in.snapshot;
    const int n = std::min<int>(snap.SampleCount, HistorySize);

    Canvas c(image);
    c.fillRect(PlotLeft, PlotTop, PlotRight, PlotBottom, Qt::black);

    const int s = GridPhase(n, snap.SampleIndex);
    c.setPen(GridGrey);
    for (int i = 1; i <= 5; ++i) {
        if (i < 5) {
            c.moveTo(PlotLeft, PlotTop + RowStep * i);
            c.lineTo(PlotRight - 1, PlotTop + RowStep * i);
        }
        const int x = PlotLeft + (ColumnStep * i - s) % GridWidth;
        c.moveTo(x, PlotTop);
        c.lineTo(x, PlotBottom);
    }

    // Without antialiasing, like every other drawing here: the labels come
    // out in plain black on the button face.
    QFont font = in.font;
    font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics fm(font);
    QPainter &p = c.painter();
    p.setFont(font);
    c.setPen(Qt::black);
    const std::array<QString, 6> labels = GraphLabels(b.lo, b.hi);
    for (int i = 0; i < 6; ++i) {
        const int row = PlotTop + RowStep * i;
        c.moveTo(33, row);
        c.lineTo(38, row);
        const int x = LabelRight - fm.horizontalAdvance(labels[i]);
        const int y = RowStep * i;
        c.fillRect(x, y, LabelRight, y + fm.height(), in.buttonFace);
        p.drawText(x, y + fm.ascent(), labels[i]);
    }

    if (n >= 2) {
        struct Curve {
            long double TSample::*field;
            int width;
            std::uint32_t colour;
            int endOffset; // the thick curve's segments meet 2 px short of the older sample
        };
        const Curve curves[] = {
            {&TSample::Temp, 3, in.tempColor, 2},
            {&TSample::LoL, 1, in.lptColor, 0},
            {&TSample::HiL, 1, in.hptColor, 0},
        };
        const int count = in.controlT ? 3 : 1;
        for (int ci = 0; ci < count; ++ci) {
            const Curve &cv = curves[ci];
            c.setPen(ColorFromRef(cv.colour), cv.width);
            // Entry j is History[j - 1]; newest pair first, each segment
            // running leftward from the newer sample to the older one.
            for (int j = n - 1; j >= 1; --j) {
                c.moveTo(SampleX(n, j), GraphY(snap.History[j - 1].*cv.field, b.lo, b.hi));
                c.lineTo(SampleX(n, j + 1) + cv.endOffset, GraphY(snap.History[j].*cv.field, b.lo, b.hi));
            }
        }
    }

    // Last, so off-scale stretches clamped to rows 5 and 212 run under it.
    c.setPen(in.buttonFace);
    c.moveTo(PlotLeft - 1, PlotTop - 1);
    c.lineTo(PlotRight + 1, PlotTop - 1);
    c.lineTo(PlotRight + 1, PlotBottom);
    c.lineTo(PlotLeft - 1, PlotBottom);
    c.lineTo(PlotLeft - 1, PlotTop - 1);
}

} // namespace

void DrawGraph(const GraphInputs &in, QImage &image)
{
    const int ratio = std::max(1, in.ratio);
    const QSize size(GraphWidth * ratio, GraphHeight * ratio);
    // Made anew only when the size or the ratio changes: at 200 % the graph
    // is 2 MB, and fresh memory every second is memory the system must map
    // and clear each time, three times the drawing itself.
    if (image.size() != size || image.format() != QImage::Format_RGB32)
        image = QImage(size, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    // The canvas's painter ends inside Compose, before the image is shown.
    Compose(image, in);
}

QImage DrawGraph(const GraphInputs &in)
{
    QImage image;
    DrawGraph(in, image);
    return image;
}

} // namespace kp33
