// kp33-makeresources OUTDIR
//
// Draws the program's pictures and its alarm sound from code and writes them to
// OUTDIR: kp33.png, kp33.ico, thermbg.png, chip.png, flag.png and warning.wav,
// and the scale, chip and flag again at 2 and 3 device pixels per pixel
// (thermbg@2x.png ...). Every run writes the same bytes: shapes are set pixel
// by pixel with integer arithmetic,
// text uses the built-in pixel font below rather than an installed one, and
// the sound is made from a fixed sine table.

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// ---------------------------------------------------------------------------
// Pixel font: 5 rows high, glyphs 3 columns wide (the point is 1), one blank
// column between glyphs. Each row is a bit mask, the leftmost column in bit 2.

struct Glyph {
    char ch;
    int width;
    std::array<std::uint8_t, 5> rows;
};

constexpr std::array<Glyph, 14> Font{{
    {'0', 3, {0b111, 0b101, 0b101, 0b101, 0b111}},
    {'1', 3, {0b010, 0b110, 0b010, 0b010, 0b111}},
    {'2', 3, {0b111, 0b001, 0b111, 0b100, 0b111}},
    {'3', 3, {0b111, 0b001, 0b111, 0b001, 0b111}},
    {'4', 3, {0b101, 0b101, 0b111, 0b001, 0b001}},
    {'5', 3, {0b111, 0b100, 0b111, 0b001, 0b111}},
    {'6', 3, {0b111, 0b100, 0b111, 0b101, 0b111}},
    {'7', 3, {0b111, 0b001, 0b001, 0b001, 0b001}},
    {'8', 3, {0b111, 0b101, 0b111, 0b101, 0b111}},
    {'9', 3, {0b111, 0b101, 0b111, 0b001, 0b111}},
    {'-', 3, {0b000, 0b000, 0b111, 0b000, 0b000}},
    {'.', 1, {0b0, 0b0, 0b0, 0b0, 0b1}},
    {'K', 3, {0b101, 0b101, 0b110, 0b101, 0b101}},
    {'P', 3, {0b110, 0b101, 0b110, 0b100, 0b100}},
}};
constexpr int FontHeight = 5;

const Glyph &glyph(char ch)
{
    for (const Glyph &g : Font)
        if (g.ch == ch)
            return g;
    // Only this file calls the font, with fixed strings.
    std::fprintf(stderr, "kp33-makeresources: no glyph for '%c'\n", ch);
    std::abort();
}

int textWidth(std::string_view text, int scale = 1)
{
    int w = 0;
    for (char ch : text)
        w += (glyph(ch).width + 1) * scale;
    return text.empty() ? 0 : w - scale;
}

// Top-left corner at (x, y); each font pixel becomes a scale × scale square.
void drawText(QImage &image, int x, int y, std::string_view text, QRgb colour, int scale = 1)
{
    for (char ch : text) {
        const Glyph &g = glyph(ch);
        for (int row = 0; row < FontHeight; ++row)
            for (int col = 0; col < g.width; ++col)
                if (g.rows[row] & (1u << (g.width - 1 - col)))
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx)
                            image.setPixel(x + col * scale + dx, y + row * scale + dy, colour);
        x += (g.width + 1) * scale;
    }
}

// ---------------------------------------------------------------------------
// Shapes. Coordinates are doubled so that pixel centres (2x+1) and the edges
// between pixels (2x) are both whole numbers and all sums are exact.

// Pixel (x, y) lies in the disc of the given doubled centre and doubled radius.
bool inDisc(int x, int y, int cx2, int cy2, int r2)
{
    const int dx = 2 * x + 1 - cx2;
    const int dy = 2 * y + 1 - cy2;
    return dx * dx + dy * dy <= r2 * r2;
}

// On the outline of any shape: inside, with a side neighbour outside.
template <typename Inside>
bool onEdge(int x, int y, Inside inside)
{
    return inside(x, y) && (!inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1));
}

