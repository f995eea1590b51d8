#include "mainwindow/settings.h"

namespace kp33 {

// A native-format QSettings takes a name that starts with a root key as the
// registry key itself, creating it when missing.
QString RegistryRecordLocation() { return QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\KP33\\Information"); }

} // namespace kp33
