// The data file: names, rows, appending, the recording hold, every way the
// file can fail, and a file that another program holds.

#include "measurement/datafile.h"
#include "measurement/regional.h"
#include "probe.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "support/testsupport.h"

#include <QScopeGuard>
#include <QLocale>
#include <QtTest>
#include <algorithm>

using namespace kp33;
using kp33::test::Probe;

namespace {

QByteArray readAll(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> rows(const QString &name)
{
    QList<QByteArray> out = readAll(name).split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

// A row's time as this platform writes it: HH:mm:ss on Linux, the user's
// long time on Windows. formatsOfTheUser holds that text to the formats
// themselves; the other cases are about which rows go where.
QByteArray at(const char *hms)
{
    return RowTimeText(QTime::fromString(QLatin1String(hms), QStringLiteral("HH:mm:ss"))).toUtf8();
}

// Time moves on by a millisecond at every reading of the date and time, as
// the real clock does between two readings.
class SteppingClock final : public Clock {
public:
    explicit SteppingClock(QDateTime start) : m_inner(std::move(start)) {}
    std::uint32_t tickCount() override { return m_inner.tickCount(); }
    void sleep(std::uint32_t ms) override { m_inner.sleep(ms); }
    QDateTime now() override
    {
        const QDateTime t = m_inner.now();
        m_inner.advance(1);
        return t;
    }
    bool waitInput(const InputWait &w, int ms) override { return m_inner.waitInput(w, ms); }
    void pauseDispatching(std::uint32_t ms) override { m_inner.pauseDispatching(ms); }

private:
    test::FakeClock m_inner;
};

} // namespace

class TestDataFile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void rowFormat();
    void shortDateName_data();
    void shortDateName();
    void longTimeAccepted_data();
    void longTimeAccepted();
    void formatsOfTheUser();
    void firstRowAtOnceThenEveryPeriod();
    void appendsNeverTruncates();
    void cutLastLineIsEnded();
    void midnightStartsNewFile();
    void chosenFileStillMakesDataFolder();
    void holdKeepsThreadOffTheFile();
    void fullDiskEndsSessionAndKeepsEarlierRows();
    void dataFolderBlockedByFile();
    void readOnlyProgramFolderRecordsForTheUser_data();
    void readOnlyProgramFolderRecordsForTheUser();
    void notAFileRefused_data();
    void notAFileRefused();
    void sharedWhileOpenAnyName_data();
    void sharedWhileOpenAnyName();
    void busyFileHoldsRowsUntilFree_data();
    void busyFileHoldsRowsUntilFree();
    void heldByAnotherProgram();
    void heldRowsAtClose_data();
    void heldRowsAtClose();
    void heldRowsBounded();
    void rowsFromSensorEndToEnd_data();
    void rowsFromSensorEndToEnd();

private:
    std::unique_ptr<test::ProgramFolder> m_folder;
    std::unique_ptr<test::FakeClock> m_clock;
    std::unique_ptr<test::ClockScope> m_scope;
};

void TestDataFile::init()
{
    test::resetMeasurementState();
    Save = true;
    SensorFound = false;
    history().SetFileSave(QString());
    m_folder = std::make_unique<test::ProgramFolder>();
    m_clock = std::make_unique<test::FakeClock>(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)));
    m_scope = std::make_unique<test::ClockScope>(m_clock.get());
}

void TestDataFile::cleanup()
{
    SetBusyFileSeam(nullptr);
    (void)SaveHeldRows(); // none held into the next test
    CloseDataFile();
    CloseCOM();
    m_scope.reset();
    m_clock.reset();
    m_folder.reset();
}

void TestDataFile::rowFormat()
{
    QCOMPARE(FormatDataRow("23:59:59", 23.5L, -55.0L, 125.0L), QByteArray("23:59:59,23.5,-55.0,125.0\r\n"));
    QCOMPARE(FormatDataRow("00:00:01", NoTemp, -0.04L, 22.25L), QByteArray("00:00:01,1000.0,0.0,22.3\r\n"));
}

