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
    const bench::BusFigures f = bench::measureBus(readings);
    std::printf("bench_bus: %d readings, %d good\n", readings, f.good);
    std::printf("bench_bus: wall per reading  %8.3f ms\n", f.wallMs);
    std::printf("bench_bus: CPU per reading   %8.3f ms   (target < 5 ms)\n", f.cpuMs);
    std::printf("bench_bus: echo round trips  %8d\n", bench::ReadingRoundTrips);
    std::printf("bench_bus: physical floor    %8.1f ms   (real adapter, same exchange)\n", bench::PhysicalFloorMs);
    std::printf("bench_bus: ratio wall/floor  %8.2f\n", f.wallMs / bench::PhysicalFloorMs);
    CloseCOM();
    return f.good == readings ? 0 : 1;
}
