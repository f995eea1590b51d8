#include "testsupport.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kp33::test {

const bool HasFifos = true;
const bool RecordIsAFile = true;

bool MakeFifo(const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

int OpenFifoReader(const QString &path) { return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK); }

void CloseFifoReader(int fd) { ::close(fd); }

QStringList DeviceFileNames() { return {}; }

QStringList ReadRegistryRecord(const QString &location)
{
    QFile f(location);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // The INI section QSettings puts the values under.
    lines.removeAll(QStringLiteral("[General]"));
    return lines;
}

void ClearRegistryRecord(const QString &location) { QFile::remove(location); }

const bool WindowsConventions = false;

std::optional<QString> SystemProfileString(const QString &, const QString &, const QString &) { return std::nullopt; }

// Locks on Linux are advisory: an open file never stands in another's way.
const bool HasFileHolds = false;

FileHold::FileHold(const QString &, bool) {}

void FileHold::release() {}

} // namespace kp33::test