// The stem of an automatic name from a short date: its 3rd and 6th
// characters become "-" where that gives two-digit day and month and the
// year; anything else takes dd-MM-yyyy (the empty stem here).
void TestDataFile::shortDateName_data()
{
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("text"); // the date 7 December 2026 in that picture
    QTest::addColumn<QString>("stem");
    auto row = [](const char *name, const char *picture, const QString &text, const char *stem) {
        QTest::newRow(name) << picture << text << stem;
    };
    row("day.month.year", "dd.MM.yyyy", "07.12.2026", "07-12-2026");
    row("day/month/year", "dd/MM/yyyy", "07/12/2026", "07-12-2026");
    row("month first, two digits each", "MM/dd/yyyy", "12/07/2026", "12-07-2026");
    row("two-digit year", "dd.MM.yy", "07.12.26", "07-12-26");
    row("blanks between", "dd MM yyyy", "07 12 2026", "07-12-2026");
    row("the year of another calendar", "dd/MM/yyyy", "07/12/2569", "07-12-2569");
    row("one-digit day and month", "M/d/yyyy", "12/7/2026", "");
    row("one-digit day", "d.MM.yyyy", "7.12.2026", "");
    row("year first", "yyyy-MM-dd", "2026-12-07", "");
    row("year first, slashes", "yyyy/MM/dd", "2026/12/07", "");
    row("month by name", "dd MMM yyyy", "07 дек 2026", "");
    row("text after the year", "dd.MM.yyyy' г.'", "07.12.2026 г.", "");
    row("day twice", "dd.dd.yyyy", "07.07.2026", "");
    row("letter between", "ddxMMxyyyy", "07x12x2026", "");
    row("text not in its picture", "dd.MM.yyyy", "07/12/2026", "");
    row("digits of another script", "dd.MM.yyyy", QStringLiteral("\u0660\u0667.\u0661\u0662.\u0662\u0660\u0662\u0666"), "");
    row("no format", "", "", "");
}

void TestDataFile::shortDateName()
{
    QFETCH(QString, picture);
    QFETCH(QString, text);
    QFETCH(QString, stem);
    QCOMPARE(DateStemFromShortDate(picture, text), stem);
}

// A long time serves a row when it has hours, minutes and seconds, tells
// morning from evening and cannot split the comma-separated row.
void TestDataFile::longTimeAccepted_data()
{
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("am");
    QTest::addColumn<QString>("pm");
    QTest::addColumn<QString>("text"); // 9:05:03 in the morning in that picture
    QTest::addColumn<bool>("usable");
    auto row = [](const char *name, const char *picture, const QString &am, const QString &pm,
                  const QString &text, bool usable) {
        QTest::newRow(name) << picture << am << pm << text << usable;
    };
    row("24-hour", "HH:mm:ss", "AM", "PM", "09:05:03", true);
    row("24-hour, one-digit hour", "H:mm:ss", "", "", "9:05:03", true);
    row("12-hour and designator", "h:mm:ss tt", "AM", "PM", "9:05:03 AM", true);
    row("designator first", "tt h:mm:ss", "오전", "오후", "오전 9:05:03", true);
    row("one-letter designator", "h:mm:ss t", "AM", "PM", "9:05:03 A", true);
    row("dots and literal text", "H.mm.ss' Uhr'", "", "", "9.05.03 Uhr", true);
    row("no seconds", "HH:mm", "", "", "09:05", false);
    row("no hours", "mm:ss", "", "", "05:03", false);
    row("hours only as quoted text", "'h'mm:ss", "", "", "h05:03", false);
    row("12-hour without designator", "h:mm:ss", "AM", "PM", "9:05:03", false);
    row("designators that read the same", "h:mm:ss tt", "", "", "9:05:03 ", false);
    row("one letter the same", "h:mm:ss t", "AM", "AP", "9:05:03 A", false);
    row("comma in the designator", "h:mm:ss tt", "a,m", "p,m", "9:05:03 a,m", false);
    row("comma as separator", "HH','mm','ss", "", "", "09,05,03", false);
    row("quote in the text", "HH:mm:ss'\"'", "", "", "09:05:03\"", false);
    row("nothing formatted", "HH:mm:ss", "", "", "", false);
}

void TestDataFile::longTimeAccepted()
{
    QFETCH(QString, picture);
    QFETCH(QString, am);
    QFETCH(QString, pm);
    QFETCH(QString, text);
    QFETCH(bool, usable);
    QCOMPARE(RowTimeUsable(picture, am, pm, text), usable);
}

