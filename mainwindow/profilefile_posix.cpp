#include "mainwindow/profilefile.h"
#include "mainwindow/profilefileio.h"

#include <QSaveFile>

namespace kp33 {

// Nothing on Linux reads KP33.ini through Windows' rules, and a quote is an
// ordinary character of a file name here.
const bool ProfileFile::PlatformStripsQuotes = false;

namespace profilefileio {

// A rename never meets another program's open file on Linux: no retry needed.
bool ReplaceContents(const QString &path, const QByteArray &data, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    if (file.write(data) != data.size()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace profilefileio

} // namespace kp33
