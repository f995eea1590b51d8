#include "sensorbus/txrx.h"

#include "sensorbus/clock.h"
#include "sensorbus/comport.h"
#include "sensorbus/crc8.h"
#include "sensorbus/globals.h"

#include <array>
#include <iterator>

namespace kp33 {

std::uint8_t CRC8 = 0;

namespace {

// Waits for the first `want` echoes of a burst of `sent` characters, reading
// whatever else of the burst has come. t0 is where the deadline counts from;
// the unsigned difference keeps it right across the tick count's wrap.
bool awaitEchoes(std::uint32_t t0, std::uint8_t *echoes, std::uint32_t sent, std::uint32_t &got,
                 std::uint32_t want)
{
    for (;;) {
        std::uint32_t n = 0;
        if (got < sent && RxDataCOM(echoes + got, sent - got, &n))
            got += n;
        if (got >= want)
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
    std::uint32_t got = 0;
    const bool answered = awaitEchoes(theClock().tickCount(), &echo, 1, got, 1);
    SetModCOM(115200, 8, 0, 0, 1, 0);
    // A presence pulse pulls the line low during the character's high part.
    return answered && echo != 0xF0;
}

bool OWBlock(const std::uint8_t *command, std::size_t commandLength, std::uint8_t *reply,
             std::size_t replyLength)
{
    for (std::size_t i = 0; i < replyLength; ++i)
        reply[i] = 0xFF;
    const std::size_t bytes = commandLength + replyLength;
    if (bytes == 0 || bytes > maxBlockBytes)
        return false;

    // 0xFF is the start bit alone (a 1, or a read slot); 0x00 holds the line
    // low for the whole character (a 0). Least significant bit first.
    std::array<std::uint8_t, 8 * maxBlockBytes> slotChars;
    std::array<std::uint8_t, 8 * maxBlockBytes> echoes;
    slotChars.fill(0xFF);
    for (std::size_t i = 0; i < commandLength; ++i)
        for (int bit = 0; bit < 8; ++bit)
            slotChars[8 * i + bit] = (command[i] >> bit) & 1 ? 0xFF : 0x00;

    // An echo of an earlier exchange that came late must not pass for one of these.
    PurgeCOM();
    std::uint32_t t0 = theClock().tickCount();
    const auto count = static_cast<std::uint32_t>(8 * bytes);
    const std::uint32_t sent = TxDataCOM(slotChars.data(), count);
    std::uint32_t got = 0;
    for (std::uint32_t byte = 1; byte <= bytes; ++byte) {
        // Each byte has its own deadline, counted from when the one before it
        // was complete, as if its slots had been sent one by one.
        if (!awaitEchoes(t0, echoes.data(), sent, got, 8 * byte))
            return false;
        t0 = theClock().tickCount();
    }

    // A device sending 0 holds the line low past the start bit.
    for (std::size_t i = 0; i < replyLength; ++i) {
        std::uint8_t value = 0;
        for (int bit = 0; bit < 8; ++bit)
            value |= static_cast<std::uint8_t>((echoes[8 * (commandLength + i) + bit] & 1) << bit);
        reply[i] = value;
    }
    return true;
}

void OWWriteByte(std::uint8_t b) { OWBlock(&b, 1, nullptr, 0); }

std::uint8_t OWReadByte()
{
    std::uint8_t value = 0xFF;
    OWBlock(nullptr, 0, &value, 1);
    return value;
}

void CRC8Add(std::uint8_t b) { CRC8 = crc8Update(CRC8, b); }

bool CrcChecked(const std::uint8_t *bytes, std::size_t count)
{
    CRC8 = 0;
    bool allZero = true;
    for (std::size_t i = 0; i < count; ++i) {
        CRC8Add(bytes[i]);
        allZero = allZero && bytes[i] == 0;
    }
    return CRC8 == 0 && !allZero;
}

bool ReadRom(std::uint8_t rom[8])
{
    if (!OWReset())
        return false;
    // Read ROM and the eight code bytes in one burst; a burst that came back
    // short reads as 0xFF bytes, whose CRC fails.
    OWBlock(&cmdReadRom, 1, rom, 8);
    return CrcChecked(rom, 8);
}

TSensorType SensorFamily(const std::uint8_t rom[8])
{
    switch (rom[0]) {
    case 0x10: return rom[6] * 256 + rom[5] < 8 ? stDS1820 : stDS18S20;
    case 0x28: return stDS18B20;
    default: return stUnknown;
    }
}

bool ReadScratchpad(std::uint8_t buffer[8])
{
    if (!OWReset())
        return false;
    // The command and the nine reply bytes in one burst; a burst that came
    // back short reads as nine 0xFF bytes, which fail the CRC.
    const std::uint8_t command[] = {cmdSkipRom, cmdReadScratchpad};
    std::uint8_t data[9];
    OWBlock(command, std::size(command), data, std::size(data));
    if (!CrcChecked(data, std::size(data)))
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
        const std::uint8_t command[] = {cmdSkipRom, cmdWriteScratchpad, th, tl, config};
        OWBlock(command, std::size(command), nullptr, 0);
    }
    std::uint8_t rth, rtl, rconfig;
    if (ReadAlarmBytes(rth, rtl, rconfig) && rth == th && rtl == tl && rconfig == config &&
        OWReset()) {
        const std::uint8_t command[] = {cmdSkipRom, cmdCopyScratchpad};
        OWBlock(command, std::size(command), nullptr, 0);
        // The EEPROM write takes up to 10 ms; the bus must stay idle meanwhile.
        theClock().sleep(10);
    }
}

void SetFullResolution()
{
    if (SensorType.load() != stDS18B20)
        return;
    std::uint8_t th, tl, config;
    if (ReadAlarmBytes(th, tl, config) && (config & 0x60) != 0x60)
        WriteScratchpad(th, tl, static_cast<std::uint8_t>(config | 0x60));
}

} // namespace kp33
