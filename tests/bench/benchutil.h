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

inline long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// One full reading, as the measurement thread makes it: reset, Skip ROM,
// Convert T, then reset, Skip ROM, Read Scratchpad. The port must be open.
struct BusFigures {
    int good = 0;
    double wallMs = 0; // per reading
    double cpuMs = 0;  // per reading
};

inline BusFigures measureBus(int readings)
{
    BusFigures f;
    const double wall0 = wallMs(), cpu0 = cpuMs();
    for (int i = 0; i < readings; ++i) {
        if (!OWReset())
            continue;
        OWWriteByte(cmdSkipRom);
        OWWriteByte(cmdConvertT);
        std::uint8_t l, h, cr, cpc;
        f.good += ReadTempBytes(l, h, cr, cpc) ? 1 : 0;
    }
    f.wallMs = (wallMs() - wall0) / readings;
    f.cpuMs = (cpuMs() - cpu0) / readings;
    return f;
}

// 2 reset characters at 9600 bit/s plus 13 bytes of 8 slots at 115200 bit/s,
// 10 bit times per character, each waiting for its echo.
inline constexpr int ReadingRoundTrips = 2 + 13 * 8;
inline constexpr double PhysicalFloorMs = 2 * 10 / 9600.0 * 1e3 + (ReadingRoundTrips - 2) * 10 / 115200.0 * 1e3;

} // namespace kp33::bench