// A rectangle x0..x1, y0..y1 (inclusive) with its corners rounded off to radius r.
struct RoundedRect {
    int x0, y0, x1, y1, r;

    // Doubled offset of pixel (x, y) from the inner rectangle joining the
    // corner circles' centres; (0, 0) inside it.
    void offset(int x, int y, int &dx, int &dy) const
    {
        dx = 2 * x + 1 - std::clamp(2 * x + 1, 2 * (x0 + r), 2 * (x1 + 1 - r));
        dy = 2 * y + 1 - std::clamp(2 * y + 1, 2 * (y0 + r), 2 * (y1 + 1 - r));
    }
    bool contains(int x, int y) const
    {
        if (x < x0 || x > x1 || y < y0 || y > y1)
            return false;
        int dx, dy;
        offset(x, y, dx, dy);
        return dx * dx + dy * dy <= 4 * r * r;
    }
    bool onEdge(int x, int y) const
    {
        return ::onEdge(x, y, [this](int px, int py) { return contains(px, py); });
    }
    // Light falls from the top left: the outline is in shadow where it faces
    // right or down, the corners split on the diagonal (shadow on the line
    // itself, as on a raised button).
    bool inShadow(int x, int y) const
    {
        int dx, dy;
        offset(x, y, dx, dy);
        return dx + dy >= 0 && (dx != 0 || dy != 0);
    }
};

// A fresh picture with a fixed resolution: left alone, Qt would take the
// screen's, and the PNG would differ between a desktop and a headless run.
QImage newImage(int w, int h, QImage::Format format)
{
    QImage image(w, h, format);
    image.setDotsPerMeterX(3780); // 96 dpi
    image.setDotsPerMeterY(3780);
    return image;
}

// ---------------------------------------------------------------------------
// kp33.png: the window icon, a thermometer in flat colours from the classic
// 16-colour set, stored as a palette image with a transparent index. The
// design is laid out on 32 × 32; kp33.ico holds it drawn at each size the
// system asks for (makeIcon(size)), 32 being kp33.png itself.

// Design coordinates are pixel edges on the 32-pixel grid. A pixel of a
// size-S icon is tested at its centre, mapped onto the design: measured in
// 1/(2S) of a design pixel, both sides of every test are whole numbers, and
// at S = 32 each test is the one the 32-pixel grid was laid out with.
struct IconGrid {
    int size;
    // The centre of pixel x along one axis, and a design coordinate d (a
    // multiple of half a design pixel, given doubled as d2), in the same units.
    int centre(int x) const { return (2 * x + 1) * 32; }
    int at(int d2) const { return d2 * size; }
};