// Rows and names under the regional formats of the user the test runs as:
// on Windows those of the locales the Windows tests run under (en-GB for the
// suites, Russian and US English in runs of their own); Linux keeps its
// fixed formats whatever the locale.
void TestDataFile::formatsOfTheUser()
{
    struct Expected {
        QString locale, file;
        QStringList morning; // 9:05:03 as that locale may write it
        QString evening;     // 21:05:03
    };
    Expected e{{}, "07-12-2026.csv", {"09:05:03"}, "21:05:03"};
    if (test::WindowsConventions) {
        const QList<Expected> windows = {
            // dd.MM.yyyy; H:mm:ss on Windows, HH:mm:ss under Wine
            {"ru_RU", "07-12-2026.csv", {"9:05:03", "09:05:03"}, "21:05:03"},
            // M/d/yyyy, so dd-MM-yyyy; h:mm:ss tt
            {"en_US", "07-12-2026.csv", {"9:05:03 AM"}, "9:05:03 PM"},
            // dd/MM/yyyy; HH:mm:ss
            {"en_GB", "07-12-2026.csv", {"09:05:03"}, "21:05:03"},
        };
        const QString locale = QLocale::system().name();
        const auto it = std::find_if(windows.begin(), windows.end(), [&](const Expected &x) { return x.locale == locale; });
        if (it == windows.end())
            QSKIP(qPrintable("no expected formats for the user locale " + locale));
        e = *it;
    }
    m_scope.reset();
    m_clock = std::make_unique<test::FakeClock>(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)));
    m_scope = std::make_unique<test::ClockScope>(m_clock.get());
    QVERIFY(WriteDataRow(20.5L).ok);
    m_clock->advance(12 * 3600 * 1000);
    QVERIFY(WriteDataRow(21.0L).ok);
    const QString name = m_folder->path() + "DATA/" + e.file;
    QCOMPARE(history().FileSave(), name);
    const QList<QByteArray> got = rows(name);
    QCOMPARE(got.size(), 2);
    const QString morning = QString::fromUtf8(got[0]).section(u',', 0, 0);
    QVERIFY2(e.morning.contains(morning), qPrintable(morning));
    QCOMPARE(got[0], (morning + ",20.5,-55.0,125.0\r").toUtf8());
    QCOMPARE(got[1], (e.evening + ",21.0,-55.0,125.0\r").toUtf8());
}

void TestDataFile::firstRowAtOnceThenEveryPeriod()
{
    PeriodSave = 5;
    RecordCounter = PeriodSave.load(); // as the start sequence presets it
    Probe probe;
    probe.stopAfter(7);
    QVERIFY(runSession(probe));
    const QString name = m_folder->path() + "DATA/07-12-2026.csv";
    QCOMPARE(history().FileSave(), name);
    QCOMPARE(rows(name), (QList<QByteArray>{at("12:00:00") + ",0.0,-55.0,125.0\r", at("12:00:05") + ",4.3,-55.0,125.0\r"}));
    QVERIFY(probe.errors.isEmpty());
    // The thread reopens the file before each row and a stop closes nothing.
    QVERIFY(DataFileOpen());
}

void TestDataFile::appendsNeverTruncates()
{
    QDir().mkdir(m_folder->path() + "DATA");
    const QString name = m_folder->path() + "DATA/07-12-2026.csv";
    {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("11:00:00,20.0,-55.0,125.0\r\n");
    }
    RecordCounter = 1;
    Probe probe;
    probe.stopAfter(2);
    QVERIFY(runSession(probe));
    QCOMPARE(readAll(name), "11:00:00,20.0,-55.0,125.0\r\n" + at("12:00:00") + ",0.0,-55.0,125.0\r\n" +
                                at("12:00:01") + ",0.9,-55.0,125.0\r\n");
}

void TestDataFile::cutLastLineIsEnded()
{
    QDir().mkdir(m_folder->path() + "DATA");
    const QString name = m_folder->path() + "DATA/07-12-2026.csv";
    {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("11:00:00,20.0,-55.0,125.0\r\n11:00:01,2"); // power failed mid-row
    }
    history().StoreAndUpdate(21.0L);
    QVERIFY(WriteDataRow(21.0L).ok);
    QCOMPARE(readAll(name), "11:00:00,20.0,-55.0,125.0\r\n11:00:01,2\r\n" + at("12:00:00") + ",21.0,-55.0,125.0\r\n");
}

