#include "mainwindow/sysmenu.h"

// Linux desktops offer no extensible system menu; TMain's context menu
// carries the item instead.

namespace kp33 {

const bool SystemMenuStandIn = true;

void AddAboutToSystemMenu(QWidget *) {}

int SystemMenuCommand(const QByteArray &, void *) { return 0; }

} // namespace kp33
