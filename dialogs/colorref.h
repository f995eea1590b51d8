#pragma once
// Colours are kept as 0x00BBGGRR values (red in the low byte), as stored in
// KP33.ini; these turn them into Qt colours and back.

#include <QColor>
#include <cstdint>

namespace kp33 {

inline QColor ColorFromRef(std::uint32_t c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

inline std::uint32_t RefFromColor(const QColor &c)
{
    return std::uint32_t(c.red()) | (std::uint32_t(c.green()) << 8) | (std::uint32_t(c.blue()) << 16);
}

} // namespace kp33
