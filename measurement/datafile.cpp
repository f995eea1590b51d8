#include "measurement/datafile.h"

#include "measurement/history.h"
#include "measurement/recording.h"
#include "measurement/regional.h"
#include "sensorbus/clock.h"
#include "sensorbus/globals.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

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

// Consecutive held rows of one file, as one block of text.
struct HeldRun {
    QString file;
    QByteArray rows;
    std::size_t count = 0;
};

// Protects held and heldCount. Only one side works on the held rows at a
// time (the thread in a session, the main thread at close), so each takes
// them out under the lock, writes without it, and puts back what is left.
std::mutex heldMutex;
std::vector<HeldRun> held; // oldest first
std::size_t heldCount = 0;

std::vector<HeldRun> takeHeld()
{
    std::lock_guard lock(heldMutex);
    heldCount = 0;
    return std::exchange(held, {});
}

void putBack(std::vector<HeldRun> runs)
{
    std::size_t count = 0;
    for (const HeldRun &r : runs)
        count += r.count;
    std::lock_guard lock(heldMutex);
    held = std::move(runs);
    heldCount = count;
}

std::atomic<std::size_t> heldLimit{MaxHeldRows};

std::function<bool(const QString &)> &busySeam()
{
    static std::function<bool(const QString &)> seam;
    return seam;
}

io::Handle openForAppend(const QString &name, io::Status &status)
{
    if (busySeam() && busySeam()(name)) {
        status = io::Status::Busy;
        return io::NoFile;
    }
    return io::OpenForAppend(name, status);
}

} // namespace

void SetBusyFileSeam(std::function<bool(const QString &name)> busy, std::size_t maxHeldRows)
{
    busySeam() = std::move(busy);
    heldLimit = maxHeldRows;
}

QString DirFailedMessage()
{
    return QStringLiteral("Невозможно создать каталог\r\r") +
           QDir::toNativeSeparators(dataParentDir() + QStringLiteral("DATA/"));
}

QString NoAccessMessage(const QString &fileName, bool programEnds)
{
    QString text = QStringLiteral("Нет доступа к файлу\r\n") + QDir::toNativeSeparators(fileName);
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

QString dataDir() { return dataParentDir() + QStringLiteral("DATA"); }

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

// OpenDataFile at the moment `now`; *opened names the file it tried.
DataFileResult openDataFileAt(const QDateTime &now, bool haltOnError, QString *opened = nullptr)
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
    if (opened)
        *opened = name;
    std::lock_guard lock(fileMutex);
    closeLocked();
    io::Status status;
    dataFile = openForAppend(name, status);
    if (status == io::Status::Busy) {
        result.busy = true;
    } else if (dataFile == io::NoFile) {
        result.ok = false;
        result.messages << NoAccessMessage(name);
    }
    return result;
}

// Writes the held runs that can go to their files now, each file's in order;
// a file that is still busy keeps all of its runs. `current` is the data
// file in use (open in dataFile unless busy); others are opened for the
// moment. Failures add their message to result; the runs stay held.
void writeHeld(std::vector<HeldRun> &runs, const QString &current, bool currentBusy, DataFileResult &result)
{
    QSet<QString> tried;
    std::vector<bool> written(runs.size(), false);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const QString file = runs[i].file;
        if (tried.contains(file))
            continue;
        tried.insert(file);
        const bool inUse = !current.isEmpty() && file == current;
        if (inUse && currentBusy)
            continue;
        io::Handle other = io::NoFile;
        if (!inUse) {
            io::Status status;
            other = openForAppend(file, status);
            if (status == io::Status::Busy)
                continue;
            if (other == io::NoFile) {
                result.ok = false;
                result.messages << NoAccessMessage(file);
                continue;
            }
        }
        std::unique_lock lock(fileMutex, std::defer_lock);
        if (inUse)
            lock.lock();
        const io::Handle h = inUse ? dataFile : other;
        for (std::size_t j = i; j < runs.size(); ++j) {
            if (runs[j].file != file)
                continue;
            const io::Status status = io::WriteRow(h, runs[j].rows.constData(), static_cast<std::size_t>(runs[j].rows.size()));
            if (status != io::Status::Ok) {
                if (status == io::Status::Failed) {
                    result.ok = false;
                    result.messages << NoAccessMessage(file);
                    if (inUse)
                        closeLocked();
                }
                break; // what follows for this file waits, so its rows stay in order
            }
            written[j] = true;
        }
        io::Close(other);
    }
    std::vector<HeldRun> left;
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (!written[i])
            left.push_back(std::move(runs[i]));
    runs = std::move(left);
}

QString sortableStamp(const QDateTime &t) { return t.toString(QStringLiteral("yyyyMMdd-HHmmss")); }

