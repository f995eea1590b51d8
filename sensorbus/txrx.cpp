#include "sensorbus/txrx.h"

#include "sensorbus/clock.h"
#include "sensorbus/comport.h"
#include "sensorbus/crc8.h"
#include "sensorbus/globals.h"

namespace kp33 {

std::uint8_t CRC8 = 0;

namespace {

// Polls for one echo character until t0 + busTimeoutMs has passed. The
// unsigned difference keeps the deadline right across the tick count's wrap.
bool awaitEcho(std::uint32_t t0, std::uint8_t &echo)
{
    for (;;) {
        std::uint32_t got = 0;
        if (RxDataCOM(&echo, 1, &got) && got == 1)
            return true;
        const std::uint32_t elapsed = theClock().tickCount() - t0;
        if (elapsed > busTimeoutMs)
            return false;
        WaitRxCOM(static_cast<int>(busTimeoutMs + 1 - elapsed));
    }
}

} // namespace

bool OWReset()
{
    SetModCOM(9600, 8, 0, 0, 1, 0);
    PurgeCOM();
    // At 9600 bit/s the start bit and the four low data bits of 0xF0 hold the
    // line low for about 520 µs: the reset pulse.
    TxByteCOM(0xF0);
    std::uint8_t echo = 0xF0;
    const bool answered = awaitEcho(theClock().tickCount(), echo);
    SetModCOM(115200, 8, 0, 0, 1, 0);
    // A presence pulse pulls the line low during the character's high part.
    return answered && echo != 0xF0;
}

void OWWriteByte(std::uint8_t b)
{
    PurgeCOM();
    const std::uint32_t t0 = theClock().tickCount();
    for (int i = 0; i < 8; ++i) {
        // 0xFF is the start bit alone (a 1); 0x00 holds the line low (a 0).
        TxByteCOM((b & 1) ? 0xFF : 0x00);
        std::uint8_t echo;
        if (!awaitEcho(t0, echo))
            return;
        b = static_cast<std::uint8_t>(b >> 1);
    }
}

std::uint8_t OWReadByte()
{
    PurgeCOM();
    const std::uint32_t t0 = theClock().tickCount();
    std::uint8_t value = 0xFF;
    for (int i = 0; i < 8; ++i) {
        TxByteCOM(0xFF);
        std::uint8_t echo;
        if (!awaitEcho(t0, echo))
            return 0xFF;
        // A device sending 0 holds the line low past the start bit.
        value = static_cast<std::uint8_t>((value >> 1) | ((echo & 1) << 7));
    }
    return value;
}

void CRC8Add(std::uint8_t b) { CRC8 = crc8Update(CRC8, b); }

bool ReadScratchpad(std::uint8_t buffer[8])
{
    if (!OWReset())
        return false;
    OWWriteByte(cmdSkipRom);
    OWWriteByte(cmdReadScratchpad);
    CRC8 = 0;
    std::uint8_t data[8];
    bool allZero = true;
    for (auto &b : data) {
        b = OWReadByte();
        CRC8Add(b);
        allZero = allZero && b == 0;
    }
    const std::uint8_t crc = OWReadByte();
    // A line held low reads as nine zero bytes, whose CRC matches; every
    // DS18x20 has reserved bytes that are never all zero, so this is no sensor.
    if (crc != CRC8 || (allZero && crc == 0))
        return false;
    for (int i = 0; i < 8; ++i)
        buffer[i] = data[i];
    return true;
}

bool ReadTempBytes(std::uint8_t &l, std::uint8_t &h, std::uint8_t &countRemain,
                   std::uint8_t &countPerC)
{
    std::uint8_t pad[8];
    if (!ReadScratchpad(pad))
        return false;
    l = pad[0];
    h = pad[1];
    countRemain = pad[6];
    countPerC = pad[7];
    return true;
}

bool ReadAlarmBytes(std::uint8_t &th, std::uint8_t &tl, std::uint8_t &config)
{
    std::uint8_t pad[8];
    if (!ReadScratchpad(pad))
        return false;
    th = pad[2];
    tl = pad[3];
    config = pad[4];
    return true;
}

void WriteScratchpad(std::uint8_t th, std::uint8_t tl, std::uint8_t config)
{
    // Only the DS18B20 has a configuration register; the others read 0xFF there.
    if (SensorType.load() != stDS18B20)
        config = 0xFF;
    if (OWReset()) {
        OWWriteByte(cmdSkipRom);
        OWWriteByte(cmdWriteScratchpad);
        OWWriteByte(th);
        OWWriteByte(tl);
        OWWriteByte(config);
    }
    std::uint8_t rth, rtl, rconfig;
    if (ReadAlarmBytes(rth, rtl, rconfig) && rth == th && rtl == tl && rconfig == config &&
        OWReset()) {
        OWWriteByte(cmdSkipRom);
        OWWriteByte(cmdCopyScratchpad);
        // The EEPROM write takes up to 10 ms; the bus must stay idle meanwhile.
        theClock().sleep(10);
    }
}

} // namespace kp33
