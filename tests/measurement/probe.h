#pragma once
// A stand-in for the main window: records what the measurement thread asks of
// the main thread, and runs sessions the way the session controller does.

#include "measurement/history.h"
#include "measurement/readtemp.h"
#include "measurement/recording.h"
#include "measurement/waithelper.h"

#include <QPointer>
#include <QStringList>
#include <QtTest>
#include <functional>
#include <vector>

namespace kp33::test {

class Probe final : public MeasurementReceiver {
public:
    int updates = 0;
    QStringList titles;
    QStringList errors;
    int closeRequests = 0;
    std::vector<HistorySnapshot> snapshots;
    std::vector<bool> errorFlags;
    // Called at every display update, after it has been recorded.
    std::function<void(Probe &)> onUpdate;

    void UpdateDisplay() override
    {
        ++updates;
        snapshots.push_back(history().Snapshot());
        errorFlags.push_back(SensorError.load());
        if (onUpdate)
            onUpdate(*this);
    }
    void SetApplicationTitle(const QString &t) override { titles << t; }
    void ShowDataFileError(const QString &text) override { errors << text; }
    void RequestClose() override
    {
        ++closeRequests;
        RunState = rsStopped;
    }

    // Stops the session once `cycles` cycles have shown (the first update of
    // a thread is the one before its first cycle).
    void stopAfter(int cycles)
    {
        const int target = updates + cycles + 1;
        onUpdate = [target](Probe &p) {
            if (p.updates >= target)
                RunState = rsStopped;
        };
    }
};

// Starts a session the way the session controller does (rsStarting first,
// the thread last) and waits for its end; verifies the thread freed itself.
inline bool runSession(Probe &probe)
{
    RunState = rsStarting;
    QPointer<QThread> thread = new ReadTemp(&probe);
    WaitWhileDispatching([] { return RunState.load() == rsFinished; }, thread);
    if (thread)
        thread->wait();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(); // queued titles and messages
    const bool freed = QTest::qWaitFor([&] { return thread.isNull(); }, 5000);
    const bool finished = RunState.load() == rsFinished;
    RunState = rsStopped;
    return freed && finished;
}

inline void resetMeasurementState()
{
    RunState = rsStopped;
    SensorError = false;
    Save = false;
    PeriodSave = 1;
    FileType = false;
    RecordCounter = 0;
    RecordHold = rhNone;
    history().SetLoL(-55);
    history().SetHiL(125);
    history().Reset();
}

} // namespace kp33::test