void TestDataFile::midnightStartsNewFile()
{
    m_scope.reset();
    m_clock = std::make_unique<test::FakeClock>(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)));
    m_scope = std::make_unique<test::ClockScope>(m_clock.get());
    RecordCounter = 1;
    Probe probe;
    probe.stopAfter(2);
    QVERIFY(runSession(probe));
    QCOMPARE(rows(m_folder->path() + "DATA/07-12-2026.csv"), QList<QByteArray>{at("23:59:59") + ",0.0,-55.0,125.0\r"});
    QCOMPARE(rows(m_folder->path() + "DATA/08-12-2026.csv"), QList<QByteArray>{at("00:00:00") + ",0.9,-55.0,125.0\r"});
    QCOMPARE(history().FileSave(), m_folder->path() + "DATA/08-12-2026.csv");

    // A row begun in the last millisecond of a day carries that day's time
    // and lands in that day's file: both come from one reading of the clock.
    SteppingClock stepping(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 59, 999)));
    setClock(&stepping);
    const bool written = WriteDataRow(5.0L).ok;
    setClock(m_clock.get());
    QVERIFY(written);
    QCOMPARE(rows(m_folder->path() + "DATA/08-12-2026.csv").last(), at("23:59:59") + ",5.0,-55.0,125.0\r");
    QVERIFY(!QFile::exists(m_folder->path() + "DATA/09-12-2026.csv"));
}

void TestDataFile::chosenFileStillMakesDataFolder()
{
    FileType = true;
    const QString chosen = m_folder->path() + "mine.csv";
    history().SetFileSave(chosen);
    const DataFileResult r = OpenDataFile();
    QVERIFY(r.ok);
    QVERIFY(r.messages.isEmpty());
    QVERIFY(QFileInfo(m_folder->path() + "DATA").isDir());
    QVERIFY(QFile::exists(chosen));
    QCOMPARE(history().FileSave(), chosen); // a chosen name is never rewritten
    QVERIFY(WriteDataRow(5.0L).ok);
    QCOMPARE(rows(chosen).size(), 1);
}

void TestDataFile::holdKeepsThreadOffTheFile()
{
    FileType = true;
    const QString first = m_folder->path() + "first.csv";
    const QString second = m_folder->path() + "second.csv";
    history().SetFileSave(first);
    RecordCounter = 1;
    int rowsAtHold = -1;
    bool heldSeen = false;
    Probe probe;
    probe.onUpdate = [&](Probe &p) {
        if (p.updates == 3) {
            RecordHold = rhRequested;
        } else if (p.updates == 4) {
            // The thread answered at the start of this cycle's row decision.
            heldSeen = RecordHold.load() == rhHeld;
            rowsAtHold = static_cast<int>(rows(first).size());
            CloseDataFile();
        } else if (p.updates == 6) {
            QCOMPARE(rows(first).size(), rowsAtHold); // nothing written while held
            history().SetFileSave(second);
            RecordCounter = 0;
            RecordHold = rhNone;
        } else if (p.updates == 8) {
            RunState = rsStopped;
        }
    };
    QVERIFY(runSession(probe));
    QVERIFY(heldSeen);
    QCOMPARE(rowsAtHold, 2);
    QCOMPARE(rows(first).size(), 2);
    QCOMPARE(rows(second).size(), 1); // period 1: counter 0 → 1 → row at the next cycle
}

void TestDataFile::fullDiskEndsSessionAndKeepsEarlierRows()
{
    if (!QFileInfo("/dev/full").exists())
        QSKIP("no /dev/full");
    FileType = true;
    const QString good = m_folder->path() + "good.csv";
    history().SetFileSave(good);
    RecordCounter = 1;
    Probe probe;
    probe.onUpdate = [&](Probe &p) {
        if (p.updates == 3)
            history().SetFileSave("/dev/full"); // the disk fills up
        if (p.updates > 20)
            RunState = rsStopped; // the test's own guard; the thread must end first
    };
    QVERIFY(runSession(probe));
    QCOMPARE(probe.updates, 4); // the failing cycle still shows, then the session ends
    QCOMPARE(probe.errors, QStringList{NoAccessMessage("/dev/full")});
    QCOMPARE(probe.closeRequests, 1);
    QCOMPARE(rows(good), (QList<QByteArray>{at("12:00:00") + ",0.0,-55.0,125.0\r", at("12:00:01") + ",0.9,-55.0,125.0\r"}));
    QCOMPARE(NoAccessMessage("/dev/full"),
             QStringLiteral("Нет доступа к файлу\r\n/dev/full\r\r\nДальнейшая работа программы невозможна!"));
}

