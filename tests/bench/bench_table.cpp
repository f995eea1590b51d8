// The performance table: every figure measured together in one run.
//   bench_table [CYCLES]   (default 90 000: the long run)
// Prints a Markdown table for the README.

#include "dialogs/scaling.h"
#include "../mainwindow/windowtest.h"
#include "benchutil.h"

#include <QApplication>
#include <QPaintEvent>
#include <cmath>
#include <cstdio>

using namespace kp33;

namespace {

// Notes the first paint of the window's client area.
class FirstPaint : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    SetScaleRounding();
    QApplication app(argc, argv);
    ApplyLookAndFeel(app);
    const long cycles = argc > 1 ? std::atol(argv[1]) : 90000;

    test::WindowFixture fx;
    test::SensorSim sim({"--temp", "21.5", "--conversion", "instant"});

    // Start to first paint: the window's creation (settings, port probe, data
    // file, first display) and its first painted frame.
    const double start0 = bench::wallMs();
    TMain w;
    if (!w.FormCreate())
        return 1;
    FirstPaint paint;
    w.centralWidget()->installEventFilter(&paint);
    w.show();
    while (!paint.painted)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    const double startMs = bench::wallMs() - start0;
    const long rssStart = bench::residentKiB();

    // The search at activation opens the simulator's port and finds the sensor.
    w.FormActivate();
    if (!SensorFound.load())
        return 1;
    const bench::BusFigures bus = bench::measureBus(200);

    // A full display update, history full.
    for (int i = 0; i < 140; ++i)
        history().StoreAndUpdate(20 + 5 * std::sin(i / 10.0));
    RunState = rsRunning;
    constexpr int updates = 300;
    const double ud0 = bench::wallMs();
    for (int i = 0; i < updates; ++i)
        w.UpdateDisplay();
    const double updateMs = (bench::wallMs() - ud0) / updates;
    RunState = rsStopped;

    // Measuring on the fast clock: CPU per cycle (both threads), then the
    // resident memory after the run.
    const std::uint64_t t0 = fx.clock->elapsedMs();
    const double cpu0 = bench::cpuMs();
    w.BTN_Start_StopClick();
    while ((fx.clock->elapsedMs() - t0) / 1000 < static_cast<std::uint64_t>(cycles) && RunState.load() != rsStopped)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    const double cycleCpuMs = (bench::cpuMs() - cpu0) / static_cast<double>(cycles);
    w.BTN_Start_StopClick();
    const long rssAfter = bench::residentKiB();
    w.close();

    std::printf("\n| Figure | Measured | Reference |\n|---|---|---|\n");
    std::printf("| CPU per reading | %.2f ms | target < 5 ms |\n", bus.cpuMs);
    std::printf("| CPU per measuring cycle (reading, row, display) | %.2f ms | target < 10 ms, %.2f %% of a core at 1 s |\n",
                cycleCpuMs, cycleCpuMs / 10.0);
    std::printf("| UpdateDisplay, 140 samples | %.2f ms | — |\n", updateMs);
    std::printf("| Start to first painted window (in process) | %.0f ms | — |\n", startMs);
    std::printf("| Resident memory after start | %.1f MiB | — |\n", rssStart / 1024.0);
    std::printf("| Resident memory after %ld cycles | %.1f MiB | flat |\n", cycles, rssAfter / 1024.0);
    // A figure never fails the run; a bus that gave nothing at all does.
    return bus.good > 0 ? 0 : 1;
}
