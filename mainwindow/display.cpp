// The measurement display: value indicator, statistics panels, thermometer
// column; the graph is drawn from here too.

#include "dialogs/colorref.h"
#include "dialogs/faces.h"
#include "dialogs/scaling.h"
#include "mainwindow/canvas.h"
#include "mainwindow/graph.h"
#include "mainwindow/tmain.h"
#include "measurement/history.h"
#include "measurement/readtemp.h"
#include "sensorbus/globals.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QTimer>
#include <cmath>

namespace kp33 {

namespace {

const QString NoValue = QStringLiteral("- - - °C  ");
constexpr QSize IndicatorSize(281 - 4, 73 - 4);
constexpr int ThermW = 73;
constexpr int ThermH = 157;
constexpr int ColumnX = 53;
const QColor TubeGrey(224, 224, 224);
const QColor ShadowGrey(148, 148, 148);

QFont indicatorFont(int points)
{
    // Sizes are in points at 96 dots per inch, set in pixels so the fixed
    // layout looks the same on every screen.
    return DesignFont(Face::Arial, std::max(1, static_cast<int>(std::lround(points * 96.0 / 72.0))), true);
}

} // namespace

void TMain::SetBackColor(std::uint32_t colour)
{
    if (colour != m_indicator.BackColor) {
        m_indicator.BackColor = colour;
        DrawIndicator();
    }
}

void TMain::SetFontColor(std::uint32_t colour)
{
    if (colour != m_indicator.FontColor) {
        m_indicator.FontColor = colour;
        DrawIndicator();
    }
}

void TMain::SetFontSize(std::int32_t points) { m_indicator.FontSize = points; }

void TMain::SetText(const QString &text)
{
    m_indicator.Text = text;
    DrawIndicator();
}

int TMain::compositionRatio() const { return CompositionRatio(devicePixelRatioF()); }

void TMain::DrawIndicator()
{
    ++m_indicatorDraws;
    // At the screen's ratio, so the digits are drawn at device resolution;
    // positions stay in the layout's pixels.
    const int ratio = compositionRatio();
    QImage image(IndicatorSize * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    const QColor back = ColorFromRef(m_indicator.BackColor);
    image.fill(back);
    if (!m_indicator.Text.isEmpty() && m_indicator.FontSize > 0) {
        QPainter p(&image);
        const QFont font = indicatorFont(m_indicator.FontSize);
        p.setFont(font);
        p.setPen(ColorFromRef(m_indicator.FontColor));
        const QFontMetrics fm(font);
        const int tw = fm.horizontalAdvance(m_indicator.Text);
        const int th = fm.height();
        // Centred with truncating division; a text wider than the image is clipped.
        const int x = IndicatorSize.width() / 2 - tw / 2;
        const int y = IndicatorSize.height() / 2 - th / 2;
        p.drawText(x, y + fm.ascent(), m_indicator.Text);
    }
    FrameTemp->setImage(image);
}

void TMain::DrawThermometer(bool active, long double t, long double lol, long double hil)
{
    // Composed afresh over the scale picture each time, as a full repaint of
    // the window shows it. Drawn over the last composition instead, the tube
    // kept whatever the round-capped erase stroke misses (pixels of the
    // column's foot, a column that ends at the bulb) and the passive bulb's
    // shadow under the active bulb.
    m_column = {active, t, lol, hil};
    const int ratio = compositionRatio();
    QImage image(ThermW * ratio, ThermH * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    Canvas c(image);
    // The empty tube first, in its own grey, then what this look puts in it.
    c.setPen(TubeGrey, 3);
    c.moveTo(ColumnX, 145);
    c.lineTo(ColumnX, 7);
    if (active) {
        QColor colour(0, 255, 0);
        if (ControlT->isChecked()) {
            if (t < lol)
                colour = QColor(0, 0, 255);
            if (t > hil)
                colour = QColor(255, 0, 0);
        }
        c.setPen(colour, 1);
        c.setBrush(colour);
        c.ellipse(ThermW - 29, ThermH - 10, ThermW - 10, ThermH - 1);
        c.setPen(colour, 3);
        // 47/60 px per degree from 125 at the top; nothing clamps below -55,
        // where the line runs down into the bulb.
        const int y = t > 125 ? 7 : 7 + static_cast<int>(std::nearbyint(static_cast<double>((125 - t) * 47 / 60)));
        c.moveTo(ColumnX, 146);
        c.lineTo(ColumnX, y);
    } else {
        c.setPen(ShadowGrey, 1);
        c.setBrush(ShadowGrey);
        c.ellipse(ThermW - 28, ThermH - 9, ThermW - 9, ThermH);
        c.setPen(TubeGrey, 1);
        c.setBrush(TubeGrey);
        c.ellipse(ThermW - 29, ThermH - 10, ThermW - 10, ThermH - 1);
    }
    ThermP->setImage(image);
}

void TMain::UpdateDisplay()
{
    const HistorySnapshot s = history().Snapshot();
    const TRunState state = RunState.load();
    const long double t = s.History[0].Temp;
    if (state == rsRunning && s.SampleCount >= 1) {
        if (SensorError.load()) {
            SetFontSize(12);
            SetBackColor(m_settings.ErrorColor);
            SetText(QStringLiteral("Ошибка датчика!"));
            if (Timer->isActive())
                StopAlarm();
            return;
        }
        EvaluateAlarm(t, s);
        SetFontSize(36);
        if (!Timer->isActive())
            SetBackColor(m_settings.NormalColor);
        SetText(TempToStr(t) + QStringLiteral(" °C"));
        OutMAX->setText(TempToStr(s.MaxTemp) + QStringLiteral(" °C  "));
        OutMIN->setText(TempToStr(s.MinTemp) + QStringLiteral(" °C  "));
        OutAVG->setText(TempToStr((s.MaxTemp + s.MinTemp) / 2) + QStringLiteral(" °C  "));
        DrawThermometer(true, t, s.LoL, s.HiL);
    } else {
        if (state == rsStarting) {
            SetFontSize(12);
            SetBackColor(m_settings.NormalColor);
            SetText(QStringLiteral("Начало измерения..."));
        } else if (state == rsStopped) {
            SetFontSize(36);
            SetBackColor(m_settings.StopColor);
            SetText(QStringLiteral("- - - °C"));
            SetApplicationTitle(QStringLiteral("Термометр KP33"));
        }
        DrawThermometer(false, t, s.LoL, s.HiL);
        OutMAX->setText(NoValue);
        OutMIN->setText(NoValue);
        OutAVG->setText(NoValue);
    }
    DrawGraph(s);
}

void TMain::DrawGraph(const HistorySnapshot &s)
{
    GraphInputs in;
    in.snapshot = s;
    in.autoScale = AutoScale->isChecked();
    in.loT = m_settings.LoT;
    in.hiT = m_settings.HiT;
    in.controlT = ControlT->isChecked();
    in.tempColor = m_settings.TempColor;
    in.lptColor = m_settings.LPTColor;
    in.hptColor = m_settings.HPTColor;
    in.buttonFace = palette().color(QPalette::Button);
    in.font = font();
    in.ratio = compositionRatio();
    kp33::DrawGraph(in, Bevel1->picture());
    Bevel1->update();
    m_graph = std::move(in);
}

void TMain::Recompose()
{
    // The same figures again at the new ratio, from what they last showed;
    // nothing is measured or evaluated anew.
    const int ratio = compositionRatio();
    FitTextsToRatio(this, ratio);
    if (ThermBG->pixmap().devicePixelRatio() != ratio)
        ThermBG->setPixmap(ScalePicture(ratio));
    if (FrameTemp->image().devicePixelRatio() == ratio && ThermP->image().devicePixelRatio() == ratio &&
        Bevel1->image().devicePixelRatio() == ratio)
        return;
    DrawIndicator();
    DrawThermometer(m_column.active, m_column.t, m_column.lol, m_column.hil);
    m_graph.ratio = ratio;
    kp33::DrawGraph(m_graph, Bevel1->picture());
    Bevel1->update();
}

} // namespace kp33
