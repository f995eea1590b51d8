#pragma once
// Shared test support: a clock that never waits on the wall clock, a fresh
// program folder per test, and the sensor simulator on a pseudo-terminal.

#include "sensorbus/clock.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace kp33::test {

// Time moves only when the code sleeps or a wait for input times out. Waits
// for input still poll the real descriptor, so echoes from the simulator arrive
// as they would; only a missing echo advances the fake time by its time-out
// (after a real wait of at least a quarter second).
class FakeClock final : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)),
                       std::uint32_t startTick = 1000);
    std::uint32_t tickCount() override;
    void sleep(std::uint32_t ms) override;
    QDateTime now() override;
    bool waitInput(const InputWait &wait, int timeoutMs) override;
    void pauseDispatching(std::uint32_t ms) override;

    void advance(std::uint64_t ms);
    std::uint64_t elapsedMs() const { return m_elapsed.load(); }
    std::uint64_t sleptMs() const { return m_slept.load(); }

private:
    const QDateTime m_start;
    const std::uint32_t m_startTick;
    std::atomic<std::uint64_t> m_elapsed{0};
    std::atomic<std::uint64_t> m_slept{0};
};

// Installs a clock for one scope and restores the real one after.
class ClockScope {
public:
    explicit ClockScope(Clock *c) { setClock(c); }
    ~ClockScope() { setClock(nullptr); }
    ClockScope(const ClockScope &) = delete;
    ClockScope &operator=(const ClockScope &) = delete;
};

// A fresh temporary folder that the program sees as its own directory.
class ProgramFolder {
public:
    ProgramFolder();
    QString path() const; // with trailing "/"
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
};

// A fresh program folder taken as one that cannot be written, as the start
// would find it: settings and data go to the user's folders. Where those
// should be is worked out here without Qt's help: on Linux the test's own
// XDG_CONFIG_HOME and XDG_DATA_HOME, pointed at fresh folders for the life of
// the object; on Windows %LOCALAPPDATA%\KP33\ of the test's Wine prefix,
// which suites share, so each removes only what it made there.
class UserFolders {
public:
    UserFolders();
    ~UserFolders();
    UserFolders(const UserFolders &) = delete;
    UserFolders &operator=(const UserFolders &) = delete;

    QString program() const { return m_program.path() + QLatin1Char('/'); }
    // Where KP33.ini and DATA/ belong, each with a trailing "/"; empty when
    // the system names no such folder.
    QString settings() const { return m_settings; }
    QString data() const { return m_data; }

private:
    QTemporaryDir m_program;
    QTemporaryDir m_xdgConfig;
    QTemporaryDir m_xdgData;
    QByteArray m_oldConfig;
    QByteArray m_oldData;
    QString m_settings;
    QString m_data;
};

// Linux: the user's folders follow XDG_CONFIG_HOME and XDG_DATA_HOME.
// Windows: both are %LOCALAPPDATA% (LocalAppData() in "/" form).
extern const bool UserFoldersFollowXdg;
QString LocalAppData();

// kp33-sensor-sim on a pseudo-terminal, killed when this goes out of scope.
class SensorSim {
public:
    // Starts the simulator with the given arguments (a trace file inside the
    // folder is added unless the arguments name one) and maps COM1 to its port.
    explicit SensorSim(const QStringList &args = {});
    ~SensorSim();
    SensorSim(const SensorSim &) = delete;
    SensorSim &operator=(const SensorSim &) = delete;

    bool started() const { return !m_port.isEmpty(); }
    QString port() const { return m_port; }
    QString tracePath() const { return m_trace; }
    // The trace lines written so far from line `from` on, optionally only those
    // starting with prefix. traceLines() marks where a step's trace begins.
    QStringList trace(const QString &prefix = {}, int from = 0) const;
    int traceLines() const { return static_cast<int>(trace().size()); }
    QString errors() const;
    // Reads the next stdout line (the new port after a re-plug).
    QString nextPortLine(int timeoutMs = 5000);

    static QString executable();

private:
    QTemporaryDir m_dir;
    QProcess m_proc;
    QString m_port;
    QString m_trace;
};

// Opens COM1 the way the session does (purge, close, open, no read waits,
// 9600 bit/s); false when the port cannot be opened.
bool openPort();

// A FIFO at path, to stand where a file is expected; false when it could not
// be made. A Windows file system has none (HasFifos false): such cases skip.
extern const bool HasFifos;
bool MakeFifo(const QString &path);
// Opens the FIFO's reading end without waiting for a writer; -1 on failure.
int OpenFifoReader(const QString &path);
void CloseFifoReader(int fd);

// Names that stand for a device rather than a file (Windows: "CON", "NUL",
// "COM1" …). None on Linux, where a device is a path under /dev that a row
// may go to.
QStringList DeviceFileNames();

// Holds a file the way another program may, so that opening it to append
// finds it busy: on Windows open for reading with read sharing only, as a
// spreadsheet opens it; on Linux a read lease, as a file server takes one.
// held() is false where the file system offers no such hold (and on Linux
// while the file is open for writing anywhere).
class ForeignHold {
public:
    explicit ForeignHold(const QString &path);
    ~ForeignHold() { release(); }
    ForeignHold(const ForeignHold &) = delete;
    ForeignHold &operator=(const ForeignHold &) = delete;
    bool held() const { return m_handle != -1; }
    void release();

private:
    std::intptr_t m_handle = -1;
};

// The registry record at location (the program's RegistryRecordLocation())
// as "name=value" lines in the order stored: a file on Linux, a key of the
// registry on Windows. ClearRegistryRecord removes it. RecordIsAFile: only a
// file's place can be blocked from here (a file where its folder belongs).
extern const bool RecordIsAFile;
QStringList ReadRegistryRecord(const QString &location);
void ClearRegistryRecord(const QString &location);

// What a platform's own conventions make the program do: Windows reads
// quoted profile values the way its profile functions do, and takes the row
// time and the file-name date from the user's regional formats. Linux does
// neither.
extern const bool WindowsConventions;

// The value Windows' own GetPrivateProfileStringW reads from the file at
// path (UTF-8 files aside, for ASCII text), the reference a reading of
// quoted values is held to. An empty optional where there is no such
// function.
std::optional<QString> SystemProfileString(const QString &path, const QString &section, const QString &key);

// Holds a file open the way another program may (a spreadsheet, a virus
// scanner, a sync tool): reading, sharing reads and, with shareWrite, writes,
// never a delete or a rename. Only Windows has such holds (HasFileHolds);
// elsewhere the object holds nothing.
extern const bool HasFileHolds;
class FileHold {
public:
    FileHold(const QString &path, bool shareWrite);
    ~FileHold() { release(); }
    FileHold(const FileHold &) = delete;
    FileHold &operator=(const FileHold &) = delete;
    bool held() const { return m_handle != -1; }
    void release();

private:
    std::intptr_t m_handle = -1;
};

} // namespace kp33::test