QImage makeIcon(int size = 32)
{
    enum : int { Clear, Black, Gray, Silver, White, Maroon, Red };
    QImage image = newImage(size, size, QImage::Format_Indexed8);
    image.setColorTable({qRgba(0, 0, 0, 0), qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(192, 192, 192),
                         qRgb(255, 255, 255), qRgb(128, 0, 0), qRgb(255, 0, 0)});
    image.fill(Clear);
    const IconGrid g{size};
    const auto sq = [](std::int64_t v) { return v * v; };

    // Tube: design columns 13..20, rows 1..25, corners of radius 3; bulb: a
    // disc of radius 5.5 centred on (16.5, 26.5).
    const auto inTube = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= size || y >= size)
            return false;
        const int cx = g.centre(x), cy = g.centre(y);
        if (cx < g.at(26) || cx > g.at(40) || cy < g.at(2) || cy > g.at(50))
            return false;
        const int dx = cx - std::clamp(cx, g.at(32), g.at(34));
        const int dy = cy - std::clamp(cy, g.at(8), g.at(44));
        return sq(dx) + sq(dy) <= sq(g.at(6));
    };
    const auto inBulb = [&](int x, int y) {
        return sq(g.centre(x) - g.at(33)) + sq(g.centre(y) - g.at(53)) <= sq(g.at(11));
    };
    const auto inside = [&](int x, int y) { return inTube(x, y) || inBulb(x, y); };
    // The outline is a design pixel wide, rounded to whole pixels, at least one.
    const int outline = std::max(1, (size + 16) / 32);
    const auto onOutline = [&](int x, int y) {
        for (int i = 1; i <= outline; ++i)
            if (!inside(x - i, y) || !inside(x + i, y) || !inside(x, y - i) || !inside(x, y + i))
                return true;
        return false;
    };

    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            if (!inside(x, y))
                continue;
            const int cx = g.centre(x), cy = g.centre(y);
            int c;
            if (onOutline(x, y)) {
                c = Black;
            } else if (inBulb(x, y)) {
                // From the bulb's centre. A glint on the upper left, along the
                // diagonal from (13.5, 25.5) to (15.5, 23.5) and half a design
                // pixel either side of it; a shaded rim on the lower right.
                const int dx = cx - g.at(33), dy = cy - g.at(53);
                const int along = (cx - g.at(27)) - (cy - g.at(51));
                const int across = (cx - g.at(27)) + (cy - g.at(51));
                if (along >= 0 && along <= g.at(8) && sq(across) <= 2 * sq(g.at(1)))
                    c = White;
                else if (dx + dy >= g.at(8) || (sq(dx) + sq(dy) >= 19 * sq(g.at(2)) && dx + dy >= g.at(2)))
                    c = Maroon;
                else
                    c = Red;
            } else if (cx >= g.at(28) && cx < g.at(30)) {
                c = White; // the glass catches the light on its left
            } else if (cy >= g.at(18) && cx >= g.at(30) && cx < g.at(36)) {
                c = cx >= g.at(34) ? Maroon : Red;
            } else {
                c = Silver;
            }
            image.setPixel(x, y, c);
        }

    // Scale marks to the right of the tube, a design pixel high, longer
    // every other one.
    for (int i = 0; i < 4; ++i) {
        const int row2 = 2 * (5 + 4 * i);
        const int len = i % 2 == 0 ? 3 : 2;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const int cx = g.centre(x), cy = g.centre(y);
                if (cy >= g.at(row2) && cy < g.at(row2 + 2) && cx >= g.at(42) && cx < g.at(2 * (21 + len)))
                    image.setPixel(x, y, i % 2 == 0 ? Black : Gray);
            }
    }
    return image;
}

// The sizes Windows shows a program's icon at, from the title bar's 16 to
// Explorer's largest view, at 100 % to 200 % scale.
constexpr std::array<int, 8> IconSizes{16, 20, 24, 32, 40, 48, 64, 256};

// ---------------------------------------------------------------------------
// Pictures for screens of 2 and 3 device pixels per layout pixel are drawn at
// that resolution from the same figures: a layout pixel is a scale x scale
// cell, a curve is followed at device pixels, and an outline is scale device
// pixels deep. At scale 1 every picture is pixel for pixel the plain one.

void fillCell(QImage &image, int x, int y, int scale, QRgb colour)
{
    for (int dy = 0; dy < scale; ++dy)
        for (int dx = 0; dx < scale; ++dx)
            image.setPixel(x * scale + dx, y * scale + dy, colour);
}

// On an outline `depth` pixels deep: inside, with a pixel outside within
// `depth` steps to a side.
template <typename Inside>
bool onEdgeWithin(int x, int y, int depth, Inside inside)
{
    if (!inside(x, y))
        return false;
    for (int k = 1; k <= depth; ++k)
        if (!inside(x - k, y) || !inside(x + k, y) || !inside(x, y - k) || !inside(x, y + k))
            return true;
    return false;
}

// The rounded rectangle of layout pixels x0..x1, y0..y1 at a scale.
RoundedRect scaled(const RoundedRect &r, int scale)
{
    return {r.x0 * scale, r.y0 * scale, (r.x1 + 1) * scale - 1, (r.y1 + 1) * scale - 1, r.r * scale};
}

