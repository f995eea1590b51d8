// The 1-Wire link over a real pseudo-terminal against the sensor simulator.

#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "sensorbus/txrx.h"
#include "support/testsupport.h"

#include <QtTest>
#include <cmath>
#include <memory>

using namespace kp33;
using kp33::test::SensorSim;
using kp33::test::openPort;

namespace {

bool readRom(std::uint8_t rom[8])
{
    if (!OWReset())
        return false;
    OWWriteByte(cmdReadRom);
    CRC8 = 0;
    for (int i = 0; i < 8; ++i) {
        rom[i] = OWReadByte();
        CRC8Add(rom[i]);
    }
    return CRC8 == 0;
}

} // namespace

class TestTxRx : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void presence_data();
    void presence();
    void readRomPerFamily_data();
    void readRomPerFamily();
    void scratchpadPerFamily_data();
    void scratchpadPerFamily();
    void exactBusSequence();
    void writeScratchpadCopiesOnlyWhenReadBackMatches_data();
    void writeScratchpadCopiesOnlyWhenReadBackMatches();
    void writeWithoutPresenceSendsNothing();
    void lineHeldLowIsNoReading();

    void slotsAt115200AfterResetEchoLost();
    void lostEchoesTimeOutWithinDeadline();
    void oneLostEchoFailsItsWholeExchange_data();
    void oneLostEchoFailsItsWholeExchange();
    void lateEchoNeverShiftsABit();
    void crcErrorsAreCaught();
    void vanishingDeviceNeitherCrashesNorHangs();
    void unplugAndReplug();
    void deadlineAcrossTickWrap();

private:
    std::unique_ptr<test::FakeClock> m_clock;
    std::unique_ptr<test::ClockScope> m_scope;
};

void TestTxRx::init()
{
    m_clock = std::make_unique<test::FakeClock>();
    m_scope = std::make_unique<test::ClockScope>(m_clock.get());
    SensorType = stUnknown;
}

void TestTxRx::cleanup()
{
    CloseCOM();
    m_scope.reset();
    m_clock.reset();
}

void TestTxRx::presence_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("present");
    QTest::newRow("sensor") << QStringList{} << true;
    QTest::newRow("no device echoes 0xF0") << QStringList{"--no-device"} << false;
    QTest::newRow("line held low counts as presence") << QStringList{"--line-low"} << true;
}

void TestTxRx::presence()
{
    QFETCH(QStringList, args);
    QFETCH(bool, present);
    SensorSim sim(args);
    QVERIFY(sim.started());
    QVERIFY(openPort());
    QCOMPARE(OWReset(), present);
    QCOMPARE(OWReset(), present);
    QCOMPARE(sim.errors(), QString());
    // No real device echoes 0xF0 unchanged: without one, the reset still came back in time.
    QVERIFY(m_clock->elapsedMs() < busTimeoutMs);
}

void TestTxRx::readRomPerFamily_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("highSerial"); // bytes 6:5 >= 8 tell a DS18S20 from a DS1820
    QTest::newRow("DS18B20") << "ds18b20" << 0x28 << false;
    QTest::newRow("DS18S20") << "ds18s20" << 0x10 << true;
    QTest::newRow("DS1820") << "ds1820" << 0x10 << false;
}

void TestTxRx::readRomPerFamily()
{
    QFETCH(QString, family);
    QFETCH(int, code);
    QFETCH(bool, highSerial);
    SensorSim sim({"--family", family});
    QVERIFY(openPort());
    std::uint8_t rom[8];
    QVERIFY(readRom(rom));
    QCOMPARE(int(rom[0]), code);
    if (code == 0x10)
        QCOMPARE(rom[6] * 256 + rom[5] >= 8, highSerial);

    SensorSim given({"--rom", "28FF0102030405" + QString("%1").arg(0, 2, 16, QChar('0'))});
    // A code given on the command line is sent as given, wrong CRC and all.
    QVERIFY(openPort());
    QVERIFY(!readRom(rom));
    QCOMPARE(int(rom[0]), 0x28);
    QCOMPARE(int(rom[6]), 0x05);
}

