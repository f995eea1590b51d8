#pragma once
// The temperature graph: the held samples as a scrolling curve with the
// limits in force at each sample, a value scale on the left and a grid that
// scrolls with the data, composed in a 600 x 218 image.

#include "measurement/history.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <array>
#include <cstdint>

namespace kp33 {

inline constexpr int GraphWidth = 600;
inline constexpr int GraphHeight = 218;
// The rows the high and the low bound map to, and where every point goes when
// the bounds give no scale to map onto (see GraphY).
inline constexpr int GraphTopRow = 6;
inline constexpr int GraphBottomRow = 211;
inline constexpr int GraphMiddleRow = 108;

struct GraphInputs {
    HistorySnapshot snapshot;
    bool autoScale = true;
    long double loT = -55, hiT = 125; // fixed bounds used when autoScale is off
    bool controlT = true;             // draw the two limit curves
    std::uint32_t tempColor = 33023;  // 0x00BBGGRR
    std::uint32_t lptColor = 16711680;
    std::uint32_t hptColor = 255;
    QColor buttonFace;                // background and frame colour
    QFont font;                       // labels
    int ratio = 1;                    // device pixels per layout pixel
};

struct GraphBounds {
    long double lo;
    long double hi;
};

// The value range the drawing maps onto: the extremes widened by half a
// degree and kept within the sensor's -55..125, or the fixed bounds.
GraphBounds GraphBoundsOf(const GraphInputs &in);

// Pixel row for v between lo and hi: hi on row 6, lo on row 211, rounded to
// nearest with ties to even and clamped to 5..212. When hi - lo is not
// positive, or anything is NaN, every value goes to the middle row.
int GraphY(long double v, long double lo, long double hi);

// How far (in pixels) the vertical grid lines have moved left: they follow
// the write index only once the history is (nearly) full.
int GridPhase(int sampleCount, int sampleIndex);

// The six scale labels, top to bottom.
std::array<QString, 6> GraphLabels(long double lo, long double hi);

// At the inputs' ratio: (600 x 218) x ratio device pixels, the same figures.
QImage DrawGraph(const GraphInputs &in);
// The same into image, which keeps its memory while its size and ratio hold.
void DrawGraph(const GraphInputs &in, QImage &image);

} // namespace kp33
