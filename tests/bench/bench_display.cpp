// How long one full display update takes with a full history: indicator,
// panels, thermometer and graph.

#include "../mainwindow/windowtest.h"
#include "benchutil.h"

#include <QApplication>
#include <cstdio>

using namespace kp33;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ApplyLookAndFeel(app);
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    if (!w.FormCreate())
        return 1;
    for (int i = 0; i < 140; ++i)
        history().StoreAndUpdate(20 + 5 * std::sin(i / 10.0));
    RunState = rsRunning;
    constexpr int updates = 500;
    const double wall0 = bench::wallMs(), cpu0 = bench::cpuMs();
    for (int i = 0; i < updates; ++i)
        w.UpdateDisplay();
    std::printf("bench_display: UpdateDisplay with 140 samples: %.3f ms wall, %.3f ms CPU per update\n",
                (bench::wallMs() - wall0) / updates, (bench::cpuMs() - cpu0) / updates);
    RunState = rsStopped;
    return 0;
}