void TestTxRx::scratchpadPerFamily_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("raw");         // bytes 1:0
    QTest::addColumn<int>("countRemain"); // byte 6
    QTest::addColumn<int>("countPerC");   // byte 7
    QTest::newRow("DS18B20 25.0625") << QStringList{"--family", "ds18b20", "--temp", "25.0625"} << 0x0191 << 0x0C << 0x10;
    QTest::newRow("DS18B20 -10.125") << QStringList{"--family", "ds18b20", "--temp", "-10.125"} << 0xFF5E << 0x0C << 0x10;
    QTest::newRow("DS18B20 -55") << QStringList{"--family", "ds18b20", "--temp", "-55"} << 0xFC90 << 0x0C << 0x10;
    QTest::newRow("DS18B20 125") << QStringList{"--family", "ds18b20", "--temp", "125"} << 0x07D0 << 0x0C << 0x10;
    QTest::newRow("DS18B20 9-bit") << QStringList{"--family", "ds18b20", "--resolution", "9", "--temp", "25.4"} << 0x0198 << 0x0C << 0x10;
    QTest::newRow("DS18B20 power-on 85") << QStringList{"--family", "ds18b20", "--power-on-85"} << 0x0550 << 0x0C << 0x10;
    // 0x10 family: TEMP_READ - 0.25 + (16 - COUNT_REMAIN) / 16.
    QTest::newRow("DS18S20 25.375") << QStringList{"--family", "ds18s20", "--temp", "25.375"} << 0x0033 << 6 << 16;
    QTest::newRow("DS18S20 -10.5") << QStringList{"--family", "ds18s20", "--temp", "-10.5"} << 0xFFEB << 4 << 16;
    QTest::newRow("DS1820 0") << QStringList{"--family", "ds1820", "--temp", "0"} << 0x0000 << 12 << 16;
}

void TestTxRx::scratchpadPerFamily()
{
    QFETCH(QStringList, args);
    QFETCH(int, raw);
    QFETCH(int, countRemain);
    QFETCH(int, countPerC);
    SensorSim sim(args);
    QVERIFY(openPort());
    std::uint8_t l = 0, h = 0, cr = 0, cpc = 0;
    QVERIFY(ReadTempBytes(l, h, cr, cpc));
    QCOMPARE(h * 256 + l, raw);
    QCOMPARE(int(cr), countRemain);
    QCOMPARE(int(cpc), countPerC);
    const bool extended = args.contains("ds18s20") || args.contains("ds1820");

    std::uint8_t th, tl, config;
    QVERIFY(ReadAlarmBytes(th, tl, config));
    QCOMPARE(int(th), 0x4B);
    QCOMPARE(int(tl), 0x46);
    if (extended)
        QCOMPARE(int(config), 0xFF);
    QCOMPARE(sim.errors(), QString());
}

void TestTxRx::exactBusSequence()
{
    SensorSim sim({"--family", "ds18b20", "--temp", "25.0625"});
    QVERIFY(openPort());
    std::uint8_t pad[8];
    QVERIFY(ReadScratchpad(pad));
    const QStringList t = sim.trace();
    QVERIFY(t.size() >= 12);
    QCOMPARE(t[0], QStringLiteral("RESET rate=9600 presence=1"));
    QCOMPARE(t[1], QStringLiteral("ROM 0xCC"));
    QCOMPARE(t[2], QStringLiteral("CMD 0xBE"));
    QCOMPARE(t[3], QStringLiteral("OUT 0x91"));
    QCOMPARE(t[4], QStringLiteral("OUT 0x01"));
    QCOMPARE(sim.trace("OUT").size(), 9);
    QCOMPARE(sim.errors(), QString());
}

void TestTxRx::writeScratchpadCopiesOnlyWhenReadBackMatches_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("config");
    QTest::addColumn<QString>("copy"); // expected COPY line, empty for none
    QTest::newRow("DS18B20 12 bit") << "ds18b20" << int(stDS18B20) << 0x7F << "COPY th=0x4B tl=0x46 config=0x7F";
    QTest::newRow("DS18B20 9 bit") << "ds18b20" << int(stDS18B20) << 0x1F << "COPY th=0x4B tl=0x46 config=0x1F";
    // Only bits 5 and 6 are writable: 0x00 reads back as 0x1F, so no copy.
    QTest::newRow("DS18B20 config not read back") << "ds18b20" << int(stDS18B20) << 0x00 << "";
    // The 0x10 family has no configuration: 0xFF goes out and matches byte 4.
    QTest::newRow("DS18S20") << "ds18s20" << int(stDS18S20) << 0x7F << "COPY th=0x4B tl=0x46 config=0xFF";
    QTest::newRow("DS1820") << "ds1820" << int(stDS1820) << 0x00 << "COPY th=0x4B tl=0x46 config=0xFF";
}

