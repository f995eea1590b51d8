// The measurement cycle: CPU per cycle against the simulator and in the
// demonstration, resident memory over 100 000 fast cycles, and the cycle start
// jitter over 30 real one-second cycles.

#include "../measurement/probe.h"
#include "benchutil.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace kp33;

namespace {

double cpuPerCycle(int cycles)
{
    test::Probe probe;
    probe.stopAfter(cycles);
    const double cpu0 = bench::cpuMs();
    test::runSession(probe);
    return (bench::cpuMs() - cpu0) / cycles;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    test::resetMeasurementState();
    Save = false;

    {
        test::FakeClock fake;
        test::ClockScope scope(&fake);
        SensorFound = false;
        const double demo = cpuPerCycle(2000);
        std::printf("bench_readtemp: demonstration CPU per cycle %8.4f ms (%.4f %% of a core at 1 s)\n", demo,
                    demo / 10.0);

        test::SensorSim sim({"--conversion", "instant", "--temp", "21.5"});
        OpenCOM("COM1");
        SetCOMTo(-1, 0, 0, 0, 0);
        SetModCOM(9600, 8, 0, 2, 1, 0);
        SensorFound = true;
        SensorType = stDS18B20;
        const double sensor = cpuPerCycle(200);
        std::printf("bench_readtemp: sensor CPU per cycle        %8.4f ms (%.4f %% of a core at 1 s; target < 10 ms, < 1 %%)\n",
                    sensor, sensor / 10.0);
        CloseCOM();
        SensorFound = false;

        history().Reset();
        test::Probe warm;
        warm.stopAfter(1000);
        test::runSession(warm);
        const long before = bench::residentKiB();
        test::Probe many;
        many.onUpdate = [](test::Probe &p) {
            p.snapshots.clear(); // the probe's own record must not count
            p.errorFlags.clear();
            p.titles.clear();
            if (p.updates > 100000)
                RunState = rsStopped;
        };
        const double wall0 = bench::wallMs();
        test::runSession(many);
        const long after = bench::residentKiB();
        std::printf("bench_readtemp: resident memory before/after 100000 cycles: %ld / %ld KiB (growth %ld KiB, %.1f s)\n",
                    before, after, after - before, (bench::wallMs() - wall0) / 1e3);
    }

    // Real clock, demonstration mode: when does each cycle start?
    std::vector<double> starts;
    test::Probe real;
    real.onUpdate = [&](test::Probe &p) {
        starts.push_back(bench::wallMs());
        if (p.updates > 31)
            RunState = rsStopped;
    };
    test::runSession(real);
    double worst = 0, sum = 0;
    int n = 0;
    for (std::size_t i = 2; i < starts.size(); ++i) {
        const double late = std::fabs(starts[i] - starts[1] - 1000.0 * (i - 1));
        worst = std::max(worst, late);
        sum += late;
        ++n;
    }
    std::printf("bench_readtemp: cycle start jitter over %d real cycles: mean %.2f ms, worst %.2f ms (target within 5 ms)\n",
                n, n ? sum / n : 0.0, worst);
    return 0;
}
