// The 140-sample history and its statistics.

#include "measurement/history.h"

#include <QtTest>
#include <algorithm>

using namespace kp33;

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void init();
    void firstSampleSetsBothExtremes();
    void wrapsAfter140();
    void maximumLeavesWith140thSampleAfterIt();
    void limitsAreKeptPerEntry();
    void resetKeepsLimitsAndMarkEmptyKeepsCounters();
};

void TestHistory::init()
{
    history().SetLoL(-55);
    history().SetHiL(125);
    history().Reset();
}

void TestHistory::firstSampleSetsBothExtremes()
{
    HistorySnapshot s = history().Snapshot();
    QCOMPARE(s.SampleCount, 0);
    QCOMPARE(s.MaxTemp, 125.0L);
    QCOMPARE(s.MinTemp, -55.0L);
    history().StoreAndUpdate(21.5L);
    s = history().Snapshot();
    QCOMPARE(s.SampleCount, 1);
    QCOMPARE(s.SampleIndex, 1);
    QCOMPARE(s.MaxTemp, 21.5L);
    QCOMPARE(s.MinTemp, 21.5L);
    QCOMPARE(s.History[0].Temp, 21.5L);
    QCOMPARE(s.History[1].Temp, NoTemp);
}

void TestHistory::wrapsAfter140()
{
    for (int i = 0; i < 140; ++i) {
        history().Store(i);
        history().UpdateStatistics();
        const HistorySnapshot s = history().Snapshot();
        if (i < 139)
            QCOMPARE(int(s.SampleIndex), int(s.SampleCount));
    }
    HistorySnapshot s = history().Snapshot();
    QCOMPARE(s.SampleIndex, 0);
    QCOMPARE(s.SampleCount, 140);
    QCOMPARE(s.History[139].Temp, 0.0L);
    QCOMPARE(s.MinTemp, 0.0L);

    history().StoreAndUpdate(500);
    s = history().Snapshot();
    QCOMPARE(s.SampleIndex, 1);
    QCOMPARE(s.SampleCount, 140);
    // The first sample (0.0) has left the history and the extremes.
    QCOMPARE(s.History[139].Temp, 1.0L);
    QCOMPARE(s.MinTemp, 1.0L);
    QCOMPARE(s.MaxTemp, 500.0L);
}

void TestHistory::maximumLeavesWith140thSampleAfterIt()
{
    history().StoreAndUpdate(90);
    for (int i = 0; i < 138; ++i)
        history().StoreAndUpdate(20);
    QCOMPARE(history().Snapshot().MaxTemp, 90.0L); // entry 139
    history().StoreAndUpdate(20);
    QCOMPARE(history().Snapshot().MaxTemp, 90.0L); // entry 140, still held
    history().StoreAndUpdate(20);
    QCOMPARE(history().Snapshot().MaxTemp, 20.0L); // pushed out
}

void TestHistory::limitsAreKeptPerEntry()
{
    history().StoreAndUpdate(10);
    history().SetLoL(5);
    history().SetHiL(30);
    history().StoreAndUpdate(11);
    const HistorySnapshot s = history().Snapshot();
    QCOMPARE(s.History[0].LoL, 5.0L);
    QCOMPARE(s.History[0].HiL, 30.0L);
    QCOMPARE(s.History[1].LoL, -55.0L);
    QCOMPARE(s.History[1].HiL, 125.0L);
    long double lol, hil;
    history().NewestLimits(lol, hil);
    QCOMPARE(lol, 5.0L);
    QCOMPARE(hil, 30.0L);
}

void TestHistory::resetKeepsLimitsAndMarkEmptyKeepsCounters()
{
    history().SetLoL(1);
    history().StoreAndUpdate(10);
    history().StoreAndUpdate(12);
    history().MarkEmpty();
    HistorySnapshot s = history().Snapshot();
    QCOMPARE(s.History[0].Temp, NoTemp);
    QCOMPARE(s.SampleCount, 2);
    QCOMPARE(s.MaxTemp, 12.0L);

    history().Reset();
    s = history().Snapshot();
    QCOMPARE(s.SampleCount, 0);
    QCOMPARE(s.SampleIndex, 0);
    QCOMPARE(s.MaxTemp, 125.0L);
    QCOMPARE(s.MinTemp, -55.0L);
    QCOMPARE(s.History[0].Temp, NoTemp);
    QCOMPARE(s.History[0].LoL, 1.0L); // limits stay
    QVERIFY(std::all_of(s.History.begin(), s.History.end(), [](const TSample &x) { return x.Temp == NoTemp; }));
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
