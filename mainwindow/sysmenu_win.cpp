#include "mainwindow/sysmenu.h"

#include <QGuiApplication>
#include <QWidget>
#include <windows.h>

namespace kp33 {

const bool SystemMenuStandIn = false;

void AddAboutToSystemMenu(QWidget *window)
{
    // Other platforms (offscreen) hand out ids that are no window handles.
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        return;
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(window->winId()), FALSE);
    if (!menu)
        return;
    // 0xFFFF is past the last item: both go to the end, after "Close".
    InsertMenuW(menu, 0xFFFF, MF_BYPOSITION | MF_SEPARATOR, SysCommandAbout, nullptr);
    InsertMenuW(menu, 0xFFFF, MF_BYPOSITION | MF_STRING, SysCommandAbout, L"О программе...");
}

int SystemMenuCommand(const QByteArray &eventType, void *message)
{
    if (eventType != "windows_generic_MSG")
        return 0;
    const MSG *msg = static_cast<const MSG *>(message);
    return msg->message == WM_SYSCOMMAND ? static_cast<int>(msg->wParam) : 0;
}

} // namespace kp33
