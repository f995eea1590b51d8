// A day and more of measuring in minutes: 90 000 cycles against the
// simulator on the fast clock, starting at 23:59:00, with the main window's
// display updates. Three daily files with every row in order; memory, open
// descriptors and threads flat from the first hour to the last.

#include "dialogs/scaling.h"
#include "../mainwindow/windowtest.h"

#include <QDir>
#include <QtTest>

using namespace kp33;

namespace {

long residentKiB()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> f = statm.readAll().split(' ');
    return f.size() > 1 ? f[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

int openDescriptors() { return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()); }

int threads() { return static_cast<int>(QDir("/proc/self/task").entryList(QDir::NoDotAndDotDot | QDir::Dirs).size()); }

struct Sample {
    long rss;
    int fds;
    int threads;
};

} // namespace

class TestLongRun : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }

private slots:
    void initTestCase() { ApplyLookAndFeel(*qApp); }
    void dayAndMoreAgainstTheSimulator();
};

void TestLongRun::dayAndMoreAgainstTheSimulator()
{
    constexpr std::uint64_t Cycles = 90000;
    test::WindowFixture fx;
    fx.scope.reset();
    // The sensor search at activation takes two seconds: measuring starts at 23:59:00.
    fx.clock = std::make_unique<test::FakeClock>(QDateTime(QDate(2026, 12, 7), QTime(23, 58, 58)));
    fx.scope = std::make_unique<test::ClockScope>(fx.clock.get());
    test::SensorSim sim({"--temp", "21.5", "--conversion", "instant"});
    TMain w;
    QVERIFY(w.FormCreate());
    w.FormActivate();
    QVERIFY(SensorFound.load());
    const std::uint64_t start = fx.clock->elapsedMs();
    const QTime firstRow = fx.clock->now().time();
    w.BTN_Start_StopClick();

    std::optional<Sample> firstHour;
    QElapsedTimer wall;
    wall.start();
    // A cycle takes exactly a second of fake time; stop once the last one has
    // begun. Every cycle posts its display update, which wakes this loop, so
    // it waits for events rather than polling.
    for (;;) {
        const std::uint64_t cycles = (fx.clock->elapsedMs() - start) / 1000;
        if (!firstHour && cycles >= 3600)
            firstHour = Sample{residentKiB(), openDescriptors(), threads()};
        if (cycles >= Cycles - 1)
            break;
        QVERIFY2(RunState.load() == rsRunning || RunState.load() == rsStarting, "the session ended early");
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    const Sample lastHour{residentKiB(), openDescriptors(), threads()};
    w.BTN_Start_StopClick();
    const double seconds = wall.elapsed() / 1000.0;
    w.close();

    const QString data = fx.folder->path() + "DATA/";
    const QStringList files = QDir(data).entryList({"*.csv"}, QDir::Files, QDir::Name);
    QCOMPARE(files, (QStringList{"07-12-2026.csv", "08-12-2026.csv", "09-12-2026.csv"}));
    QTime expected = firstRow;
    std::uint64_t rows = 0;
    QList<int> perFile;
    for (const QString &name : {QString("07-12-2026.csv"), QString("08-12-2026.csv"), QString("09-12-2026.csv")}) {
        QFile f(data + name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        int count = 0;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            const QByteArray want = expected.toString("HH:mm:ss").toLatin1() + ",21.5,-55.0,125.0\r";
            if (line != want)
                QFAIL(qPrintable(QString("row %1 of %2: %3, expected %4").arg(count).arg(name, line, want)));
            expected = expected.addSecs(1);
            ++count;
        }
        perFile << count;
        rows += count;
    }
    QCOMPARE(perFile[0], firstRow.secsTo(QTime(23, 59, 59)) + 1);
    QCOMPARE(perFile[1], 86400);
    QVERIFY(rows >= Cycles && rows <= Cycles + 2); // the stop lands within a cycle or two

    QVERIFY(firstHour.has_value());
    std::printf("longrun: %llu cycles (%d + %d + %d rows) in %.1f s of wall time\n",
                static_cast<unsigned long long>(rows), perFile[0], perFile[1], perFile[2], seconds);
    std::printf("longrun: after the first hour: resident %ld KiB, %d descriptors, %d threads\n", firstHour->rss,
                firstHour->fds, firstHour->threads);
    std::printf("longrun: in the last hour:     resident %ld KiB, %d descriptors, %d threads\n", lastHour.rss,
                lastHour.fds, lastHour.threads);
    QCOMPARE(lastHour.fds, firstHour->fds);
    QCOMPARE(lastHour.threads, firstHour->threads);
    // Flat within allocator noise: a leak of even 100 bytes a cycle would show as 8 MiB.
    QVERIFY2(lastHour.rss - firstHour->rss < 4096, "resident memory grew");
}

QTEST_MAIN(TestLongRun)
#include "tst_longrun.moc"
