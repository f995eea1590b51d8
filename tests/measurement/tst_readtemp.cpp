// The measurement thread: conversion, the demonstration curve, retries and
// the sensor error, pacing, stopping, and a consistent display snapshot.

#include "measurement/readtemp.h"
#include "probe.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "support/testsupport.h"

#include <QtTest>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

using namespace kp33;
using kp33::test::Probe;
using kp33::test::SensorSim;
using kp33::test::openPort;

namespace {

// A clock that lets a test act at the moment the thread starts a given sleep.
class HookClock final : public Clock {
public:
    explicit HookClock(Clock &inner) : m_inner(inner) {}
    std::function<void(std::uint32_t)> onSleep;
    std::uint32_t tickCount() override { return m_inner.tickCount(); }
    void sleep(std::uint32_t ms) override
    {
        if (onSleep)
            onSleep(ms);
        m_inner.sleep(ms);
    }
    QDateTime now() override { return m_inner.now(); }
    bool waitInput(const InputWait &w, int ms) override { return m_inner.waitInput(w, ms); }
    void pauseDispatching(std::uint32_t ms) override { m_inner.pauseDispatching(ms); }

private:
    Clock &m_inner;
};

// A fake clock on which the thread's wait for the window gives up at once,
// its bound passing in fake time: the window of a test that dispatches
// nothing never answers. After `stopAfter` such waits the session is stopped.
class ImpatientClock final : public Clock {
public:
    ImpatientClock(test::FakeClock &inner, int stopAfter) : m_inner(inner), m_left(stopAfter) {}
    std::uint32_t tickCount() override { return m_inner.tickCount(); }
    void sleep(std::uint32_t ms) override { m_inner.sleep(ms); }
    QDateTime now() override { return m_inner.now(); }
    bool waitInput(const InputWait &wait, int timeoutMs) override
    {
        if (wait(0))
            return true;
        m_inner.advance(static_cast<std::uint64_t>(std::max(timeoutMs, 0)));
        if (--m_left == 0)
            RunState = rsStopped;
        return false;
    }
    void pauseDispatching(std::uint32_t ms) override { m_inner.pauseDispatching(ms); }

private:
    test::FakeClock &m_inner;
    std::atomic<int> m_left;
};

} // namespace

class TestReadTemp : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void conversion_data();
    void conversion();
    void demoCurve();
    void demoSessionPacedAndLeavesPortAlone();
    void slowCycleIsFollowedAtOnce();
    void familiesThroughSimulator_data();
    void familiesThroughSimulator();
    void retriesThenSensorError();
    void unplugMidSessionAndRecover();
    void stopDuringConversionSeenAtLoopTest();
    void stopBeforeFirstUpdateIsNotLost();
    void stalledWindowNeverHoldsTheCycle();
    void recordCounterWrapsWithSaveOff();
    void snapshotNeverTorn();

private:
    std::unique_ptr<test::FakeClock> m_clock;
    std::unique_ptr<test::ClockScope> m_scope;
};

void TestReadTemp::init()
{
    test::resetMeasurementState();
    IsWinNT = true;
    SensorFound = false;
    SensorType = stUnknown;
    m_clock = std::make_unique<test::FakeClock>();
    m_scope = std::make_unique<test::ClockScope>(m_clock.get());
}

void TestReadTemp::cleanup()
{
    CloseCOM();
    m_scope.reset();
    m_clock.reset();
    IsWinNT = true;
}

