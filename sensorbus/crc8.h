#pragma once
#include <cstdint>

namespace kp33 {

// Dallas/Maxim 1-Wire CRC-8: x^8 + x^5 + x^4 + 1, reflected (0x8C), initial 0,
// no final inversion. Shared with the simulator, which must agree bit for bit.
constexpr std::uint8_t crc8Update(std::uint8_t crc, std::uint8_t b) noexcept
{
    for (int i = 0; i < 8; ++i) {
        if ((crc ^ b) & 1)
            crc = static_cast<std::uint8_t>(((crc ^ 0x18) >> 1) | 0x80);
        else
            crc = static_cast<std::uint8_t>(crc >> 1);
        b = static_cast<std::uint8_t>(b >> 1);
    }
    return crc;
}

} // namespace kp33