void TestTxRx::writeScratchpadCopiesOnlyWhenReadBackMatches()
{
    QFETCH(QString, family);
    QFETCH(int, type);
    QFETCH(int, config);
    QFETCH(QString, copy);
    SensorSim sim({"--family", family, "--th", "20", "--tl", "10"});
    QVERIFY(openPort());
    SensorType = static_cast<TSensorType>(type);
    const std::uint64_t sleptBefore = m_clock->sleptMs();
    WriteScratchpad(0x4B, 0x46, static_cast<std::uint8_t>(config));

    const QStringList t = sim.trace();
    const int write = t.indexOf("CMD 0x4E");
    QVERIFY(write >= 0);
    QCOMPARE(t[write + 1], QStringLiteral("IN 0x4B"));
    QCOMPARE(t[write + 2], QStringLiteral("IN 0x46"));
    if (type == stDS18B20)
        QCOMPARE(t[write + 3], QString("IN 0x%1").arg(config, 2, 16, QChar('0')).toUpper().replace("0X", "0x"));
    const QStringList copies = sim.trace("COPY");
    if (copy.isEmpty()) {
        QVERIFY(copies.isEmpty());
        QCOMPARE(m_clock->sleptMs(), sleptBefore);
    } else {
        QCOMPARE(copies, QStringList{copy});
        QCOMPARE(m_clock->sleptMs() - sleptBefore, 10u); // the EEPROM write time
    }
    QCOMPARE(sim.errors(), QString());
}

void TestTxRx::writeWithoutPresenceSendsNothing()
{
    SensorSim sim({"--no-device"});
    QVERIFY(openPort());
    SensorType = stDS18B20;
    WriteScratchpad(0x4B, 0x46, 0x7F);
    // Two unanswered resets (write, read-back) and not one slot.
    QCOMPARE(sim.trace("RESET").size(), 2);
    QCOMPARE(sim.trace().filter(QRegularExpression("^(ROM|CMD|IN|COPY)")), QStringList{});
}

