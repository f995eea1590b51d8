// The Windows serial layer against simulators on the Linux side of Wine,
// started and mapped to COM ports by tools/windows/test-wine.sh:
//   KP33_COM1_TRACE    trace of the simulator behind COM1, which traces opens
//   KP33_COM1_CONTROL  its control FIFO
//   KP33_COM2_CONTROL  control FIFO of the simulator behind COM2, which
//                      vanishes in the middle of a burst
// Both are Windows paths (Z:...).

#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "sensorbus/txrx.h"
#include "support/testsupport.h"

#include <QtTest>
#include <memory>
#include <vector>

using namespace kp33;

namespace {

int traced(const QString &trace, const QByteArray &line)
{
    QFile f(trace);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    int n = 0;
    for (const QByteArray &l : f.readAll().split('\n'))
        n += l.trimmed() == line;
    return n;
}

int opensTraced(const QString &trace) { return traced(trace, "OPEN"); }

bool tell(const QString &control, const QByteArray &line)
{
    QFile ctl(control);
    return ctl.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && ctl.write(line + '\n') == line.size() + 1;
}

bool openAt9600(const char *name)
{
    PurgeCOM();
    CloseCOM();
    if (!OpenCOM(name))
        return false;
    SetCOMTo(-1, 0, 0, 0, 0);
    SetModCOM(9600, 8, 0, 2, 1, 0);
    return true;
}

} // namespace

class TestComPort : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void probeOpensNothing();
    void ownCancelIsNotGone();
    void adapterVanishingMidBurst();

private:
    std::unique_ptr<test::FakeClock> m_clock;
    std::unique_ptr<test::ClockScope> m_scope;
};

void TestComPort::init()
{
    m_clock = std::make_unique<test::FakeClock>();
    m_scope = std::make_unique<test::ClockScope>(m_clock.get());
    resetPortPaths();
}

void TestComPort::cleanup()
{
    CloseCOM();
    resetPortPaths();
    m_scope.reset();
    m_clock.reset();
}

void TestComPort::probeOpensNothing()
{
    const QString trace = qEnvironmentVariable("KP33_COM1_TRACE");
    if (trace.isEmpty())
        QSKIP("needs the simulators of tools/windows/test-wine.sh");
    const int before = opensTraced(trace);
    QCOMPARE(before, 0);
    // As KP33.ini's [PORTS] maps them.
    setPortPath(2, "COM250");
    setPortPath(3, "COM1");
    setPortPath(4, "\\\\.\\COM1");
    QVERIFY(AccessCOM("COM1"));
    QVERIFY(!AccessCOM("COM2"));
    QVERIFY(AccessCOM("COM3"));
    QVERIFY(AccessCOM("COM4"));
    QVERIFY(!AccessCOM("COM5")); // not one of the menu's ports
    // The simulator traces events in order, so once the open below shows,
    // an open by the probe would have shown before it.
    QVERIFY(openAt9600("COM1"));
    QTRY_VERIFY_WITH_TIMEOUT(opensTraced(trace) > before, 5000);
    QCOMPARE(opensTraced(trace), before + 1);
    // The port works after the probe, and a port that is open stays present.
    QVERIFY(OWReset());
    QVERIFY(AccessCOM("COM1"));
}

void TestComPort::ownCancelIsNotGone()
{
    const QString trace = qEnvironmentVariable("KP33_COM1_TRACE");
    const QString control = qEnvironmentVariable("KP33_COM1_CONTROL");
    if (trace.isEmpty() || control.isEmpty())
        QSKIP("needs the simulators of tools/windows/test-wine.sh");
    QVERIFY(openAt9600("COM1"));
    // The adapter stops taking characters, as a driver that never drains.
    QVERIFY(tell(control, "fault stall on"));
    QTRY_COMPARE_WITH_TIMEOUT(traced(trace, "FAULT stall on"), 1, 5000);
    // More than the pseudo-terminal holds: the write is still under way at
    // its bound and is cancelled. What went before the cancel is reported,
    // and the cancel alone does not make the port gone.
    std::vector<std::uint8_t> burst(1 << 20, 0xFF);
    const std::uint32_t sent = TxDataCOM(burst.data(), static_cast<std::uint32_t>(burst.size()));
    QVERIFY2(sent > 0 && sent < burst.size(), qPrintable(QString::number(sent)));
    QVERIFY(PortAlive());
    // Draining again, the port works on.
    QVERIFY(tell(control, "fault stall off"));
    QTRY_COMPARE_WITH_TIMEOUT(traced(trace, "FAULT stall off"), 1, 5000);
    QVERIFY(OWReset());
    QVERIFY(PortAlive());
}

void TestComPort::adapterVanishingMidBurst()
{
    const QString control = qEnvironmentVariable("KP33_COM2_CONTROL");
    if (control.isEmpty())
        QSKIP("needs the simulators of tools/windows/test-wine.sh");
    QVERIFY(openAt9600("COM2"));
    std::uint8_t pad[8];
    // The simulator goes in the middle of a burst of one of these readings.
    int good = 0;
    for (int i = 0; i < 20 && PortAlive(); ++i)
        good += ReadScratchpad(pad);
    QVERIFY(good >= 1);
    // The status request found it gone; every call after that returns
    // within its deadline (fake time), without a crash.
    QVERIFY(!PortAlive());
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t t0 = m_clock->elapsedMs();
        QVERIFY(!ReadScratchpad(pad));
        QVERIFY(m_clock->elapsedMs() - t0 <= busTimeoutMs + 1);
        QVERIFY(!OWReset());
    }
    QVERIFY(!SetModCOM(115200, 8, 0, 0, 1, 0));
    QVERIFY(!PurgeCOM());

    // The adapter comes back (a new device node behind the same COM2): an
    // open, as choosing the port again does, makes it work again.
    QVERIFY(tell(control, "plug"));
    QTRY_VERIFY_WITH_TIMEOUT(openAt9600("COM2"), 5000);
    QVERIFY(PortAlive());
    QVERIFY(ReadScratchpad(pad));
}

QTEST_GUILESS_MAIN(TestComPort)
#include "tst_comport.moc"
