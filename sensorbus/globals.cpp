#include "sensorbus/globals.h"

#include <cmath>
#include <cstdio>

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
    QByteArray digits;
    const char *p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    const int exp10 = (*p == 'e') ? std::atoi(p + 1) : 0;

    // digits[i] is the digit of 10^(exp10 - i); keep those down to 10^-1.
    const int keep = exp10 + 2; // how many leading digits reach the tenths
    QByteArray tenths;          // |t| * 10, as a decimal integer
    for (int i = 0; i < keep; ++i)
        tenths += i < digits.size() ? digits[i] : '0';
    if (keep >= 0 && keep < digits.size() && digits[keep] >= '5') {
        int i = static_cast<int>(tenths.size()) - 1;
        for (; i >= 0 && tenths[i] == '9'; --i)
            tenths[i] = '0';
        if (i < 0)
            tenths.prepend('1');
        else
            ++tenths[i];
    }
    while (tenths.startsWith('0'))
        tenths.remove(0, 1);
    const bool zero = tenths.isEmpty();
    while (tenths.size() < 2)
        tenths.prepend('0');

    QByteArray out = (t < 0 && !zero) ? QByteArray("-") : QByteArray();
    out += tenths.left(tenths.size() - 1);
    out += '.';
    out += tenths.back();
    return QString::fromLatin1(out);
}

} // namespace kp33
