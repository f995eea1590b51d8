#pragma once
// The 1-Wire bus master made of UART characters: a reset is one character at
// 9600 bit/s, every bit slot one character at 115200 bit/s, and the adapter
// echoes each character with whatever the devices did to the line.
//
// Not reentrant: one exchange on the bus at a time, and CRC8 is one shared
// accumulator. The session hands the bus between the main thread and the
// measurement thread, never using it from both at once.

#include <cstddef>
#include <cstdint>

#include "sensorbus/globals.h"

namespace kp33 {

inline constexpr std::uint8_t cmdReadRom = 0x33;
inline constexpr std::uint8_t cmdSkipRom = 0xCC;
inline constexpr std::uint8_t cmdConvertT = 0x44;
inline constexpr std::uint8_t cmdReadScratchpad = 0xBE;
inline constexpr std::uint8_t cmdWriteScratchpad = 0x4E;
inline constexpr std::uint8_t cmdCopyScratchpad = 0x48;

// Per-reset and per-byte echo deadline, in ms.
inline constexpr std::uint32_t busTimeoutMs = 50;
// The longest exchange sent as one burst: Write Scratchpad's five bytes, or
// Read Scratchpad's two and its nine reply bytes, with room to spare.
inline constexpr std::size_t maxBlockBytes = 16;

extern std::uint8_t CRC8;

bool OWReset();
// One exchange on the bus: the write slots of the command bytes and then the
// read slots of replyLength bytes go out in one write, and their echoes are
// read back together, so a USB adapter's echo latency is paid once per
// exchange, not once per slot. Every byte keeps its own deadline, counted
// from when the byte before it was complete. True when every echo came back
// in time; otherwise the rest of the exchange is given up and every reply
// byte reads 0xFF (a short burst cannot tell which slot lost its echo, so
// none of its bits is trusted).
bool OWBlock(const std::uint8_t *command, std::size_t commandLength, std::uint8_t *reply,
             std::size_t replyLength);
void OWWriteByte(std::uint8_t b);
// 0xFF when the byte timed out.
std::uint8_t OWReadByte();
void CRC8Add(std::uint8_t b);

// Folds count bytes, the last being the CRC of the others, into a fresh
// CRC8: true when they fold to 0 and are not all zero (a line held low reads
// as zero bytes, whose CRC matches, but no DS18x20 sends them).
bool CrcChecked(const std::uint8_t *bytes, std::size_t count);

// Presence and a valid ROM code (family, serial number, CRC) in rom.
bool ReadRom(std::uint8_t rom[8]);
// The sensor type a valid ROM code names: the family byte, and for family
// 0x10 the serial number, which tells the old DS1820 (below 8 in bytes 5
// and 6) from the DS18S20.
TSensorType SensorFamily(const std::uint8_t rom[8]);

// Presence and a matching CRC. A scratchpad of nine zero bytes (a line held
// low) is refused although its CRC matches: no DS18x20 sends it.
bool ReadScratchpad(std::uint8_t buffer[8]);
// Scratchpad bytes 0, 1, 6, 7.
bool ReadTempBytes(std::uint8_t &l, std::uint8_t &h, std::uint8_t &countRemain,
                   std::uint8_t &countPerC);
// Scratchpad bytes 2, 3, 4.
bool ReadAlarmBytes(std::uint8_t &th, std::uint8_t &tl, std::uint8_t &config);
// Writes TH, TL and the configuration, reads them back and copies them into
// the sensor's EEPROM only when they read back as written.
void WriteScratchpad(std::uint8_t th, std::uint8_t tl, std::uint8_t config);
// A DS18B20 found by the search is set to 12-bit resolution, TH and TL kept;
// written only when needed so that its EEPROM is not worn by every start.
// Nothing on the bus for the other types.
void SetFullResolution();

constexpr std::uint32_t PackBytes(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3,
                                  std::uint8_t b4)
{
    return (std::uint32_t(b1) << 24) | (std::uint32_t(b2) << 16) | (std::uint32_t(b3) << 8) |
           std::uint32_t(b4);
}

} // namespace kp33
