#pragma once
// Process CPU time, resident memory and wall time for the benchmarks.

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

#include "sensorbus/txrx.h"

namespace kp33::bench {

inline double cpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

inline double wallMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

#ifndef _WIN32 // the memory figures are taken on Linux only
inline long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
#endif

// One full reading, as the measurement thread makes it: reset, Skip ROM and
// Convert T in one burst, then reset, Skip ROM, Read Scratchpad and its reply
// in another. The port must be open.
struct BusFigures {
    int readings = 0;
    int good = 0;
    double wallMs = 0; // per reading
    double cpuMs = 0;  // per reading
};

template <typename Reading>
BusFigures measure(int readings, Reading reading)
{
    BusFigures f;
    f.readings = readings;
    const double wall0 = wallMs(), cpu0 = cpuMs();
    for (int i = 0; i < readings; ++i)
        f.good += reading() ? 1 : 0;
    f.wallMs = (wallMs() - wall0) / readings;
    f.cpuMs = (cpuMs() - cpu0) / readings;
    return f;
}

inline bool burstReading()
{
    if (!OWReset())
        return false;
    const std::uint8_t convert[] = {cmdSkipRom, cmdConvertT};
    OWBlock(convert, 2, nullptr, 0);
    std::uint8_t l, h, cr, cpc;
    return ReadTempBytes(l, h, cr, cpc);
}

inline BusFigures measureBus(int readings) { return measure(readings, burstReading); }

// What the wire itself needs for one reading: 2 reset characters at 9600
// bit/s and 13 bytes of 8 slot characters at 115200 bit/s, 10 bit times each.
inline constexpr double WireFloorMs = 2 * 10 / 9600.0 * 1e3 + 13 * 8 * 10 / 115200.0 * 1e3;
// Two resets and two bursts: the fewest echo round trips a reading can take,
// each held back by the adapter's latency timer once.
inline constexpr int BurstRoundTrips = 4;
inline double floorMs(int latencyMs) { return WireFloorMs + BurstRoundTrips * latencyMs; }

} // namespace kp33::bench
