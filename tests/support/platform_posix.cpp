#include "testsupport.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kp33::test {

const bool HasFifos = true;
const bool RecordIsAFile = true;
const bool UserFoldersFollowXdg = true;

QString LocalAppData() { return {}; }

bool MakeFifo(const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

int OpenFifoReader(const QString &path) { return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK); }

void CloseFifoReader(int fd) { ::close(fd); }

QStringList DeviceFileNames() { return {}; }

ForeignHold::ForeignHold(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    // The lease's owner would get SIGIO when a writer knocks, and SIGIO ends
    // a process by default; with no owner no signal is sent.
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) != 0 || ::fcntl(fd, F_SETOWN, 0) != 0) {
        ::close(fd);
        return;
    }
    m_handle = fd;
}

void ForeignHold::release()
{
    if (m_handle == -1)
        return;
    const int fd = static_cast<int>(m_handle);
    (void)::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
    m_handle = -1;
}

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
