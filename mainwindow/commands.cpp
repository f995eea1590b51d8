// Menu commands that open dialogs, and the system-menu stand-in's "about".

#include "mainwindow/tmain.h"

namespace kp33 {

// Each dialog command builds its dialog anew, shows it modally and destroys
// it; until a dialog exists its command is logged so tests see it arrive.
void TMain::N1Click() { m_commandLog << QStringLiteral("N1Click"); }

void TMain::M_PZDClick() { m_commandLog << QStringLiteral("M_PZDClick"); }

void TMain::N3Click() { m_commandLog << QStringLiteral("N3Click"); }

void TMain::N4Click() { m_commandLog << QStringLiteral("N4Click"); }

} // namespace kp33