void TestDataFile::dataFolderBlockedByFile()
{
    {
        QFile blocker(m_folder->path() + "DATA");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.write("not a folder");
    }
    const DataFileResult r = OpenDataFile();
    QVERIFY(!r.ok);
    QVERIFY(r.dirFailed);
    QCOMPARE(r.messages, (QStringList{DirFailedMessage(),
                                      NoAccessMessage(m_folder->path() + "DATA/07-12-2026.csv")}));
    QCOMPARE(DirFailedMessage(), "Невозможно создать каталог\r\r" + QDir::toNativeSeparators(m_folder->path() + "DATA/"));
    QCOMPARE(readAll(m_folder->path() + "DATA"), QByteArray("not a folder"));

    // From the thread: the messages, a close request, no further rows.
    RecordCounter = 1;
    Probe probe;
    probe.onUpdate = [](Probe &p) {
        if (p.updates > 20)
            RunState = rsStopped;
    };
    QVERIFY(runSession(probe));
    QCOMPARE(probe.updates, 2);
    QCOMPARE(probe.errors, r.messages);
    QCOMPARE(probe.closeRequests, 1);
}

void TestDataFile::readOnlyProgramFolderRecordsForTheUser_data()
{
    QTest::addColumn<bool>("blockData"); // a file named DATA where the folder belongs
    QTest::newRow("the daily file") << false;
    QTest::newRow("DATA cannot be made") << true;
}

// A program folder the user cannot write: DATA/ is made in the user's data
// folder (on Windows %LOCALAPPDATA%\KP33), and the messages name that one.
void TestDataFile::readOnlyProgramFolderRecordsForTheUser()
{
    QFETCH(bool, blockData);
    test::UserFolders folders;
    QVERIFY2(!folders.data().isEmpty(), "the system names no folder of the user's");
    QCOMPARE(dataParentDir(), folders.data());
    const QString data = folders.data() + "DATA";
    const QString name = data + "/07-12-2026.csv";
    // Suites share a Wine prefix's %LOCALAPPDATA%: only DATA/ is this suite's.
    QDir(data).removeRecursively();
    QFile::remove(data);
    const auto forget = qScopeGuard([&] {
        CloseDataFile();
        QDir(data).removeRecursively();
        QFile::remove(data);
    });
    if (blockData) {
        QFile blocker(data);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }

    const DataFileResult r = OpenDataFile();
    QCOMPARE(r.ok, !blockData);
    QCOMPARE(history().FileSave(), name);
    const QString shown = QDir::toNativeSeparators(data + "/");
    QCOMPARE(DirFailedMessage(), "Невозможно создать каталог\r\r" + shown);
    QCOMPARE(NoAccessMessage(name, false), "Нет доступа к файлу\r\n" + shown + "07-12-2026.csv");
    if (blockData) {
        QCOMPARE(r.messages, (QStringList{DirFailedMessage(), NoAccessMessage(name)}));
    } else {
        QVERIFY(r.messages.isEmpty());
        history().StoreAndUpdate(21.0L);
        QVERIFY(WriteDataRow(21.0L).ok);
        QCOMPARE(rows(name), QList<QByteArray>{at("12:00:00") + ",21.0,-55.0,125.0\r"});
    }
    // Nothing in the program folder.
    QCOMPARE(QDir(folders.program()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{});
}

void TestDataFile::notAFileRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name"); // in the program folder unless a device's own
    QTest::newRow("FIFO") << "fifo" << "pipe.csv";
    QTest::newRow("folder") << "folder" << "";
    for (const QString &device : test::DeviceFileNames())
        QTest::newRow(qPrintable(device)) << "device" << device;
}

void TestDataFile::notAFileRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    FileType = true;
    QString file = kind == "device" ? name : m_folder->path() + name;
    if (kind == "fifo") {
        if (!test::HasFifos)
            QSKIP("no FIFOs in this file system");
        QVERIFY(test::MakeFifo(file));
    }
    history().SetFileSave(file);
    DataFileResult r = OpenDataFile(); // must return, not wait for the other end
    QVERIFY(!r.ok);
    QCOMPARE(r.messages, QStringList{NoAccessMessage(file)});
    QVERIFY(!DataFileOpen());

    if (kind == "fifo") {
        // With a reader on the other end it is still no data file.
        const int reader = test::OpenFifoReader(file);
        QVERIFY(reader >= 0);
        QVERIFY(!OpenDataFile().ok);
        test::CloseFifoReader(reader);
    }
}