// "DATA/07-12-2026.csv" -> "DATA/07-12-2026-KP33-<stamp>.csv"
QString keptRowsName(const QString &file, const QString &stamp)
{
    QString base = file;
    if (base.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        base.chop(4);
    return base + QStringLiteral("-KP33-") + stamp + QStringLiteral(".csv");
}

bool writeWhole(const QString &name, const std::vector<const HeldRun *> &runs)
{
    io::Status status;
    const io::Handle h = openForAppend(name, status);
    if (h == io::NoFile)
        return false;
    bool ok = true;
    for (const HeldRun *r : runs)
        ok = ok && io::WriteRow(h, r->rows.constData(), static_cast<std::size_t>(r->rows.size())) == io::Status::Ok;
    io::Close(h);
    return ok;
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
    io::Status status;
    m_file = openForAppend(m_name, status);
    if (status == io::Status::Busy) {
        // Taken into use all the same: the thread keeps its rows until the
        // other program lets go.
        m_result.busy = true;
    } else if (m_file == io::NoFile) {
        m_result.ok = false;
        m_result.messages << NoAccessMessage(m_name, false);
    }
}

DataFileTrial::~DataFileTrial() { io::Close(m_file); }

void DataFileTrial::TakeIntoUse()
{
    if (!m_result.ok)
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
    QString name;
    DataFileResult result = openDataFileAt(now, false, &name);
    if (!result.ok)
        return result;
    long double lol, hil;
    history().NewestLimits(lol, hil);
    const QByteArray row = FormatDataRow(RowTimeText(now.time()), t, lol, hil);

    // Behind rows of its own file that are held, or when that file is busy,
    // the new row joins the held ones: they go in first, in one write with
    // it. Otherwise it is written as ever, and never held when that fails:
    // a file that fails ends recording, as it always did.
    std::vector<HeldRun> runs = takeHeld();
    const auto hold = [&] {
        if (runs.empty() || runs.back().file != name)
            runs.push_back({name, QByteArray(), 0});
        runs.back().rows += row;
        ++runs.back().count;
    };
    bool behind = result.busy;
    for (const HeldRun &r : runs)
        behind = behind || r.file == name;
    if (behind)
        hold();
    writeHeld(runs, name, result.busy, result);
    if (!behind) {
        std::lock_guard lock(fileMutex);
        const io::Status status = io::WriteRow(dataFile, row.constData(), static_cast<std::size_t>(row.size()));
        if (status == io::Status::Busy) {
            hold(); // a part of the file locked by another program
        } else if (status == io::Status::Failed) {
            result.ok = false;
            result.messages << NoAccessMessage(name);
            closeLocked();
        }
    }
    std::size_t count = 0;
    for (const HeldRun &r : runs)
        count += r.count;
    if (result.ok && count >= heldLimit.load()) {
        // Held for a week: given up like a file that fails, and the rows go
        // beside it at the close that follows.
        result.ok = false;
        result.messages << NoAccessMessage(runs.front().file);
    }
    putBack(std::move(runs));
    return result;
}

std::size_t HeldRowCount()
{
    std::lock_guard lock(heldMutex);
    return heldCount;
}

QString HeldRowsNote()
{
    return HeldRowCount() > 0 ? QStringLiteral(" — файл данных занят другой программой, строки хранятся в памяти")
                              : QString();
}

QString KeptRowsMessage(const QString &fileName, const QString &keptIn)
{
    return QStringLiteral("Файл данных был занят другой программой:\r\n") + QDir::toNativeSeparators(fileName) +
           QStringLiteral("\r\r\nНе записанные в него строки сохранены в файле\r\n") + QDir::toNativeSeparators(keptIn);
}

QString LostRowsMessage(const QString &fileName, const QString &triedIn)
{
    return QStringLiteral("Файл данных был занят другой программой:\r\n") + QDir::toNativeSeparators(fileName) +
           QStringLiteral("\r\r\nНе записанные в него строки сохранить не удалось: нет доступа к файлу\r\n") +
           QDir::toNativeSeparators(triedIn);
}

QStringList SaveHeldRows()
{
    std::vector<HeldRun> runs = takeHeld();
    if (runs.empty())
        return {};
    // Their own files first: the other program may have let go by now. What
    // fails here is said below, with the file the rows went to instead.
    DataFileResult ignored;
    writeHeld(runs, QString(), false, ignored);

    QStringList messages;
    const QString stamp = sortableStamp(theClock().now());
    QSet<QString> done;
    for (const HeldRun &first : runs) {
        if (done.contains(first.file))
            continue;
        done.insert(first.file);
        std::vector<const HeldRun *> ofFile;
        for (const HeldRun &r : runs)
            if (r.file == first.file)
                ofFile.push_back(&r);
        const QString beside = keptRowsName(first.file, stamp);
        const QString inData = dataDir() + QLatin1Char('/') + QFileInfo(beside).fileName();
        if (writeWhole(beside, ofFile))
            messages << KeptRowsMessage(first.file, beside);
        else if (QFileInfo(beside).absoluteFilePath() != QFileInfo(inData).absoluteFilePath() && makeDataDir() &&
                 writeWhole(inData, ofFile))
            messages << KeptRowsMessage(first.file, inData);
        else
            messages << LostRowsMessage(first.file, beside);
    }
    return messages;
}

} // namespace kp33