// ---------------------------------------------------------------------------
// thermbg.png: the scale behind the thermometer column. Silver is the colour
// the program makes transparent, so it fills everything not drawn.

constexpr QRgb SilverKey = 0xFFC0C0C0;

// The row the program's column top reaches at t degrees (row 7 at 125, 47/60 px
// per degree, rounded to nearest, ties to even); the minor ticks sit there.
int minorTickRow(int t)
{
    const int num = (125 - t) * 47;
    int q = num / 60;
    const int r = num % 60;
    if (r > 30 || (r == 30 && q % 2 != 0))
        ++q;
    return 7 + q;
}

QImage makeScale(int scale = 1)
{
    QImage image = newImage(53 * scale, 156 * scale, QImage::Format_RGB32);
    image.fill(SilverKey);
    const QRgb ink = qRgb(0, 0, 0);

    struct Label {
        const char *text;
        int row;
    };
    constexpr std::array<Label, 8> Labels{{{"125.0", 6},
                                           {"100.0", 26},
                                           {"75.0", 45},
                                           {"50.0", 65},
                                           {"25.0", 84},
                                           {"0.0", 104},
                                           {"-25.0", 124},
                                           {"-55.0", 147}}};
    constexpr int LabelRight = 25;
    for (const Label &l : Labels)
        drawText(image, (LabelRight + 1 - textWidth(l.text)) * scale, (l.row - FontHeight / 2) * scale, l.text, ink,
                 scale);

    // Major ticks every 25 degrees, plus -50 (no room for its label) and -55.
    constexpr std::array<int, 9> MajorRows{6, 26, 45, 65, 84, 104, 124, 143, 147};
    for (int row : MajorRows)
        for (int x = 28; x <= 32; ++x)
            fillCell(image, x, row, scale, ink);
    for (int t = 120; t >= -45; t -= 5) {
        if (t % 25 == 0)
            continue;
        const int row = minorTickRow(t);
        if (std::find(MajorRows.begin(), MajorRows.end(), row) != MajorRows.end())
            continue;
        for (int x = 30; x <= 32; ++x)
            fillCell(image, x, row, scale, ink);
    }

    // The glass tube the program draws its column into (column 43, 3 px wide).
    const RoundedRect tube = scaled(RoundedRect{36, 1, 50, 146, 6}, scale);
    const auto inTube = [&](int x, int y) { return tube.contains(x, y); };
    for (int y = tube.y0; y <= tube.y1; ++y)
        for (int x = tube.x0; x <= tube.x1; ++x) {
            if (!tube.contains(x, y))
                continue;
            QRgb c = qRgb(224, 224, 224);
            if (onEdgeWithin(x, y, scale, inTube))
                c = tube.inShadow(x, y) ? qRgb(148, 148, 148) : qRgb(240, 240, 240);
            image.setPixel(x, y, c);
        }
    return image;
}

// ---------------------------------------------------------------------------
// chip.png: a sensor chip in a dual in-line package, seen from above.

