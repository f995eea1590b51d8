#pragma once
// The sensor parameters and colours dialog: the nine display colours as
// swatches to double-click, and the family and ROM code of the sensor that the
// last search found. It edits a copy of the colours; the caller takes them
// back with colours() after the dialog has closed.

#include <QDialog>
#include <QWidget>
#include <array>
#include <cstddef>
#include <cstdint>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPainter;
class QPushButton;

namespace kp33 {

// The nine colours in the order of the settings file, as COLORREF values
// (0x00BBGGRR, red in the low byte).
using DisplayColors = std::array<std::uint32_t, 9>;

// Where each setting sits in DisplayColors.
namespace DisplayColorIndex {
inline constexpr std::size_t TempColor = 0;
inline constexpr std::size_t TempValueColor = 1;
inline constexpr std::size_t NormalColor = 2;
inline constexpr std::size_t StopColor = 3;
inline constexpr std::size_t ErrorColor = 4;
inline constexpr std::size_t LoTColor = 5;
inline constexpr std::size_t HiTColor = 6;
inline constexpr std::size_t LPTColor = 7;
inline constexpr std::size_t HPTColor = 8;
} // namespace DisplayColorIndex

// A 25 x 25 colour panel with a raised outer and a lowered inner bevel. Where
// IsWinNT is set it leaves its inside to the dialog, which paints the colour
// there; elsewhere it fills itself.
class ColorSwatch : public QWidget {
    Q_OBJECT
public:
    ColorSwatch(QWidget *parent, const char *name, QPoint at, std::uint32_t colour);
    // The value as set, upper byte included, so an untouched swatch gives back
    // exactly what it was given.
    std::uint32_t colour() const { return m_colour; }
    void setColour(std::uint32_t colour);

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    std::uint32_t m_colour;
};

class TParams : public QDialog {
    Q_OBJECT
public:
    TParams(QWidget *parent, const DisplayColors &colours);

    // After the dialog has closed: the colours as OK left them, or the
    // colours it was given when it was cancelled.
    DisplayColors colours() const { return m_colours; }

private:
    void FormPaint(QPainter &p);
    void TDblClick(ColorSwatch *sender);
    void BTN_OKClick();
    void BTN_CancelClick();

    DisplayColors m_colours;
    QGroupBox *GB1;
    QGroupBox *GB2;
    QGroupBox *SensorCOD;
    QLabel *Label10;
    QLineEdit *EditSN;
    QPushButton *BTN_OK;
    QPushButton *BTN_Cancel;
    // In the order the dialog fills them: Temp, UpT, DownT, ValueT, NormalT,
    // LowerT, UpperT, PassiveT, ErrorT.
    std::array<ColorSwatch *, 9> m_swatches{};
    QWidget *m_layer;
};

} // namespace kp33
