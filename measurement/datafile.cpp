#include "measurement/datafile.h"

#include "measurement/history.h"
#include "measurement/recording.h"
#include "measurement/regional.h"
#include "sensorbus/clock.h"
#include "sensorbus/globals.h"

#include <QDir>
#include <QFileInfo>
#include <mutex>
#include <utility>

namespace kp33 {

namespace {

namespace io = datafileio;

// Protects dataFile. The measurement thread and the main thread take turns
// on the file (the recording hold), so this lock is never contended for
// long; it exists so each side sees the other's open and close.
std::mutex fileMutex;
io::Handle dataFile = io::NoFile;

void closeLocked()
{
    io::Close(std::exchange(dataFile, io::NoFile));
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
    return dataDir() + QLatin1Char('/') + DataFileDateStem(now.date()) + QStringLiteral(".csv");
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
    dataFile = io::OpenForAppend(name);
    if (dataFile == io::NoFile) {
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
    m_file = io::OpenForAppend(m_name);
    if (m_file == io::NoFile) {
        m_result.ok = false;
        m_result.messages << NoAccessMessage(m_name, false);
    }
}

DataFileTrial::~DataFileTrial() { io::Close(m_file); }

void DataFileTrial::TakeIntoUse()
{
    if (m_file == io::NoFile)
        return;
    FileType = m_fileType;
    history().SetFileSave(m_name);
    std::lock_guard lock(fileMutex);
    closeLocked();
    dataFile = std::exchange(m_file, io::NoFile);
}

void CloseDataFile()
{
    std::lock_guard lock(fileMutex);
    closeLocked();
}

bool DataFileOpen()
{
    std::lock_guard lock(fileMutex);
    return dataFile != io::NoFile;
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
    const QByteArray row = FormatDataRow(RowTimeText(now.time()), t, lol, hil);

    std::lock_guard lock(fileMutex);
    if (!io::WriteRow(dataFile, row.constData(), static_cast<std::size_t>(row.size()))) {
        result.ok = false;
        result.messages << NoAccessMessage(history().FileSave());
        closeLocked();
    }
    return result;
}

} // namespace kp33
