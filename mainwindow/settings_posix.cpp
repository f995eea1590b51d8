#include "mainwindow/settings.h"

#include <QStandardPaths>

namespace kp33 {

// Where a Linux desktop keeps what a Windows program keeps under
// HKEY_CURRENT_USER: a file per key in the user's configuration folder.
QString RegistryRecordLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/KP33/Information.conf");
}

} // namespace kp33