void TestReadTemp::conversion_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("l");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("cr");
    QTest::addColumn<int>("cpc");
    QTest::addColumn<QString>("expected"); // 18 significant digits; empty: no reading
    QTest::newRow("B20 H=07 125") << int(stDS18B20) << 0xD0 << 0x07 << 0 << 0 << "125";
    QTest::newRow("B20 H=07 highest") << int(stDS18B20) << 0xFF << 0x07 << 0 << 0 << "127.9375";
    // Any high byte above 7 is negative, not a reading of 128 °C and more.
    QTest::newRow("B20 H=08") << int(stDS18B20) << 0x00 << 0x08 << 0 << 0 << "-3968";
    QTest::newRow("B20 H=3F, not 1008") << int(stDS18B20) << 0x00 << 0x3F << 0 << 0 << "-3088";
    QTest::newRow("B20 H=7F") << int(stDS18B20) << 0xFF << 0x7F << 0 << 0 << "-2048.0625";
    QTest::newRow("B20 H=80") << int(stDS18B20) << 0x00 << 0x80 << 0 << 0 << "-2048";
    QTest::newRow("B20 H=FC -55") << int(stDS18B20) << 0x90 << 0xFC << 0 << 0 << "-55";
    QTest::newRow("B20 power-on 85") << int(stDS18B20) << 0x50 << 0x05 << 0 << 0 << "85";
    QTest::newRow("B20 25.0625") << int(stDS18B20) << 0x91 << 0x01 << 0 << 0 << "25.0625";
    QTest::newRow("B20 -10.125") << int(stDS18B20) << 0x5E << 0xFF << 0 << 0 << "-10.125";
    QTest::newRow("unknown family like B20") << int(stUnknown) << 0x91 << 0x01 << 0 << 0 << "25.0625";
    QTest::newRow("unknown family H=08") << int(stUnknown) << 0x10 << 0x08 << 0 << 0 << "-3967";
    QTest::newRow("S20 25.4") << int(stDS18S20) << 0x33 << 0x00 << 6 << 16 << "25.4";
    QTest::newRow("S20 25.0") << int(stDS18S20) << 0x32 << 0x00 << 12 << 16 << "25";
    QTest::newRow("S20 -10.5") << int(stDS18S20) << 0xEB << 0xFF << 4 << 16 << "-10.5";
    QTest::newRow("1820 24.75 tie to even up") << int(stDS1820) << 0x32 << 0x00 << 16 << 16 << "24.8";
    QTest::newRow("S20 25.25 tie to even down") << int(stDS18S20) << 0x32 << 0x00 << 8 << 16 << "25.2";
    QTest::newRow("S20 -0.25 to -0.2") << int(stDS18S20) << 0x00 << 0x00 << 16 << 16 << "-0.2";
    QTest::newRow("S20 25.75 to 25.8") << int(stDS18S20) << 0x32 << 0x00 << 0 << 16 << "25.8";
    // A count of zero per degree is no reading, not a division by zero.
    QTest::newRow("S20 no count per degree") << int(stDS18S20) << 0x00 << 0x00 << 0 << 0 << "";
    // What would decode to 1000 °C or more is no reading: the data file must
    // get its mark 1000.0, not a made-up temperature.
    QTest::newRow("S20 999.8") << int(stDS18S20) << 0xD0 << 0x07 << 16 << 16 << "999.8";
    QTest::newRow("S20 1000.8 is no reading") << int(stDS18S20) << 0xD0 << 0x07 << 0 << 16 << "";
    QTest::newRow("1820 highest is no reading") << int(stDS1820) << 0xFF << 0x7F << 0 << 16 << "";
}

void TestReadTemp::conversion()
{
    QFETCH(int, type);
    QFETCH(int, l);
    QFETCH(int, h);
    QFETCH(int, cr);
    QFETCH(int, cpc);
    QFETCH(QString, expected);
    const auto t = ConvertReading(static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(l),
                                  static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(cr),
                                  static_cast<std::uint8_t>(cpc));
    QCOMPARE(t.has_value(), !expected.isEmpty());
    if (!t)
        return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17Lg", *t);
    QCOMPARE(QString(buf), expected);
}

void TestReadTemp::demoCurve()
{
    QCOMPARE(double(DemoTemp(0)), 0.0);
    QCOMPARE(TempToStr(DemoTemp(1)).left(3), QStringLiteral("0.9"));
    QVERIFY(std::fabs(DemoTemp(1) - 0.896L) < 0.001L);
    for (int i : {17, 18})
        QVERIFY(std::fabs(DemoTemp(static_cast<std::uint8_t>(i)) - 9.98L) < 0.01L);
    for (int i : {52, 53})
        QVERIFY(std::fabs(DemoTemp(static_cast<std::uint8_t>(i)) + 9.98L) < 0.01L);
    QVERIFY(std::fabs(DemoTemp(70) - DemoTemp(0)) < 1e-12L); // repeats every 70 samples
}

