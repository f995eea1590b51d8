#include "dialogs/sharedsettings.h"

#include <QCoreApplication>
#include <QSettings>

namespace kp33 {

void KeepQtDialogsToThemselves()
{
    // The program file itself stands where the folder would have to be, so
    // no folder and no file in it can ever be made there, and nothing is
    // left behind by trying.
    const QString nowhere = QCoreApplication::applicationFilePath();
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, nowhere);
}

} // namespace kp33
