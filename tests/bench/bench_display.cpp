// How long one full display update takes with a full history: indicator,
// panels, thermometer and graph.

#include "dialogs/scaling.h"
#include "../mainwindow/windowtest.h"
#include "benchutil.h"

#include <QApplication>
#include <QScreen>
#include <cstdio>

using namespace kp33;

int main(int argc, char **argv)
{
    SetScaleRounding();
    QApplication app(argc, argv);
    ApplyLookAndFeel(app);
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    for (int i = 0; i < 140; ++i)
        history().StoreAndUpdate(20 + 5 * std::sin(i / 10.0));
    // At 100 % on the first screen, then at 200 % on the offscreen screen of
    // 192 dpi the suite runs with (tests/mainwindow/screens.json).
    QScreen *at200 = nullptr;
    for (QScreen *s : QGuiApplication::screens())
        if (s->name() == QLatin1String("s200"))
            at200 = s;
    double baseline = 0;
    for (QScreen *screen : {QGuiApplication::primaryScreen(), at200}) {
        if (!screen) {
            std::printf("bench_display: no 200 %% screen (run with -platform offscreen:configfile=screens.json)\n");
            continue;
        }
        TMain w;
        w.setScreen(screen);
        w.move(screen->geometry().topLeft());
        w.winId();
        RunState = rsStopped;
        if (!w.FormCreate())
            return 1;
        w.Recompose();
        RunState = rsRunning;
        constexpr int updates = 500;
        const double wall0 = bench::wallMs(), cpu0 = bench::cpuMs();
        for (int i = 0; i < updates; ++i)
            w.UpdateDisplay();
        const double wall = (bench::wallMs() - wall0) / updates, cpu = (bench::cpuMs() - cpu0) / updates;
        const bool first = baseline == 0;
        if (first)
            baseline = wall;
        std::printf("bench_display: UpdateDisplay with 140 samples at %d %% (ratio %d): %.3f ms wall, %.3f ms CPU "
                    "per update%s\n",
                    w.compositionRatio() * 100, w.compositionRatio(), wall, cpu,
                    first ? "" : qPrintable(QStringLiteral(", %1 x the 100 % figure").arg(wall / baseline, 0, 'f', 2)));
    }
    RunState = rsStopped;
    return 0;
}
