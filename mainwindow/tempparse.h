#pragma once
// Temperatures typed into the bound and limit edits or read from KP33.ini.

#include <QString>
#include <optional>

namespace kp33 {

// Extended precision, like the values the result is compared with and rounded
// to: through a double, "0.15" became 0.1 instead of 0.2. A point is the
// decimal mark whatever the user's settings, and the whole text must be one
// finite number; anything else is nullopt.
std::optional<long double> parseTemp(const QString &text);

} // namespace kp33
