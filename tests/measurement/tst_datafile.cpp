// The data file: names, rows, appending, the recording hold and every way the
// file can fail.

#include "measurement/datafile.h"
#include "probe.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "support/testsupport.h"

#include <QScopeGuard>
#include <QtTest>

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
    void sharedWhileOpenAnyName();
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

void TestDataFile::firstRowAtOnceThenEveryPeriod()
{
    PeriodSave = 5;
    RecordCounter = PeriodSave.load(); // as the start sequence presets it
    Probe probe;
    probe.stopAfter(7);
    QVERIFY(runSession(probe));
    const QString name = m_folder->path() + "DATA/07-12-2026.csv";
    QCOMPARE(history().FileSave(), name);
    QCOMPARE(rows(name), (QList<QByteArray>{"12:00:00,0.0,-55.0,125.0\r", "12:00:05,4.3,-55.0,125.0\r"}));
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
    QCOMPARE(readAll(name), QByteArray("11:00:00,20.0,-55.0,125.0\r\n12:00:00,0.0,-55.0,125.0\r\n"
                                       "12:00:01,0.9,-55.0,125.0\r\n"));
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
    QCOMPARE(readAll(name), QByteArray("11:00:00,20.0,-55.0,125.0\r\n11:00:01,2\r\n12:00:00,21.0,-55.0,125.0\r\n"));
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
    QCOMPARE(rows(m_folder->path() + "DATA/07-12-2026.csv"), QList<QByteArray>{"23:59:59,0.0,-55.0,125.0\r"});
    QCOMPARE(rows(m_folder->path() + "DATA/08-12-2026.csv"), QList<QByteArray>{"00:00:00,0.9,-55.0,125.0\r"});
    QCOMPARE(history().FileSave(), m_folder->path() + "DATA/08-12-2026.csv");

    // A row begun in the last millisecond of a day carries that day's time
    // and lands in that day's file: both come from one reading of the clock.
    SteppingClock stepping(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 59, 999)));
    setClock(&stepping);
    const bool written = WriteDataRow(5.0L).ok;
    setClock(m_clock.get());
    QVERIFY(written);
    QCOMPARE(rows(m_folder->path() + "DATA/08-12-2026.csv").last(), QByteArray("23:59:59,5.0,-55.0,125.0\r"));
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
    QCOMPARE(rows(good), (QList<QByteArray>{"12:00:00,0.0,-55.0,125.0\r", "12:00:01,0.9,-55.0,125.0\r"}));
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
        QCOMPARE(rows(name), QList<QByteArray>{"12:00:00,21.0,-55.0,125.0\r"});
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

// While recording, the file stays open to others: a user may look at it in
// another program. Folder and file names in Cyrillic are names like any.
void TestDataFile::sharedWhileOpenAnyName()
{
    QVERIFY(QDir().mkdir(m_folder->path() + "Журнал"));
    const QString name = m_folder->path() + "Журнал/температура.csv";
    FileType = true;
    history().SetFileSave(name);
    QVERIFY(OpenDataFile().ok);
    history().StoreAndUpdate(21.0L);
    QVERIFY(WriteDataRow(21.0L).ok);
    QFile other(name);
    QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
    QCOMPARE(other.readAll(), QByteArray("12:00:00,21.0,-55.0,125.0\r\n"));
    other.close();
    QVERIFY(DataFileOpen());
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