QImage makeChip(int scale = 1)
{
    const int s = scale;
    QImage image = newImage(142 * s, 84 * s, QImage::Format_RGB32);
    image.fill(qRgb(240, 240, 240));

    constexpr int BodyX0 = 8, BodyX1 = 133, BodyY0 = 22, BodyY1 = 61;
    constexpr int Pins = 8, PinPitch = 15, PinW = 7, PinX0 = 15;
    constexpr int PinLen = 14, ShoulderLen = 5, LegInset = 2;

    // A shadow to the lower right of the body, under the pins.
    for (int y = BodyY0 + 2; y <= BodyY1 + 2; ++y)
        for (int x = BodyX0 + 2; x <= BodyX1 + 2; ++x)
            if (x > BodyX1 || y > BodyY1)
                fillCell(image, x, y, s, qRgb(176, 176, 176));

    // Pins on both long sides; a broad shoulder by the body, a narrow leg
    // further out. Lit from the left like everything else here.
    const auto drawPin = [&](int px, bool top) {
        for (int i = 0; i < PinLen; ++i) {
            const int y = top ? BodyY0 - 1 - i : BodyY1 + 1 + i;
            const int inset = i < ShoulderLen ? 0 : LegInset;
            const int x0 = px + inset, x1 = px + PinW - 1 - inset;
            for (int x = x0; x <= x1; ++x) {
                QRgb c = qRgb(168, 168, 168);
                if (x == x0)
                    c = qRgb(212, 212, 212);
                else if (x == x1 || i == PinLen - 1)
                    c = qRgb(96, 96, 96);
                fillCell(image, x, y, s, c);
            }
        }
    };
    for (int p = 0; p < Pins; ++p) {
        drawPin(PinX0 + p * PinPitch, true);
        drawPin(PinX0 + p * PinPitch, false);
    }

    // Body with bevelled edges.
    const RoundedRect body = scaled(RoundedRect{BodyX0, BodyY0, BodyX1, BodyY1, 2}, s);
    const auto inBody = [&](int x, int y) { return body.contains(x, y); };
    for (int y = body.y0; y <= body.y1; ++y)
        for (int x = body.x0; x <= body.x1; ++x) {
            if (!body.contains(x, y))
                continue;
            QRgb c = qRgb(52, 52, 52);
            if (onEdgeWithin(x, y, s, inBody))
                c = body.inShadow(x, y) ? qRgb(20, 20, 20) : qRgb(96, 96, 96);
            image.setPixel(x, y, c);
        }

    // The notch: a half-round recess in the middle of the left end, its far
    // rim catching the light.
    const int midY2 = BodyY0 + BodyY1 + 1; // doubled centre line of the body
    for (int y = BodyY0 * s; y < (BodyY1 + 1) * s; ++y)
        for (int x = BodyX0 * s; x < (BodyX0 + 8) * s; ++x) {
            if (!inDisc(x, y, 2 * BodyX0 * s, midY2 * s, 14 * s))
                continue;
            const bool rim = !inDisc(x, y, 2 * BodyX0 * s, midY2 * s, 12 * s);
            const bool lowerRight = 2 * y + 1 > midY2 * s || x >= (BodyX0 + 6) * s;
            QRgb c = qRgb(30, 30, 30);
            if (rim)
                c = lowerRight ? qRgb(88, 88, 88) : qRgb(16, 16, 16);
            image.setPixel(x, y, c);
        }

    // The pin 1 dot, a shallow dimple by the lower left corner.
    const int dotX2 = 2 * (BodyX0 + 9) * s, dotY2 = 2 * (BodyY1 - 6) * s;
    for (int y = (BodyY1 - 10) * s; y < (BodyY1 - 2) * s; ++y)
        for (int x = (BodyX0 + 5) * s; x < (BodyX0 + 13) * s; ++x)
            if (inDisc(x, y, dotX2, dotY2, 7 * s))
                image.setPixel(x, y, inDisc(x, y, dotX2 - s, dotY2 - s, 6 * s) ? qRgb(36, 36, 36) : qRgb(80, 80, 80));

    // Marking, printed in light grey.
    constexpr int MarkScale = 3;
    const int markW = textWidth("KP33", MarkScale);
    drawText(image, (BodyX0 + BodyX1 + 1 - markW + 1) / 2 * s, (BodyY0 + BodyY1 + 1 - FontHeight * MarkScale) / 2 * s,
             "KP33", qRgb(200, 200, 200), MarkScale * s);
    return image;
}

// ---------------------------------------------------------------------------
// flag.png: white, blue and red stripes of 16 px under a 1 px dark frame.

