#include "measurement/datafile.h"

#include "measurement/history.h"
#include "measurement/recording.h"
#include "sensorbus/clock.h"
#include "sensorbus/globals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kp33 {

namespace {

// Protects dataFd. The measurement thread and the main thread take turns on
// the file (the recording hold), so this lock is never contended for long;
// it exists so each side sees the other's open and close.
std::mutex fileMutex;
int dataFd = -1;

void closeLocked()
{
    if (dataFd >= 0) {
        ::close(dataFd);
        dataFd = -1;
    }
}

bool writeAll(int fd, const char *p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (w == 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Opens name for appending; -1 when it cannot be opened or is not a file a
// row can go to.
int openForAppend(const QString &name)
{
    const QByteArray path = QFile::encodeName(name);
    if (path.isEmpty())
        return -1;
    // O_NONBLOCK: opening a FIFO for writing with no reader would otherwise
    // hang the thread; the fstat below then refuses it.
    int fd;
    do {
        fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // A row cut short by a power failure: end it, so the next row stands on
    // its own line.
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        const int rfd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        char last = '\n';
        if (rfd >= 0) {
            if (::pread(rfd, &last, 1, st.st_size - 1) != 1)
                last = '\n';
            ::close(rfd);
        }
        if (last != '\n') {
            const char *end = last == '\r' ? "\n" : "\r\n";
            if (!writeAll(fd, end, std::strlen(end))) {
                ::close(fd);
                return -1;
            }
        }
    }
    return fd;
}

} // namespace

QString DirFailedMessage()
{
    return QStringLiteral("Невозможно создать каталог\r\r") + programDir() + QStringLiteral("DATA/");
}

QString NoAccessMessage(const QString &fileName, bool programEnds)
{
    QString text = QStringLiteral("Нет доступа к файлу\r\n") + fileName;
    if (programEnds)
        text += QStringLiteral("\r\r\nДальнейшая работа программы невозможна!");
    return text;
}

QByteArray FormatDataRow(const QString &hms, long double t, long double lol, long double hil)
{
    return (hms + QLatin1Char(',') + TempToStr(t) + QLatin1Char(',') + TempToStr(lol) +
            QLatin1Char(',') + TempToStr(hil) + QStringLiteral("\r\n"))
        .toUtf8();
}

namespace {

QString dataDir() { return programDir() + QStringLiteral("DATA"); }

// DATA/ is made in either mode, so a later switch to automatic names finds it.
bool makeDataDir()
{
    const QString dir = dataDir();
    return QFileInfo(dir).isDir() || QDir().mkdir(dir);
}

QString automaticName(const QDateTime &now)
{
    return dataDir() + QLatin1Char('/') + now.date().toString(QStringLiteral("dd-MM-yyyy")) + QStringLiteral(".csv");
}

// OpenDataFile at the moment `now`.
DataFileResult openDataFileAt(const QDateTime &now, bool haltOnError)
{
    DataFileResult result;
    if (!makeDataDir()) {
        result.dirFailed = true;
        result.messages << DirFailedMessage();
        if (haltOnError) {
            result.ok = false;
            return result;
        }
    }
    QString name;
    if (!FileType.load()) {
        name = automaticName(now);
        history().SetFileSave(name);
    } else {
        name = history().FileSave();
    }
    std::lock_guard lock(fileMutex);
    closeLocked();
    dataFd = openForAppend(name);
    if (dataFd < 0) {
        result.ok = false;
        result.messages << NoAccessMessage(name);
    }
    return result;
}

} // namespace

DataFileResult OpenDataFile(bool haltOnError) { return openDataFileAt(theClock().now(), haltOnError); }

DataFileTrial::DataFileTrial(bool fileType, const QString &fileSave) : m_fileType(fileType)
{
    const QDateTime now = theClock().now();
    // Without DATA/ the thread could not reopen the file before its next row,
    // whichever file was chosen: refused like a file that cannot be opened.
    if (!makeDataDir()) {
        m_result.ok = false;
        m_result.dirFailed = true;
        m_result.messages << DirFailedMessage();
        return;
    }
    m_name = fileType ? fileSave : automaticName(now);
    m_fd = openForAppend(m_name);
    if (m_fd < 0) {
        m_result.ok = false;
        m_result.messages << NoAccessMessage(m_name, false);
    }
}

DataFileTrial::~DataFileTrial()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void DataFileTrial::TakeIntoUse()
{
    if (m_fd < 0)
        return;
    FileType = m_fileType;
    history().SetFileSave(m_name);
    std::lock_guard lock(fileMutex);
    closeLocked();
    dataFd = std::exchange(m_fd, -1);
}

void CloseDataFile()
{
    std::lock_guard lock(fileMutex);
    closeLocked();
}

bool DataFileOpen()
{
    std::lock_guard lock(fileMutex);
    return dataFd >= 0;
}

DataFileResult WriteDataRow(long double t)
{
    const QDateTime now = theClock().now();
    CloseDataFile();
    DataFileResult result = openDataFileAt(now, false);
    if (!result.ok)
        return result;
    long double lol, hil;
    history().NewestLimits(lol, hil);
    const QByteArray row = FormatDataRow(now.time().toString(QStringLiteral("HH:mm:ss")), t, lol, hil);

    std::lock_guard lock(fileMutex);
    bool written = dataFd >= 0 && writeAll(dataFd, row.constData(), static_cast<std::size_t>(row.size()));
    if (written && ::fdatasync(dataFd) != 0) {
        // A terminal or other device chosen as the data file cannot be synced;
        // that is no lost row.
        written = errno == EINVAL || errno == EROFS;
    }
    if (!written) {
        result.ok = false;
        result.messages << NoAccessMessage(history().FileSave());
        closeLocked();
    }
    return result;
}

} // namespace kp33