void TestDataFile::sharedWhileOpenAnyName_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("minLength"); // of the whole path
    QTest::newRow("Cyrillic names") << "Журнал" << 0;
    // Windows opens such a path only in its "\\?\" form.
    const QString deep = "Журнал/" + QString(90, 'a') + "/" + QString(90, 'b') + "/" + QString(90, 'c');
    QTest::newRow("path over 260 characters") << deep << 261;
}

// While recording, the file stays open to others: a user may look at it in
// another program. Folder and file names in Cyrillic are names like any, and
// a path may be longer than Windows' classic 260 characters.
void TestDataFile::sharedWhileOpenAnyName()
{
    QFETCH(QString, folder);
    QFETCH(int, minLength);
    QVERIFY(QDir().mkpath(m_folder->path() + folder));
    const QString name = m_folder->path() + folder + "/температура.csv";
    QVERIFY(name.size() >= minLength);
    FileType = true;
    history().SetFileSave(name);
    QVERIFY(OpenDataFile().ok);
    history().StoreAndUpdate(21.0L);
    QVERIFY(WriteDataRow(21.0L).ok);
    QFile other(name);
    QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
    QCOMPARE(other.readAll(), at("12:00:00") + ",21.0,-55.0,125.0\r\n");
    other.close();
    QVERIFY(DataFileOpen());
}

void TestDataFile::busyFileHoldsRowsUntilFree_data()
{
    QTest::addColumn<QTime>("start");
    QTest::addColumn<QString>("busy");     // the file another program holds until the release
    QTest::addColumn<QStringList>("rows"); // "file: time time ..." afterwards
    // Released after the third cycle; the fifth is the last.
    QTest::newRow("held, then in order before the new rows")
        << QTime(12, 0, 0) << "07-12-2026.csv"
        << QStringList{"07-12-2026.csv: 12:00:00 12:00:01 12:00:02 12:00:03 12:00:04"};
    // The rows held before midnight go to their own day's file, even though
    // the new day's file took rows meanwhile.
    QTest::newRow("held across midnight")
        << QTime(23, 59, 58) << "07-12-2026.csv"
        << QStringList{"07-12-2026.csv: 23:59:58 23:59:59", "08-12-2026.csv: 00:00:00 00:00:01 00:00:02"};
}

void TestDataFile::busyFileHoldsRowsUntilFree()
{
    QFETCH(QTime, start);
    QFETCH(QString, busy);
    QFETCH(QStringList, rows);
    m_scope.reset();
    m_clock = std::make_unique<test::FakeClock>(QDateTime(QDate(2026, 12, 7), start));
    m_scope = std::make_unique<test::ClockScope>(m_clock.get());
    const QString data = m_folder->path() + "DATA/";
    std::atomic<bool> held{true};
    SetBusyFileSeam([&](const QString &name) { return held.load() && name == data + busy; });
    RecordCounter = 1;
    std::size_t heldAtRelease = 0;
    qsizetype onDiskAtRelease = 0, busyFileAtRelease = -1;
    bool openAsItShould = false; // the file in use, unless it is the busy one
    QString noteWhileHeld;
    Probe probe;
    probe.onUpdate = [&](Probe &p) {
        if (p.updates == 4) {
            heldAtRelease = HeldRowCount();
            for (const QString &f : QDir(data).entryList(QDir::Files))
                onDiskAtRelease += ::rows(data + f).size();
            busyFileAtRelease = ::rows(data + busy).size();
            openAsItShould = DataFileOpen() == (history().FileSave() != data + busy);
            noteWhileHeld = HeldRowsNote();
            held = false;
        } else if (p.updates == 6) {
            RunState = rsStopped;
        }
    };
    QVERIFY(runSession(probe));
    // Three rows by then, none lost and none in the busy file; the session
    // went on without a message.
    QCOMPARE(heldAtRelease + std::size_t(onDiskAtRelease), std::size_t(3));
    QVERIFY(heldAtRelease > 0);
    QCOMPARE(busyFileAtRelease, 0);
    QVERIFY(openAsItShould);
    QVERIFY(probe.errors.isEmpty());
    QCOMPARE(probe.closeRequests, 0);
    QCOMPARE(HeldRowCount(), std::size_t(0));
    QStringList got;
    for (const QString &f : QDir(data).entryList(QDir::Files, QDir::Name)) {
        QString line = f + ":";
        for (const QByteArray &r : ::rows(data + f))
            line += " " + QString::fromUtf8(r.left(r.indexOf(',')));
        got << line;
    }
    QStringList want; // the row times as this platform writes them
    for (const QString &line : rows) {
        QStringList parts = line.split(' ');
        for (qsizetype i = 1; i < parts.size(); ++i)
            parts[i] = QString::fromUtf8(at(parts[i].toLatin1().constData()));
        want << parts.join(' ');
    }
    QCOMPARE(got, want);
    // The title says so while rows are held, and no longer once they are written.
    QVERIFY(!noteWhileHeld.isEmpty());
    QCOMPARE(probe.titles.size(), 5);
    QVERIFY2(probe.titles[2].startsWith("t = ") && probe.titles[2].endsWith(noteWhileHeld), qPrintable(probe.titles[2]));
    QVERIFY2(!probe.titles[3].contains(noteWhileHeld), qPrintable(probe.titles[3]));
    QVERIFY(HeldRowsNote().isEmpty());
}

