// One full reading over a pseudo-terminal against the simulator: reset, Skip
// ROM, Convert T, then reset, Skip ROM, Read Scratchpad. Prints wall and CPU
// time per reading beside the physical floor of the same exchange.

#include "benchutil.h"
#include "sensorbus/comport.h"
#include "sensorbus/txrx.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <cstdio>

using namespace kp33;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    test::SensorSim sim({"--conversion", "instant", "--temp", "21.5"});
    if (!sim.started() || !OpenCOM("COM1")) {
        std::fprintf(stderr, "bench_bus: no simulator port\n");
        return 1;
    }
    SetCOMTo(-1, 0, 0, 0, 0);
    SetModCOM(9600, 8, 0, 2, 1, 0);

    constexpr int readings = 200;
    int good = 0;
    const double wall0 = bench::wallMs(), cpu0 = bench::cpuMs();
    for (int i = 0; i < readings; ++i) {
        if (!OWReset())
            continue;
        OWWriteByte(cmdSkipRom);
        OWWriteByte(cmdConvertT);
        std::uint8_t l, h, cr, cpc;
        good += ReadTempBytes(l, h, cr, cpc) ? 1 : 0;
    }
    const double wall = (bench::wallMs() - wall0) / readings;
    const double cpu = (bench::cpuMs() - cpu0) / readings;

    // 2 reset characters at 9600 bit/s plus 13 bytes of 8 slots at 115200
    // bit/s, 10 bit times per character, each waiting for its echo.
    constexpr int roundTrips = 2 + 13 * 8;
    const double floorMs = 2 * 10 / 9600.0 * 1e3 + (roundTrips - 2) * 10 / 115200.0 * 1e3;
    std::printf("bench_bus: %d readings, %d good\n", readings, good);
    std::printf("bench_bus: wall per reading  %8.3f ms\n", wall);
    std::printf("bench_bus: CPU per reading   %8.3f ms   (target < 5 ms)\n", cpu);
    std::printf("bench_bus: echo round trips  %8d\n", roundTrips);
    std::printf("bench_bus: physical floor    %8.1f ms   (real adapter, same exchange)\n", floorMs);
    std::printf("bench_bus: ratio wall/floor  %8.2f\n", wall / floorMs);
    CloseCOM();
    return good == readings ? 0 : 1;
}
