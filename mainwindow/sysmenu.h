#pragma once
// The "О программе..." item of the main window's system menu.

#include <QByteArray>

class QWidget;

namespace kp33 {

inline constexpr int SysCommandAbout = 1025;

// Appends a separator and "О программе..." (SysCommandAbout) to the window's
// system menu. Makes the native window when there is none yet.
void AddAboutToSystemMenu(QWidget *window);

// The command of a system-menu message among a window's native events, or 0
// for any other event.
int SystemMenuCommand(const QByteArray &eventType, void *message);

// True where the desktop has no system menu to extend (Linux): a context
// menu of the window stands in for it.
extern const bool SystemMenuStandIn;

} // namespace kp33