// The real thing rather than the seam: a hold the system itself answers as
// busy, from the open at start to the row after the release.
void TestDataFile::heldByAnotherProgram()
{
    QVERIFY(QDir().mkdir(m_folder->path() + "DATA"));
    const QString name = m_folder->path() + "DATA/07-12-2026.csv";
    const QByteArray before = "11:00:00,20.0,-55.0,125.0\r\n";
    {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    test::ForeignHold hold(name);
    if (!hold.held())
        QSKIP("this file system offers no hold of another program (a lease)");
    DataFileResult r = OpenDataFile(true); // the open at start ends nothing
    QVERIFY(r.ok && r.busy);
    QVERIFY(r.messages.isEmpty());
    QVERIFY(!DataFileOpen());
    {
        // Nor does recording switched back on in the recording dialog.
        DataFileTrial trial(false, QString());
        QVERIFY(trial.ok());
        QVERIFY(trial.messages().isEmpty());
        trial.TakeIntoUse();
        QCOMPARE(history().FileSave(), name);
    }
    for (const long double t : {21.0L, 21.5L}) {
        r = WriteDataRow(t);
        QVERIFY(r.ok && r.busy);
        QVERIFY(r.messages.isEmpty());
        m_clock->advance(1000);
    }
    QCOMPARE(HeldRowCount(), std::size_t(2));
    QCOMPARE(readAll(name), before);
    hold.release();
    r = WriteDataRow(22.0L);
    QVERIFY(r.ok && !r.busy);
    QCOMPARE(HeldRowCount(), std::size_t(0));
    QCOMPARE(readAll(name), before + at("12:00:00") + ",21.0,-55.0,125.0\r\n" + at("12:00:01") +
                                ",21.5,-55.0,125.0\r\n" + at("12:00:02") + ",22.0,-55.0,125.0\r\n");
}

void TestDataFile::heldRowsAtClose_data()
{
    QTest::addColumn<QStringList>("busyAtClose"); // of "own", "beside", "data"
    QTest::addColumn<QString>("keptIn");          // where the rows are then, or "nowhere"
    QTest::newRow("own file free again") << QStringList{} << "own";
    QTest::newRow("beside the busy file") << QStringList{"own"} << "beside";
    QTest::newRow("in DATA when the folder takes nothing") << QStringList{"own", "beside"} << "data";
    QTest::newRow("nowhere") << QStringList{"own", "beside", "data"} << "nowhere";
}

// At the close, held rows go to their own file if it is free by then, else
// to a file beside it named by the close's date and time.
void TestDataFile::heldRowsAtClose()
{
    QFETCH(QStringList, busyAtClose);
    QFETCH(QString, keptIn);
    QVERIFY(QDir().mkdir(m_folder->path() + "Журнал"));
    const QString own = m_folder->path() + "Журнал/mine.csv";
    FileType = true;
    history().SetFileSave(own);
    QStringList busy{own};
    SetBusyFileSeam([&](const QString &name) { return busy.contains(name); });
    for (const long double t : {21.0L, 21.5L}) {
        QVERIFY(WriteDataRow(t).ok);
        m_clock->advance(1000);
    }
    QCOMPARE(HeldRowCount(), std::size_t(2));

    m_clock->advance(3 * 3600 * 1000); // closed at 15:00:02
    const QMap<QString, QString> files{{"own", own},
                                       {"beside", m_folder->path() + "Журнал/mine-KP33-20261207-150002.csv"},
                                       {"data", m_folder->path() + "DATA/mine-KP33-20261207-150002.csv"}};
    busy.clear();
    for (const QString &key : busyAtClose)
        busy << files[key];
    const QStringList messages = SaveHeldRows();
    QCOMPARE(HeldRowCount(), std::size_t(0));
    const QByteArray rowsHeld = at("12:00:00") + ",21.0,-55.0,125.0\r\n" + at("12:00:01") + ",21.5,-55.0,125.0\r\n";
    for (auto it = files.begin(); it != files.end(); ++it)
        QCOMPARE(readAll(it.value()), it.key() == keptIn ? rowsHeld : QByteArray());
    if (keptIn == "own")
        QVERIFY(messages.isEmpty());
    else if (keptIn == "nowhere")
        QCOMPARE(messages, QStringList{LostRowsMessage(own, files["beside"])});
    else
        QCOMPARE(messages, QStringList{KeptRowsMessage(own, files[keptIn])});
    QCOMPARE(KeptRowsMessage("/a/b.csv", "/a/b-KP33-20261207-150002.csv"),
             "Файл данных был занят другой программой:\r\n" + QDir::toNativeSeparators("/a/b.csv") +
                 "\r\r\nНе записанные в него строки сохранены в файле\r\n" +
                 QDir::toNativeSeparators("/a/b-KP33-20261207-150002.csv"));
    QVERIFY(SaveHeldRows().isEmpty()); // nothing twice
}

// Rows are held up to a bound (a week of them); the row that reaches it ends
// recording with the designed message, and the held rows are still there for
// the close.
void TestDataFile::heldRowsBounded()
{
    FileType = true;
    const QString own = m_folder->path() + "mine.csv";
    history().SetFileSave(own);
    SetBusyFileSeam([&](const QString &name) { return name == own; }, 3);
    QVERIFY(WriteDataRow(21.0L).ok);
    QVERIFY(WriteDataRow(21.0L).ok);
    const DataFileResult r = WriteDataRow(21.0L);
    QVERIFY(!r.ok);
    QCOMPARE(r.messages, QStringList{NoAccessMessage(own)});
    QCOMPARE(HeldRowCount(), std::size_t(3));
    QCOMPARE(SaveHeldRows().size(), 1);
    QCOMPARE(rows(m_folder->path() + "mine-KP33-20261207-120000.csv").size(), 3);
}

void TestDataFile::rowsFromSensorEndToEnd_data()
{
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QList<QByteArray>>("ends");
    const QByteArray good = ",23.5,10.0,30.0\r", error = ",1000.0,10.0,30.0\r";
    // First, while the history still holds the limits of earlier sessions: a
    // sensor that never answers writes the limits in force, not those of an
    // empty entry.
    QTest::newRow("failing from the first reading")
        << QStringList{"--no-device"} << QList<QByteArray>{error, error, error, error};
    // Two good readings, two silent retries (no row), then errors logged as 1000.0.
    QTest::newRow("unplugged after two readings")
        << QStringList{"--temp", "23.5", "--conversion", "instant", "--unplug-after", "2"}
        << QList<QByteArray>{good, good, error, error};
}

void TestDataFile::rowsFromSensorEndToEnd()
{
    QFETCH(QStringList, sim);
    QFETCH(QList<QByteArray>, ends);
    // Windows: the bus is tested end to end under Wine, not here.
    if (qEnvironmentVariableIsEmpty("KP33_SENSOR_SIM"))
        QSKIP("no sensor simulator given (KP33_SENSOR_SIM)");
    test::SensorSim simulator(sim);
    QVERIFY(test::openPort());
    SensorFound = true;
    SensorType = stDS18B20;
    history().SetLoL(10);
    history().SetHiL(30);
    RecordCounter = 1;
    Probe probe;
    probe.stopAfter(4);
    QVERIFY(runSession(probe));
    const QList<QByteArray> got = rows(m_folder->path() + "DATA/07-12-2026.csv");
    QCOMPARE(got.size(), ends.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        QVERIFY2(got[i].endsWith(ends[i]), got[i].constData());
    SensorFound = false;
}

QTEST_GUILESS_MAIN(TestDataFile)
#include "tst_datafile.moc"
