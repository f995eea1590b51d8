// Menu commands that open dialogs, and the system-menu stand-in's "about".
// Each dialog is built anew, shown modally and destroyed when it closes, so
// every opening shows the settings as they stand.

#include "dialogs/about.h"
#include "dialogs/helpviewer.h"
#include "dialogs/params.h"
#include "dialogs/pzd.h"
#include "mainwindow/tmain.h"
#include "measurement/readtemp.h"
#include "sensorbus/globals.h"

#include <QThread>

namespace kp33 {


void TMain::N1Click()
{
    if (m_closeRequested)
        return;
    DisplayColors colours{m_settings.TempColor, m_indicator.FontColor, m_settings.NormalColor,
                          m_settings.StopColor,  m_settings.ErrorColor, m_settings.LoTColor,
                          m_settings.HiTColor,   m_settings.LPTColor,   m_settings.HPTColor};
    {
        BusyScope busy(this);
        TParams dialog(this, colours);
        dialog.exec();
        colours = dialog.colours();
    }
    using namespace DisplayColorIndex;
    m_settings.TempColor = colours[TempColor];
    m_settings.TempValueColor = colours[TempValueColor];
    m_settings.NormalColor = colours[NormalColor];
    m_settings.StopColor = colours[StopColor];
    m_settings.ErrorColor = colours[ErrorColor];
    m_settings.LoTColor = colours[LoTColor];
    m_settings.HiTColor = colours[HiTColor];
    m_settings.LPTColor = colours[LPTColor];
    m_settings.HPTColor = colours[HPTColor];
    // The limit labels follow their curves whatever closed the dialog; the
    // indicator repaints only when its text colour really changed.
    ColourLimitLabels();
    SetFontColor(m_settings.TempValueColor);
}

void TMain::M_PZDClick()
{
    if (m_closeRequested)
        return;
    BusyScope busy(this);
    TPZD dialog(this, QPointer<QThread>(m_thread.data()));
    dialog.exec();
}

void TMain::N3Click()
{
    if (m_closeRequested)
        return;
    // The help stays open beside the window; measuring goes on meanwhile.
    ShowHelp(this);
}

void TMain::N4Click()
{
    if (m_closeRequested)
        return;
    BusyScope busy(this);
    ShowAbout(this);
}

} // namespace kp33