void TestReadTemp::demoSessionPacedAndLeavesPortAlone()
{
    for (bool nt : {true, false}) {
        IsWinNT = nt;
        test::resetMeasurementState();
        Probe probe;
        probe.stopAfter(5);
        const std::uint64_t t0 = m_clock->elapsedMs();
        QVERIFY(runSession(probe));
        QCOMPARE(probe.updates, 6);
        const HistorySnapshot s = history().Snapshot();
        QCOMPARE(s.SampleCount, 5);
        for (int i = 0; i < 5; ++i) // newest first
            QCOMPARE(s.History[4 - i].Temp, DemoTemp(static_cast<std::uint8_t>(i)));
        // Each cycle starts CycleLength after the one before (no work takes fake time).
        QCOMPARE(m_clock->elapsedMs() - t0, 5u * (nt ? 1000u : 2000u));
        QCOMPARE(probe.titles.first(), QStringLiteral("t = 0.0 °C"));
        QCOMPARE(probe.titles.at(1), QStringLiteral("t = 0.9 °C"));
        QVERIFY(!PortAlive());
    }
}

void TestReadTemp::slowCycleIsFollowedAtOnce()
{
    Probe probe;
    probe.stopAfter(4);
    auto stop = probe.onUpdate;
    // Each display update "takes" 1.5 s: no pause follows any cycle.
    probe.onUpdate = [&, stop](Probe &p) {
        if (p.updates > 1)
            m_clock->advance(1500);
        stop(p);
    };
    QVERIFY(runSession(probe));
    QCOMPARE(m_clock->sleptMs(), 0u);

    // 400 ms of work leaves a 600 ms pause.
    Probe quick;
    quick.stopAfter(3);
    auto stop2 = quick.onUpdate;
    quick.onUpdate = [&, stop2](Probe &p) {
        if (p.updates > 1)
            m_clock->advance(400);
        stop2(p);
    };
    const std::uint64_t slept = m_clock->sleptMs();
    QVERIFY(runSession(quick));
    QCOMPARE(m_clock->sleptMs() - slept, 3u * 600u);
}

void TestReadTemp::familiesThroughSimulator_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("temp");
    QTest::addColumn<QString>("shown");
    QTest::newRow("DS18S20 25.5") << "ds18s20" << int(stDS18S20) << "25.5" << "25.5";
    QTest::newRow("DS18S20 -10.125") << "ds18s20" << int(stDS18S20) << "-10.125" << "-10.1";
    QTest::newRow("DS18S20 22.1875") << "ds18s20" << int(stDS18S20) << "22.1875" << "22.2";
    QTest::newRow("DS1820 -0.5") << "ds1820" << int(stDS1820) << "-0.5" << "-0.5";
    QTest::newRow("DS18B20 25.0625") << "ds18b20" << int(stDS18B20) << "25.0625" << "25.1";
    QTest::newRow("DS18B20 -55") << "ds18b20" << int(stDS18B20) << "-55" << "-55.0";
}

void TestReadTemp::familiesThroughSimulator()
{
    QFETCH(QString, family);
    QFETCH(int, type);
    QFETCH(QString, temp);
    QFETCH(QString, shown);
    SensorSim sim({"--family", family, "--temp", temp, "--conversion", "instant"});
    QVERIFY(openPort());
    SensorFound = true;
    SensorType = static_cast<TSensorType>(type);
    Probe probe;
    probe.stopAfter(3);
    QVERIFY(runSession(probe));
    QCOMPARE(probe.titles.size(), 3);
    for (const QString &t : probe.titles)
        QCOMPARE(t, "t = " + shown + " °C");
    QCOMPARE(history().Snapshot().SampleCount, 3);
    // Exactly reset, Skip ROM, Convert T; reset, Skip ROM, Read Scratchpad per cycle.
    QCOMPARE(sim.trace("RESET").size(), 6);
    QCOMPARE(sim.trace("CMD 0x44").size(), 3);
    QCOMPARE(sim.trace("CMD 0xBE").size(), 3);
    QCOMPARE(sim.errors(), QString());
    // The conversion wait is a plain 750 ms sleep in every cycle.
    QVERIFY(m_clock->sleptMs() >= 3u * ConversionWaitMs);
}

