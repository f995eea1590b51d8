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

// The two values of a pair stay at least a degree apart. Both are decimal
// entries held in binary, so "exactly one degree" can come out a few units of
// the last place short (-15.8 - -16.8); such a pair is a degree apart, in the
// edits and when the settings are read back alike.
inline bool closerThanADegree(long double lo, long double hi)
{
    constexpr long double Slack = 1e-9L; // far below the entries' 0.001
    return hi - lo < 1 - Slack;
}

} // namespace kp33
