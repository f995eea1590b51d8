// Bus time per reading through adapters of different echo latency: the
// simulator gives every character its wire time and holds echoes back as a
// USB-serial chip does. Each latency is measured twice in the same run: with
// the exchange in bursts, as the program reads, and with each slot waiting for
// its echo before the next one is sent, the baseline. Prints a Markdown table;
// it never fails on a figure, only when no burst reading works at all.
//
// KP33_BENCH_PORTS="0=COM1,1=COM2,..." measures through simulators someone
// else started behind those ports, one per latency (as under Wine, where the
// simulator runs on the Linux side).

#include "benchutil.h"
#include "sensorbus/clock.h"
#include "sensorbus/comport.h"
#include "sensorbus/txrx.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <vector>

using namespace kp33;

namespace {

// The baseline: one character on the bus at a time, each waiting for its echo
// against the byte's deadline.
namespace perslot {

bool echo(std::uint32_t t0, std::uint8_t &e)
{
    for (;;) {
        std::uint32_t got = 0;
        if (RxDataCOM(&e, 1, &got) && got == 1)
            return true;
        const std::uint32_t elapsed = theClock().tickCount() - t0;
        if (elapsed > busTimeoutMs)
            return false;
        WaitRxCOM(static_cast<int>(busTimeoutMs + 1 - elapsed));
    }
}

std::uint8_t byte(std::uint8_t b)
{
    PurgeCOM();
    const std::uint32_t t0 = theClock().tickCount();
    std::uint8_t value = 0xFF;
    for (int i = 0; i < 8; ++i, b = static_cast<std::uint8_t>(b >> 1)) {
        TxByteCOM(b & 1 ? 0xFF : 0x00);
        std::uint8_t e;
        if (!echo(t0, e))
            return 0xFF;
        value = static_cast<std::uint8_t>((value >> 1) | ((e & 1) << 7));
    }
    return value;
}

bool reading()
{
    if (!OWReset())
        return false;
    byte(cmdSkipRom);
    byte(cmdConvertT);
    if (!OWReset())
        return false;
    byte(cmdSkipRom);
    byte(cmdReadScratchpad);
    CRC8 = 0;
    for (int i = 0; i < 8; ++i)
        CRC8Add(byte(0xFF));
    return byte(0xFF) == CRC8;
}

} // namespace perslot

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    struct Row {
        int latency;
        bench::BusFigures burst, perSlot;
    };
    std::vector<Row> rows;
    QList<QPair<int, QString>> given;
    for (const QString &item : qEnvironmentVariable("KP33_BENCH_PORTS").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList kv = item.split(QLatin1Char('='));
        if (kv.size() == 2)
            given.append({kv[0].toInt(), kv[1]});
    }
    if (given.isEmpty())
        for (int latency : {0, 1, 4, 16})
            given.append({latency, QString()});
    for (const auto &[latency, port] : given) {
        std::unique_ptr<test::SensorSim> sim;
        if (port.isEmpty())
            sim = std::make_unique<test::SensorSim>(QStringList{
                "--conversion", "instant", "--temp", "21.5", "--wire-time", "--latency-ms", QString::number(latency)});
        else
            setPortPath(1, port.toStdString());
        if ((sim && !sim->started()) || !test::openPort()) {
            std::fprintf(stderr, "bench_bus: no simulator port\n");
            return 1;
        }
        // Enough readings for a steady mean in a few seconds per cell; the
        // baseline is slow at high latency, so it gets fewer.
        Row row{latency, bench::measureBus(40), bench::measure(latency <= 1 ? 40 : 8, perslot::reading)};
        rows.push_back(row);
        CloseCOM();
    }

    std::printf("\n| Echo latency | Floor 11.1 ms + 4·L | In bursts | Bursts / floor | One slot at a time |\n");
    std::printf("|---|---|---|---|---|\n");
    int good = 0;
    for (const Row &r : rows) {
        const double floor = bench::floorMs(r.latency);
        std::printf("| %d ms | %.1f ms | %.1f ms (%d/%d good) | %.2f | %.1f ms (%d/%d good) |\n", r.latency,
                    floor, r.burst.wallMs, r.burst.good, r.burst.readings, r.burst.wallMs / floor,
                    r.perSlot.wallMs, r.perSlot.good, r.perSlot.readings);
        good += r.burst.good;
    }
    std::printf("\nbench_bus: CPU per reading in bursts %.3f ms (target < 5 ms)\n", rows.front().burst.cpuMs);
    return good > 0 ? 0 : 1;
}