QImage makeFlag(int scale = 1)
{
    const int w = 70 * scale, h = 48 * scale;
    QImage image = newImage(w, h, QImage::Format_RGB32);
    const std::array<QRgb, 3> stripes{qRgb(255, 255, 255), qRgb(0, 57, 166), qRgb(213, 43, 30)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool frame = x < scale || y < scale || x >= w - scale || y >= h - scale;
            image.setPixel(x, y, frame ? qRgb(48, 48, 48) : stripes[y / (16 * scale)]);
        }
    return image;
}

// ---------------------------------------------------------------------------
// warning.wav: two alternating tones, 8-bit unsigned mono PCM.

constexpr int SampleRate = 11025;
constexpr int Blocks = 22;
constexpr int BlockLen = 2621; // ~0.24 s; 22 blocks fill the 57 662 data bytes exactly
constexpr int FadeLen = 55;    // 5 ms each end, so block edges do not click
constexpr int Amplitude = 102; // 80 % of full scale
constexpr std::array<int, 2> Tones{880, 660};

// sin(j·π/128)·16384 for j = 0..64, the first quarter of a 256-step wave.
constexpr std::array<int, 65> QuarterSine{
    0,     402,   804,   1205,  1606,  2006,  2404,  2801,  3196,  3590,  3981,  4370,  4756,
    5139,  5520,  5897,  6270,  6639,  7005,  7366,  7723,  8076,  8423,  8765,  9102,  9434,
    9760,  10080, 10394, 10702, 11003, 11297, 11585, 11866, 12140, 12406, 12665, 12916, 13160,
    13395, 13623, 13842, 14053, 14256, 14449, 14635, 14811, 14978, 15137, 15286, 15426, 15557,
    15679, 15791, 15893, 15986, 16069, 16143, 16207, 16261, 16305, 16340, 16364, 16379, 16384};

int sineStep(int i)
{
    i &= 255;
    const int j = i & 63;
    switch (i >> 6) {
    case 0: return QuarterSine[j];
    case 1: return QuarterSine[64 - j];
    case 2: return -QuarterSine[j];
    default: return -QuarterSine[64 - j];
    }
}

// Sine of a 32-bit phase (a full turn is 2^32), in units of 1/16384,
// interpolated between the 256 table steps.
int sine(std::uint32_t phase)
{
    const int i = static_cast<int>(phase >> 24);
    const int frac = static_cast<int>((phase >> 8) & 0xFFFF);
    const int a = sineStep(i), b = sineStep(i + 1);
    return a + static_cast<int>((static_cast<std::int64_t>(b - a) * frac) >> 16);
}

// n / d rounded to nearest, halves away from zero; d > 0.
std::int64_t divRound(std::int64_t n, std::int64_t d) { return n >= 0 ? (n + d / 2) / d : -((-n + d / 2) / d); }

void putLe(QByteArray &out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

QByteArray makeWarning()
{
    constexpr std::uint32_t dataLen = Blocks * BlockLen;
    QByteArray wav;
    wav.reserve(44 + dataLen);
    wav.append("RIFF");
    putLe(wav, 36 + dataLen, 4);
    wav.append("WAVEfmt ");
    putLe(wav, 16, 4);         // fmt chunk size
    putLe(wav, 1, 2);          // PCM
    putLe(wav, 1, 2);          // mono
    putLe(wav, SampleRate, 4); // samples per second
    putLe(wav, SampleRate, 4); // bytes per second
    putLe(wav, 1, 2);          // block align
    putLe(wav, 8, 2);          // bits per sample
    wav.append("data");
    putLe(wav, dataLen, 4);

    for (int block = 0; block < Blocks; ++block) {
        const auto step =
            static_cast<std::uint32_t>((static_cast<std::uint64_t>(Tones[block % 2]) << 32) / SampleRate);
        std::uint32_t phase = 0; // each block starts on a zero crossing
        for (int i = 0; i < BlockLen; ++i, phase += step) {
            const int env = std::min({i, BlockLen - 1 - i, FadeLen});
            const std::int64_t v =
                divRound(static_cast<std::int64_t>(Amplitude) * sine(phase) * env, std::int64_t{16384} * FadeLen);
            wav.append(static_cast<char>(128 + v));
        }
    }
    return wav;
}

// ---------------------------------------------------------------------------

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush()) {
        std::fprintf(stderr, "kp33-makeresources: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(f.errorString()));
        return false;
    }
    return true;
}

