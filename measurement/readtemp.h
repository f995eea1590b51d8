#pragma once
// The measurement thread: one reading per cycle from the sensor (or the
// demonstration curve), stored, recorded, displayed, paced to the cycle length.

#include "measurement/receiver.h"

#include <QPointer>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace kp33 {

enum TRunState : std::uint8_t { rsStopped = 0, rsStarting = 1, rsRunning = 2, rsFinished = 3 };

// One writer per value: the main thread writes rsStopped and rsStarting, the
// thread rsRunning (only over rsStarting) and rsFinished.
extern std::atomic<TRunState> RunState;
// True after a failed reading that was not retried; keeps its value between
// sessions until the next good reading.
extern std::atomic<bool> SensorError;

inline constexpr std::uint32_t ConversionWaitMs = 750;
inline constexpr int SilentRetries = 2;

std::uint32_t CycleLength();

// The reading for a scratchpad's bytes 0, 1, 6 and 7 by family; nullopt for
// bytes no sensor sends (COUNT_PER_C of 0) and for bytes that decode to
// 1000 °C or more, the value that marks a failed reading.
std::optional<long double> ConvertReading(std::uint8_t type, std::uint8_t l, std::uint8_t h,
                                          std::uint8_t countRemain, std::uint8_t countPerC);
// The demonstration curve at history phase sampleIndex.
long double DemoTemp(std::uint8_t sampleIndex);

class ReadTemp final : public QThread {
    Q_OBJECT
public:
    // Starts at once and deletes itself when it has finished. The receiver
    // must outlive the thread: its owner waits for rsFinished, then wait()s.
    explicit ReadTemp(MeasurementReceiver *receiver);

protected:
    void run() override;

private:
    struct Handoff;
    // Hands the display update, and the title when given, to the main thread
    // and waits for them at most boundMs. A window that is slow to answer
    // (hidden and shown again, busy, stalled by the system) costs it its
    // picture, never a reading or a row: an update still on its way when the
    // next one is due carries the newer title instead of queueing a second.
    void show(std::optional<QString> title, std::uint32_t boundMs);
    // The data row; false when the file failed and the session must end.
    bool recordRow(long double t);

    QPointer<MeasurementReceiver> m_receiver;
    // Shared with the update on its way, which may run after the thread has
    // freed itself.
    std::shared_ptr<Handoff> m_handoff;
};

} // namespace kp33