void TestReadTemp::retriesThenSensorError()
{
    SensorSim sim({"--no-device"});
    QVERIFY(openPort());
    SensorFound = true;
    SensorType = stDS18B20;
    history().StoreAndUpdate(20.0L);
    std::vector<int> resetsAtUpdate;
    std::vector<std::uint64_t> sleptAtUpdate;
    Probe probe;
    probe.stopAfter(3);
    auto stop = probe.onUpdate;
    probe.onUpdate = [&, stop](Probe &p) {
        resetsAtUpdate.push_back(static_cast<int>(sim.trace("RESET").size()));
        sleptAtUpdate.push_back(m_clock->sleptMs());
        stop(p);
    };
    QVERIFY(runSession(probe));
    // Three attempts back to back before the first error shows, then one a cycle.
    QCOMPARE(resetsAtUpdate, (std::vector<int>{0, 3, 4, 5}));
    // The retries take no pause; each shown cycle is followed by its full one.
    QCOMPARE(sleptAtUpdate, (std::vector<std::uint64_t>{0, 0, 1000, 2000}));
    QCOMPARE(probe.titles, (QStringList{"Ошибка датчика!", "Ошибка датчика!", "Ошибка датчика!"}));
    QVERIFY(SensorError.load());
    // The history keeps its last values.
    const HistorySnapshot s = history().Snapshot();
    QCOMPARE(s.SampleCount, 1);
    QCOMPARE(s.History[0].Temp, 20.0L);

    // The error is carried into the next session until a good reading.
    SensorFound = false;
    Probe next;
    next.stopAfter(1);
    QVERIFY(runSession(next));
    QCOMPARE(next.errorFlags, (std::vector<bool>{true, false}));
}

void TestReadTemp::unplugMidSessionAndRecover()
{
    SensorSim sim({"--unplug-after", "3", "--replug-after", "4", "--temp", "23.5", "--conversion", "instant"});
    QVERIFY(openPort());
    SensorFound = true;
    SensorType = stDS18B20;
    Probe probe;
    probe.stopAfter(7);
    QVERIFY(runSession(probe));
    // 3 good cycles; then 2 silent retries and 2 error cycles (4 unanswered
    // resets); then the sensor is back.
    QCOMPARE(probe.titles, (QStringList{"t = 23.5 °C", "t = 23.5 °C", "t = 23.5 °C", "Ошибка датчика!",
                                        "Ошибка датчика!", "t = 23.5 °C", "t = 23.5 °C"}));
    const HistorySnapshot s = history().Snapshot();
    QCOMPARE(s.SampleCount, 5); // no failed reading was stored
    for (int i = 0; i < 5; ++i)
        QCOMPARE(s.History[i].Temp, 23.5L);
    QVERIFY(!SensorError.load());
    QCOMPARE(probe.errorFlags.at(4), true);
    QCOMPARE(probe.errorFlags.back(), false);
}

void TestReadTemp::stopDuringConversionSeenAtLoopTest()
{
    SensorSim sim({"--conversion", "instant", "--temp", "30"});
    QVERIFY(openPort());
    SensorFound = true;
    SensorType = stDS18B20;
    HookClock hook(*m_clock);
    setClock(&hook);
    hook.onSleep = [](std::uint32_t ms) {
        if (ms == ConversionWaitMs)
            RunState = rsStopped;
    };
    Probe probe;
    QVERIFY(runSession(probe));
    setClock(m_clock.get());
    // The cycle in which the stop came is finished: stored, shown, titled.
    QCOMPARE(probe.updates, 2);
    QCOMPARE(probe.titles, QStringList{"t = 30.0 °C"});
    QCOMPARE(history().Snapshot().SampleCount, 1);
    QCOMPARE(sim.trace("CMD 0xBE").size(), 1);
}

