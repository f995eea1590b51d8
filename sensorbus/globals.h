#pragma once
// Program-wide state shared by every layer, and the one number formatter that
// the indicator, the title, the edits and the data file all use.

#include <QString>
#include <atomic>
#include <cstdint>

namespace kp33 {

// A failed reading, and the mark of an empty history entry.
inline constexpr long double NoTemp = 1000.0L;

enum TSensorType : std::uint8_t {
    stDS1820 = 1,
    stDS18S20 = 2,
    stDS18B20 = 3,
    stUnknown = 255,
};

// Written by the sensor search on the main thread, read by the measurement
// thread; atomics so neither side ever sees a torn or stale value.
extern std::atomic<TSensorType> SensorType;
extern std::atomic<bool> SensorFound;
// The sensor's ROM code as two words: bytes 0..3 and 4..7 of the code in bus order.
extern std::atomic<std::uint32_t> SensorROM[2];

// True on every platform this program runs on; tests set it False for the
// 2-second cycle and even recording periods.
extern std::atomic<bool> IsWinNT;

// Directory of the program with a trailing "/": home of KP33.ini and DATA/.
// Set once at start (tests point it at a temporary folder) before any thread runs.
QString programDir();
void setProgramDir(const QString &dir);

// One decimal, a point whatever the locale, no thousands separator. The value
// is first taken to 18 significant digits and then rounded half away from
// zero (22.25 -> "22.3"); a result of zero never carries a minus sign.
QString TempToStr(long double t);

} // namespace kp33