void TestTxRx::lineHeldLowIsNoReading()
{
    SensorSim sim({"--line-low"});
    QVERIFY(openPort());
    QVERIFY(OWReset()); // 0x00 differs from 0xF0: "presence"
    QCOMPARE(OWReadByte(), std::uint8_t(0x00));
    std::uint8_t pad[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    // Nine zero bytes carry a matching CRC; they must still not count as a reading.
    QVERIFY(!ReadScratchpad(pad));
    std::uint8_t l, h, cr, cpc;
    QVERIFY(!ReadTempBytes(l, h, cr, cpc));
}

void TestTxRx::slotsAt115200AfterResetEchoLost()
{
    // A reset whose echo never came must still leave the port at the slot
    // rate: a slot sent at 9600 bit/s would reach the sensor as a reset.
    SensorSim sim({"--lost-echo-rate", "1"});
    QVERIFY(openPort());
    QVERIFY(!OWReset());
    QCOMPARE(OWReadByte(), std::uint8_t(0xFF));
    QCOMPARE(sim.trace("RESET"), QStringList{"RESET rate=9600 presence=1"});
    QVERIFY(sim.trace("FAULT lost-echo").size() >= 2); // the reset and a slot arrived
    // The slots reached the sensor as a (meaningless) ROM command, none as a
    // character at the wrong rate.
    QCOMPARE(sim.trace("ERROR").filter("rate="), QStringList{});
    QCOMPARE(sim.trace("ERROR"), QStringList{"ERROR unknown ROM command 0xFF"});
}

void TestTxRx::lostEchoesTimeOutWithinDeadline()
{
    SensorSim sim({"--lost-echo-rate", "1", "--seed", "1"});
    QVERIFY(openPort());

    std::uint64_t t0 = m_clock->elapsedMs();
    QVERIFY(!OWReset());
    QVERIFY(m_clock->elapsedMs() - t0 <= busTimeoutMs + 1);

    t0 = m_clock->elapsedMs();
    QCOMPARE(OWReadByte(), std::uint8_t(0xFF));
    QVERIFY(m_clock->elapsedMs() - t0 >= busTimeoutMs);
    QVERIFY(m_clock->elapsedMs() - t0 <= busTimeoutMs + 1);

    // An exchange of eleven bytes is given up at the first byte that times
    // out: one deadline, not eleven.
    t0 = m_clock->elapsedMs();
    const std::uint8_t command[] = {cmdSkipRom, cmdReadScratchpad};
    std::uint8_t reply[9] = {};
    QVERIFY(!OWBlock(command, 2, reply, 9));
    QVERIFY(m_clock->elapsedMs() - t0 <= busTimeoutMs + 1);
    for (std::uint8_t b : reply)
        QCOMPARE(b, std::uint8_t(0xFF));

    std::uint8_t pad[8];
    QVERIFY(!ReadScratchpad(pad));
}

// Characters of one reading, counted as the simulator sees them: 1 the reset,
// 2..17 Skip ROM and Read Scratchpad, 18..89 the nine reply bytes.
void TestTxRx::oneLostEchoFailsItsWholeExchange_data()
{
    QTest::addColumn<int>("lost");
    QTest::newRow("reset") << 1;
    QTest::newRow("Skip ROM, first slot") << 2;
    QTest::newRow("Read Scratchpad, last slot") << 17;
    QTest::newRow("reply byte 3, middle slot") << 45;
    QTest::newRow("CRC byte, last slot") << 89;
}

void TestTxRx::oneLostEchoFailsItsWholeExchange()
{
    QFETCH(int, lost);
    SensorSim sim({"--temp", "25.0625", "--lose-echo", QString::number(lost)});
    QVERIFY(openPort());
    const std::uint64_t t0 = m_clock->elapsedMs();
    const bool present = OWReset();
    QCOMPARE(present, lost != 1);
    if (present) {
        // Every later echo of the burst came, one short: no reply byte can be
        // told from its neighbour, so none is taken.
        const std::uint8_t command[] = {cmdSkipRom, cmdReadScratchpad};
        std::uint8_t reply[9] = {};
        QVERIFY(!OWBlock(command, 2, reply, 9));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(reply), 9), QByteArray(9, '\xFF'));
    }
    QVERIFY(m_clock->elapsedMs() - t0 <= busTimeoutMs + 1);
    QCOMPARE(sim.trace("FAULT lost-echo").size(), 1);

    // The next reading is whole and right: nothing of the short burst is left over.
    std::uint8_t l = 0, h = 0, cr = 0, cpc = 0;
    QVERIFY(ReadTempBytes(l, h, cr, cpc));
    QCOMPARE(h * 256 + l, 0x0191);
    QCOMPARE(sim.errors(), QString());
}

void TestTxRx::lateEchoNeverShiftsABit()
{
    // Reply byte 3's middle echo comes a second after its byte's deadline,
    // long after the fake clock has given the exchange up.
    SensorSim sim({"--temp", "25.0625", "--late-echo", "45", "--late-ms", "1000"});
    QVERIFY(openPort());
    std::uint8_t pad[8];
    QVERIFY(!ReadScratchpad(pad));
    QVERIFY(OWReset());
    QTRY_COMPARE_WITH_TIMEOUT(sim.trace("FAULT late-echo sent").size(), 1, 10000);

    // The stale echo now waits in the input, in front of the next exchange's
    // own: taken for one of them, it would shift every bit after it and the
    // CRC would fail.
    const std::uint8_t command[] = {cmdSkipRom, cmdReadScratchpad};
    std::uint8_t reply[9] = {};
    QVERIFY(OWBlock(command, 2, reply, 9));
    QCOMPARE(reply[1] * 256 + reply[0], 0x0191);
    CRC8 = 0;
    for (std::uint8_t b : reply)
        CRC8Add(b);
    QCOMPARE(int(CRC8), 0);
    QCOMPARE(sim.errors(), QString());
}