void TestReadTemp::stopBeforeFirstUpdateIsNotLost()
{
    // The stop arrives while the thread's first display update is pending:
    // the thread must not turn it back into rsRunning.
    Probe probe;
    probe.onUpdate = [](Probe &p) {
        if (p.updates == 1)
            RunState = rsStopped;
    };
    QVERIFY(runSession(probe));
    QCOMPARE(probe.updates, 2); // one cycle, then the loop test ends it
}

void TestReadTemp::stalledWindowNeverHoldsTheCycle()
{
    // The main thread answers nothing for five cycles, as while a second
    // start hides and restores the window: the readings keep their pace, and
    // the window then catches up with one update and the newest title, not
    // with a queue of stale ones.
    ImpatientClock impatient(*m_clock, 1 + 5); // the wait before the first reading, then one a cycle
    setClock(&impatient);
    Probe probe;
    RunState = rsStarting;
    const std::uint64_t t0 = m_clock->elapsedMs();
    QPointer<QThread> thread = new ReadTemp(&probe);
    // Nothing is dispatched meanwhile; a thread held by the window never ends.
    QVERIFY(thread->wait(30000));
    const std::uint64_t elapsed = m_clock->elapsedMs() - t0;
    const HistorySnapshot s = history().Snapshot();
    QCOMPARE(s.SampleCount, 5);
    QCOMPARE(probe.updates, 0);
    // Every cycle lasted CycleLength: the window's share of it came out of
    // its pause, and nothing more.
    QCOMPARE(elapsed, std::uint64_t{6000});
    QCOMPARE(m_clock->sleptMs(), 0u);
    QCOMPARE(RunState.load(), rsFinished);

    QCoreApplication::sendPostedEvents();
    setClock(m_clock.get());
    QCOMPARE(probe.updates, 1);
    QCOMPARE(probe.snapshots.front().SampleCount, 5);
    QCOMPARE(probe.titles, QStringList{"t = " + TempToStr(DemoTemp(4)) + " °C"});
    RunState = rsStopped;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(QTest::qWaitFor([&] { return thread.isNull(); }, 5000));
}

void TestReadTemp::recordCounterWrapsWithSaveOff()
{
    test::ProgramFolder folder;
    Save = false;
    PeriodSave = 1;
    RecordCounter = 250;
    Probe probe;
    probe.stopAfter(10);
    QVERIFY(runSession(probe));
    QCOMPARE(int(RecordCounter.load()), (250 + 10) % 256);
    QVERIFY(!QDir(folder.path() + "DATA").exists());
}

void TestReadTemp::snapshotNeverTorn()
{
    // A second reader hammers the snapshot while the thread stores; every
    // snapshot must satisfy the history's invariants.
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> taken{0};
    std::thread reader([&] {
        while (!done.load()) {
            const HistorySnapshot s = history().Snapshot();
            ++taken;
            if (s.SampleCount == 0)
                continue;
            long double mx = s.History[0].Temp, mn = s.History[0].Temp;
            for (int i = 1; i < s.SampleCount; ++i) {
                mx = std::max(mx, s.History[i].Temp);
                mn = std::min(mn, s.History[i].Temp);
            }
            const bool indexOk = s.SampleCount == 140 || s.SampleIndex == s.SampleCount;
            if (mx != s.MaxTemp || mn != s.MinTemp || !indexOk || s.History[0].Temp >= NoTemp)
                ++torn;
        }
    });
    Probe probe;
    probe.stopAfter(400);
    auto stop = probe.onUpdate;
    probe.onUpdate = [&, stop](Probe &p) {
        const HistorySnapshot &s = p.snapshots.back();
        if (p.updates > 1 && s.History[0].Temp != DemoTemp(static_cast<std::uint8_t>((s.SampleIndex + 139) % 140)))
            ++torn;
        stop(p);
    };
    const bool ok = runSession(probe);
    done = true;
    reader.join();
    QVERIFY(ok);
    QCOMPARE(torn.load(), 0);
    QVERIFY(taken.load() > 0);
    QCOMPARE(history().Snapshot().SampleCount, 140);
}

QTEST_GUILESS_MAIN(TestReadTemp)
#include "tst_readtemp.moc"
