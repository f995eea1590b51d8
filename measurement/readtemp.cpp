#include "measurement/readtemp.h"

#include "measurement/datafile.h"
#include "measurement/history.h"
#include "measurement/recording.h"
#include "sensorbus/clock.h"
#include "sensorbus/globals.h"
#include "sensorbus/txrx.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <numbers>
#include <utility>

namespace kp33 {

std::atomic<TRunState> RunState{rsStopped};
std::atomic<bool> SensorError{false};

std::uint32_t CycleLength() { return IsWinNT.load() ? 1000 : 2000; }

std::optional<long double> ConvertReading(std::uint8_t type, std::uint8_t l, std::uint8_t h,
                                          std::uint8_t countRemain, std::uint8_t countPerC)
{
    long double t;
    if (type == stDS1820 || type == stDS18S20) {
        if (countPerC == 0)
            return std::nullopt;
        // Bytes 1:0 are a 16-bit two's-complement count of half degrees.
        const auto raw = static_cast<std::int16_t>(static_cast<std::uint16_t>(h << 8 | l));
        // Dropping the half-degree bit rounds towards minus infinity: -10.5 -> -11.
        const int tempRead = raw >> 1;
        t = tempRead - 0.25L + static_cast<long double>(countPerC - countRemain) / countPerC;
        // nearbyint in the default mode rounds ties to even: 25.25 -> 25.2.
        t = std::nearbyintl(10.0L * t) / 10.0L;
    } else {
        // Sixteenths of a degree; any high byte above 7 counts as a negative
        // reading, whatever its unused sign-extension bits hold.
        int raw = h * 256 + l;
        if (h > 7)
            raw -= 65536;
        t = raw / 16.0L;
    }
    // 1000 and above is the mark of no reading (the data file's 1000.0): bytes
    // that decode to it are a failed reading, never a temperature to record.
    if (t >= NoTemp)
        return std::nullopt;
    return t;
}

long double DemoTemp(std::uint8_t sampleIndex)
{
    return 10.0L * std::sin(4.0L * std::numbers::pi_v<long double> * sampleIndex / 140.0L);
}

struct ReadTemp::Handoff {
    std::mutex mutex; // protects pending and title
    std::condition_variable shown;
    bool pending = false; // an update is on its way to the main thread
    std::optional<QString> title;
};

ReadTemp::ReadTemp(MeasurementReceiver *receiver)
    : m_receiver(receiver), m_handoff(std::make_shared<Handoff>())
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

void ReadTemp::show(std::optional<QString> title, std::uint32_t boundMs)
{
    MeasurementReceiver *r = m_receiver.data();
    if (!r)
        return;
    const std::shared_ptr<Handoff> h = m_handoff;
    bool post;
    {
        std::lock_guard lock(h->mutex);
        if (title)
            h->title = std::move(title);
        post = !h->pending;
        h->pending = true;
    }
    if (post) {
        QMetaObject::invokeMethod(r, [r, h] {
            // The display takes its own snapshot of the history, so an update
            // that comes late still shows one consistent moment.
            r->UpdateDisplay();
            std::optional<QString> t;
            {
                std::lock_guard lock(h->mutex);
                t = std::exchange(h->title, std::nullopt);
                h->pending = false;
            }
            h->shown.notify_all();
            if (t)
                r->SetApplicationTitle(*t);
        }, Qt::QueuedConnection);
    }
    theClock().waitInput([h](int ms) {
        std::unique_lock lock(h->mutex);
        return h->shown.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !h->pending; });
    }, static_cast<int>(boundMs));
}

bool ReadTemp::recordRow(long double t)
{
    const DataFileResult result = WriteDataRow(t);
    if (result.messages.isEmpty())
        return true;
    if (MeasurementReceiver *r = m_receiver.data()) {
        const QStringList messages = result.messages;
        // Errors cross to the main thread as data; it shows them, then closes.
        QMetaObject::invokeMethod(r, [r, messages] {
            for (const QString &m : messages)
                r->ShowDataFileError(m);
            r->RequestClose();
        }, Qt::QueuedConnection);
    }
    return false;
}

void ReadTemp::run()
{
    // The start sequence's look ("Начало измерения...") is shown before the
    // first reading, unless the window is too slow for it within a cycle.
    show(std::nullopt, CycleLength());
    // Only a start in progress becomes a running session: a stop that came
    // first is kept, and the loop test below ends the thread.
    TRunState starting = rsStarting;
    RunState.compare_exchange_strong(starting, rsRunning);
    int retryCount = 0;
    bool recording = true;

    do {
        const std::uint32_t t0 = theClock().tickCount();
        long double t = NoTemp;

        if (!SensorFound.load()) {
            t = DemoTemp(history().SampleIndex());
        } else if (OWReset()) {
            const std::uint8_t convert[] = {cmdSkipRom, cmdConvertT};
            OWBlock(convert, std::size(convert), nullptr, 0);
            theClock().sleep(ConversionWaitMs);
            std::uint8_t l, h, cr, cpc;
            if (ReadTempBytes(l, h, cr, cpc))
                t = ConvertReading(SensorType.load(), l, h, cr, cpc).value_or(NoTemp);
        }

        if (t >= NoTemp) {
            if (retryCount < SilentRetries) {
                // Retried at once and without a trace: no display, row or pause.
                ++retryCount;
                continue;
            }
            SensorError = true;
        } else {
            // Store and statistics in one step under the lock, so a redraw
            // never sees the new sample with the old extremes.
            history().StoreAndUpdate(t);
            SensorError = false;
        }

        TRecordHold requested = rhRequested;
        RecordHold.compare_exchange_strong(requested, rhHeld);

        if (recording && RecordCounter.load() >= PeriodSave.load() && Save.load() &&
            RecordHold.load() == rhNone) {
            RecordCounter = 0;
            if (!recordRow(t))
                recording = false;
        }
        RecordCounter.fetch_add(1);

        // The window gets what is left of the cycle to show it; the pause
        // below is whatever remains after that.
        const std::uint32_t used = theClock().tickCount() - t0;
        show((SensorError.load() ? QStringLiteral("Ошибка датчика!")
                                 : QStringLiteral("t = ") + TempToStr(t) + QStringLiteral(" °C")) +
                 HeldRowsNote(),
             used < CycleLength() ? CycleLength() - used : 0);

        if (!recording)
            break; // the main window is closing; nothing more is written

        const auto wait = static_cast<std::int32_t>(CycleLength() - (theClock().tickCount() - t0));
        if (wait > 0)
            theClock().sleep(static_cast<std::uint32_t>(wait));
    } while (!isInterruptionRequested() && RunState.load() != rsStopped);

    RunState = rsFinished;
}

} // namespace kp33