void TestTxRx::crcErrorsAreCaught()
{
    SensorSim sim({"--crc-error-rate", "1", "--seed", "7"});
    QVERIFY(openPort());
    std::uint8_t pad[8];
    for (int i = 0; i < 5; ++i)
        QVERIFY(!ReadScratchpad(pad));
    std::uint8_t rom[8];
    QVERIFY(!readRom(rom));
    QVERIFY(sim.trace("FAULT crc").size() >= 6);

    // At a partial rate every read the simulator did not corrupt is good and
    // every corrupted one is refused.
    SensorSim partial({"--crc-error-rate", "0.3", "--seed", "3", "--temp", "21.5"});
    QVERIFY(openPort());
    int good = 0;
    for (int i = 0; i < 40; ++i) {
        const int mark = partial.traceLines();
        std::uint8_t l, h, cr, cpc;
        const bool ok = ReadTempBytes(l, h, cr, cpc);
        QCOMPARE(ok, partial.trace("FAULT crc", mark).isEmpty());
        if (ok) {
            ++good;
            QCOMPARE(h * 256 + l, 0x0158);
        }
    }
    QVERIFY(good > 0 && good < 40);
}

void TestTxRx::vanishingDeviceNeitherCrashesNorHangs()
{
    SensorSim sim({"--vanish-after", "1"});
    QVERIFY(openPort());
    std::uint8_t pad[8];
    QVERIFY(ReadScratchpad(pad));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(sim.port()), 5000);
    // Every later call returns within its deadline (fake time), without a crash.
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t t0 = m_clock->elapsedMs();
        QVERIFY(!ReadScratchpad(pad));
        QVERIFY(m_clock->elapsedMs() - t0 <= busTimeoutMs + 1);
        OWWriteByte(0xCC);
        QCOMPARE(OWReadByte(), std::uint8_t(0xFF));
    }
    QVERIFY(!PortAlive());
}

void TestTxRx::unplugAndReplug()
{
    SensorSim sim({"--unplug-after", "2", "--replug-after", "3"});
    QVERIFY(openPort());
    std::uint8_t pad[8];
    QVERIFY(ReadScratchpad(pad));
    QVERIFY(ReadScratchpad(pad));
    for (int i = 0; i < 3; ++i)
        QVERIFY(!ReadScratchpad(pad)); // unplugged: no presence
    QVERIFY(ReadScratchpad(pad));
    QCOMPARE(sim.trace("FAULT unplug").size(), 1);
    QCOMPARE(sim.trace("FAULT plug").size(), 1);

    // A vanished adapter that comes back is a new device node: open it again.
    SensorSim gone({"--vanish-after", "1", "--control", QDir::temp().filePath("kp33-ctl-" + QString::number(QCoreApplication::applicationPid()))});
    QVERIFY(openPort());
    QVERIFY(ReadScratchpad(pad));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(gone.port()), 5000);
    QVERIFY(!ReadScratchpad(pad));
    {
        QFile ctl(QDir::temp().filePath("kp33-ctl-" + QString::number(QCoreApplication::applicationPid())));
        QVERIFY(ctl.open(QIODevice::WriteOnly));
        ctl.write("plug\n");
    }
    const QString newPort = gone.nextPortLine();
    QVERIFY(!newPort.isEmpty());
    setPortPath(1, newPort.toStdString());
    QVERIFY(openPort());
    QVERIFY(PortAlive());
    QVERIFY(ReadScratchpad(pad));
}

void TestTxRx::deadlineAcrossTickWrap()
{
    // A deadline that straddles the tick count's wrap neither fires at once nor never.
    test::FakeClock nearWrap(QDateTime(QDate(2026, 12, 7), QTime(12, 0)), 0xFFFFFFFFu - 20);
    setClock(&nearWrap);
    SensorSim sim({"--lost-echo-rate", "1"});
    QVERIFY(openPort());
    QCOMPARE(OWReadByte(), std::uint8_t(0xFF));
    QVERIFY(nearWrap.elapsedMs() >= busTimeoutMs);
    QVERIFY(nearWrap.elapsedMs() <= busTimeoutMs + 1);
    setClock(m_clock.get());
}

QTEST_GUILESS_MAIN(TestTxRx)
#include "tst_txrx.moc"