// Empty if the image cannot be encoded.
QByteArray pngBytes(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    // Quality 0 is zlib's strongest compression; a fixed setting keeps the bytes fixed.
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG", 0))
        return {};
    return png;
}

bool savePng(const QImage &image, const QString &path)
{
    const QByteArray png = pngBytes(image);
    if (png.isEmpty()) {
        std::fprintf(stderr, "kp33-makeresources: cannot encode %s\n", qPrintable(path));
        return false;
    }
    return writeFile(path, png);
}

// kp33.ico: the icon at every size, each entry a PNG (Windows reads PNG
// entries since Vista, and takes 256 px only so). The 32 px entry has
// kp33.png's own bytes.
bool saveIco(const QString &path)
{
    QList<QByteArray> pngs;
    for (int size : IconSizes) {
        pngs << pngBytes(makeIcon(size));
        if (pngs.last().isEmpty()) {
            std::fprintf(stderr, "kp33-makeresources: cannot encode the %d px icon\n", size);
            return false;
        }
    }
    QByteArray ico;
    putLe(ico, 0, 2); // reserved
    putLe(ico, 1, 2); // an icon, not a cursor
    putLe(ico, IconSizes.size(), 2);
    std::uint32_t offset = 6 + 16 * IconSizes.size();
    for (std::size_t i = 0; i < IconSizes.size(); ++i) {
        const int size = IconSizes[i];
        putLe(ico, size == 256 ? 0 : size, 1); // width, 0 standing for 256
        putLe(ico, size == 256 ? 0 : size, 1); // height
        putLe(ico, 0, 1);                       // no colour count: not a 4-bit bitmap
        putLe(ico, 0, 1);                       // reserved
        putLe(ico, 1, 2);                       // planes
        putLe(ico, 32, 2);                      // bits per pixel, as the system treats a PNG entry
        putLe(ico, pngs[i].size(), 4);
        putLe(ico, offset, 4);
        offset += pngs[i].size();
    }
    for (const QByteArray &png : pngs)
        ico += png;
    return writeFile(path, ico);
}

// name@2x.png and name@3x.png of the scale, the chip and the flag.
bool saveScaledPictures(const QDir &out)
{
    for (int scale : {2, 3}) {
        const QString suffix = QStringLiteral("@%1x.png").arg(scale);
        if (!savePng(makeScale(scale), out.filePath(QStringLiteral("thermbg") + suffix))
            || !savePng(makeChip(scale), out.filePath(QStringLiteral("chip") + suffix))
            || !savePng(makeFlag(scale), out.filePath(QStringLiteral("flag") + suffix)))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Nothing here needs a screen; a build machine often has none.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: kp33-makeresources OUTDIR\n");
        return 2;
    }
    const QDir out(args.at(1));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "kp33-makeresources: cannot create %s\n", qPrintable(out.path()));
        return 1;
    }

    const bool ok = savePng(makeIcon(), out.filePath(QStringLiteral("kp33.png")))
                    && saveIco(out.filePath(QStringLiteral("kp33.ico")))
                    && savePng(makeScale(), out.filePath(QStringLiteral("thermbg.png")))
                    && savePng(makeChip(), out.filePath(QStringLiteral("chip.png")))
                    && savePng(makeFlag(), out.filePath(QStringLiteral("flag.png")))
                    && writeFile(out.filePath(QStringLiteral("warning.wav")), makeWarning())
                    && saveScaledPictures(out);
    return ok ? 0 : 1;
}
