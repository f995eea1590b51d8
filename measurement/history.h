#pragma once
// The last 140 good readings, newest first, each with the temperature limits
// in force when it was taken, plus their extremes; and the other values the
// measurement thread and the main thread share under one lock.

#include "sensorbus/globals.h"

#include <QString>
#include <array>
#include <cstdint>
#include <mutex>

namespace kp33 {

struct TSample {
    long double Temp = NoTemp;
    long double LoL = 0.0L;
    long double HiL = 0.0L;
};

inline constexpr int HistorySize = 140;
inline constexpr long double MaxTempEmpty = 125.0L;
inline constexpr long double MinTempEmpty = -55.0L;

// A copy of everything a redraw reads, taken at one moment.
struct HistorySnapshot {
    std::array<TSample, HistorySize> History{}; // [0] is entry 1, the newest
    std::uint8_t SampleCount = 0;
    std::uint8_t SampleIndex = 0;
    long double MaxTemp = MaxTempEmpty;
    long double MinTemp = MinTempEmpty;
    long double LoL = -55.0L;
    long double HiL = 125.0L;
};

class SampleHistory {
public:
    // Store: entries move one place towards the old end, entry 1 gets
    // (t, LoL, HiL) with the limits in force now.
    void Store(long double t);
    // Advances SampleIndex and SampleCount and recomputes the extremes over the
    // held samples from scratch.
    void UpdateStatistics();
    // Store and statistics in one locked step, so no reader ever sees a new
    // entry 1 with the old counters and extremes.
    void StoreAndUpdate(long double t);
    // Every Temp back to NoTemp (limits kept), counters to 0, placeholders back.
    void Reset();
    // Window creation: every Temp to NoTemp; counters and extremes untouched.
    void MarkEmpty();

    HistorySnapshot Snapshot() const;
    std::uint8_t SampleIndex() const;
    // Entry 1's limits (the data row's columns 3 and 4); the limits in force
    // while entry 1 is empty.
    void NewestLimits(long double &lol, long double &hil) const;

    long double LoL() const;
    long double HiL() const;
    void SetLoL(long double v);
    void SetHiL(long double v);

    QString FileSave() const;
    void SetFileSave(const QString &name);

private:
    void storeLocked(long double t);
    void updateStatisticsLocked();

    // Protects every member below. Never held across file I/O or a call into
    // the main thread.
    mutable std::mutex m_mutex;
    std::array<TSample, HistorySize> m_history{};
    std::uint8_t m_sampleCount = 0;
    std::uint8_t m_sampleIndex = 0;
    long double m_maxTemp = MaxTempEmpty;
    long double m_minTemp = MinTempEmpty;
    long double m_lol = -55.0L;
    long double m_hil = 125.0L;
    QString m_fileSave;
};

// The program's one history; it lives for the whole run.
SampleHistory &history();

} // namespace kp33
