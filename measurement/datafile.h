#pragma once
// The data file: one comma-separated row per recording period, in the daily
// file DATA/dd-MM-yyyy.csv beside the program (in the user's data folder when
// the program folder cannot be written) or in a file the user chose.

#include "measurement/datafileio.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>

namespace kp33 {

// The outcome of opening the data file or writing a row. `messages` holds the
// texts of the error boxes to show, in order ("Ошибка" is their caption);
// `ok` is false when the file could not be opened or the row not written.
// `busy`: another program holds the file (datafileio's Busy). That is no
// failure: the file is not open, and rows wait in memory until it is free.
struct DataFileResult {
    bool ok = true;
    bool dirFailed = false;
    bool busy = false;
    QStringList messages;
};

// Makes DATA/ (one level) when missing, in either mode; in automatic mode
// names today's file (clock seam) and stores the name in FileSave; opens
// FileSave for appending, creating it when missing (datafileio: what it
// refuses, and the end of a row that was cut short).
// haltOnError: the caller ends the program on a failure (start-up), so the
// first failure is the only one: a DATA/ that cannot be made fails at once,
// with its one message. Without it (the thread before a row) the file is
// still tried after that message, as a chosen file may lie elsewhere.
// A file that another program holds is no failure (`busy`): the program
// goes on, and the thread keeps its rows until the file is free.
DataFileResult OpenDataFile(bool haltOnError = false);
// Closes the file; harmless when none is open.
void CloseDataFile();
bool DataFileOpen();

// A new choice of data file, opened before the file in use is let go: the
// recording dialog tries the user's choice first, so a name that cannot be
// opened leaves the current file and recording as they were. Opening works
// as OpenDataFile with haltOnError, but touches neither the file in use nor
// FileType and FileSave; its message says nothing of the program ending,
// since the program goes on. A choice that another program holds is taken
// all the same (ok(), not open): its rows wait until it is free.
class DataFileTrial {
public:
    // fileType and fileSave as the settings would hold them; in automatic
    // mode fileSave plays no part and today's name is used.
    DataFileTrial(bool fileType, const QString &fileSave);
    ~DataFileTrial(); // closes the tried file unless it was taken into use
    DataFileTrial(const DataFileTrial &) = delete;
    DataFileTrial &operator=(const DataFileTrial &) = delete;

    bool ok() const { return m_result.ok; }
    const QStringList &messages() const { return m_result.messages; }
    // The tried file becomes the data file: the one in use is closed, and
    // FileType and FileSave name the new choice. Only after ok().
    void TakeIntoUse();

private:
    bool m_fileType;
    QString m_name;
    datafileio::Handle m_file = datafileio::NoFile;
    DataFileResult m_result;
};

// Close, reopen (a new day starts a new file), then one row
// "HH:mm:ss,T,LoL,HiL" CR LF written with one write and synced to the disk.
// A write or sync that fails is reported like a failed open: a row that did
// not reach the disk must never pass for a recorded one. The file's date and
// the row's time come from one reading of the clock, so a row stamped
// 00:00:00 never lands in the day before's file.
// A file that another program holds keeps the row in memory with the name
// of its file, so a row held at 23:59:59 goes to its own day's file. Every
// row tries the held ones again first: each file's held rows go in, in
// order, before anything newer. MaxHeldRows held rows end recording like a
// failed file: the message, the close, and SaveHeldRows.
DataFileResult WriteDataRow(long double t);

// A week of rows at one a second, some 20 MB.
inline constexpr std::size_t MaxHeldRows = 7 * 24 * 3600;
std::size_t HeldRowCount();
// What the application title adds while rows are held; empty otherwise.
QString HeldRowsNote();
// At program close: held rows go to their own files where those are free
// now, the rest to a file beside each ("07-12-2026-KP33-20261208-101530.csv",
// the close's date and time), or in DATA/ when that folder takes no new
// file. The texts of the boxes that name those files, one a data file;
// none when no row was held. Nothing is held afterwards.
QStringList SaveHeldRows();
QString KeptRowsMessage(const QString &fileName, const QString &keptIn);
QString LostRowsMessage(const QString &fileName, const QString &triedIn);

// Test seam, in-process only: true for a name makes every open of it answer
// "held by another program", as Windows does while a spreadsheet has the
// file, and maxHeldRows stands for MaxHeldRows. Empty (the default) leaves
// it to the system. Set it while no thread runs; the function itself is
// called from the measurement thread.
void SetBusyFileSeam(std::function<bool(const QString &name)> busy, std::size_t maxHeldRows = MaxHeldRows);

// The row text for time hms and the three temperatures (point decimals).
QByteArray FormatDataRow(const QString &hms, long double t, long double lol, long double hil);

// Paths in messages are in the platform's own separators.
QString DirFailedMessage();
// programEnds: the closing line "Дальнейшая работа программы невозможна!",
// left out where the program goes on (a choice made in the recording dialog).
QString NoAccessMessage(const QString &fileName, bool programEnds = true);

} // namespace kp33
