#include "sensorbus/globals.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace kp33 {

std::atomic<TSensorType> SensorType{stUnknown};
std::atomic<bool> SensorFound{false};
std::atomic<std::uint32_t> SensorROM[2]{{0}, {0}};
std::atomic<bool> IsWinNT{true};

namespace {
QString &programDirStorage()
{
    static QString dir;
    return dir;
}
} // namespace

QString programDir() { return programDirStorage(); }

void setProgramDir(const QString &dir)
{
    QString d = dir;
    if (!d.endsWith(QLatin1Char('/')))
        d += QLatin1Char('/');
    programDirStorage() = d;
}

QString TempToStr(long double t)
{
    if (std::isnan(t))
        return QStringLiteral("nan");
    if (std::isinf(t))
        return t < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");

    // Decimal rounding on the 18-digit text, not on the binary value: 22.25
    // and -10.125 are exact in binary and must still round away from zero.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17Le", std::fabs(t));
    std::string digits;
    const char *p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    const int exp10 = (*p == 'e') ? std::atoi(p + 1) : 0;

    // digits[i] is the digit of 10^(exp10 - i); keep those down to 10^-1.
    const int keep = exp10 + 2; // how many leading digits reach the tenths
    std::string tenths;         // |t| * 10, as a decimal integer
    if (keep > 0)
        for (int i = 0; i < keep; ++i)
            tenths += i < static_cast<int>(digits.size()) ? digits[i] : '0';
    if (tenths.empty())
        tenths = "0";
    if (keep >= 0 && keep < static_cast<int>(digits.size()) && digits[keep] >= '5') {
        int i = static_cast<int>(tenths.size()) - 1;
        for (; i >= 0 && tenths[i] == '9'; --i)
            tenths[i] = '0';
        if (i < 0)
            tenths.insert(tenths.begin(), '1');
        else
            ++tenths[i];
    }
    while (tenths.size() > 1 && tenths[0] == '0')
        tenths.erase(0, 1);
    if (tenths.size() < 2)
        tenths.insert(0, 2 - tenths.size(), '0');

    const bool zero = tenths.find_first_not_of('0') == std::string::npos;
    std::string out = (t < 0 && !zero) ? "-" : "";
    out += tenths.substr(0, tenths.size() - 1);
    out += '.';
    out += tenths.back();
    return QString::fromLatin1(out.c_str());
}

} // namespace kp33
