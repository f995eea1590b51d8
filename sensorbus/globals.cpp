#include "sensorbus/globals.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cmath>
#include <cstdio>

namespace kp33 {

std::atomic<TSensorType> SensorType{stUnknown};
std::atomic<bool> SensorFound{false};
std::atomic<std::uint32_t> SensorROM[2]{{0}, {0}};
std::atomic<bool> IsWinNT{true};

namespace {

struct Folders {
    QString program;
    QString settings;
    QString dataParent;
    bool user = false;
};

Folders &folders()
{
    static Folders f;
    return f;
}

QString withSlash(QString dir)
{
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

// The user's own folder of that kind for this program; the program folder
// when the system names none.
QString userFolder(QStandardPaths::StandardLocation kind, const QString &fallback)
{
    const QString base = QStandardPaths::writableLocation(kind);
    return base.isEmpty() ? fallback : withSlash(base) + QStringLiteral("KP33/");
}

} // namespace

QString programDir() { return folders().program; }
QString settingsDir() { return folders().settings; }
QString dataParentDir() { return folders().dataParent; }
bool userFolders() { return folders().user; }

void setProgramDir(const QString &dir, bool writable)
{
    Folders &f = folders();
    f.program = withSlash(dir);
    f.user = !writable;
    if (writable) {
        f.settings = f.dataParent = f.program;
        return;
    }
    // Generic locations, not the application ones: those would add the
    // organisation and program names Qt was given, and on Windows both
    // generic ones are %LOCALAPPDATA%, as the user expects.
    f.settings = userFolder(QStandardPaths::GenericConfigLocation, f.program);
    f.dataParent = userFolder(QStandardPaths::GenericDataLocation, f.program);
    // Made here, once: what then fails is reported where the folder is used
    // (DATA/ cannot be made, KP33.ini cannot be written), with its name.
    QDir().mkpath(f.settings);
    QDir().mkpath(f.dataParent);
}

bool FolderWritable(const QString &dir)
{
    // A random name, made exclusively: a probe left behind by a crash never
    // makes a writable folder look read-only.
    QTemporaryFile probe(withSlash(dir) + QStringLiteral("KP33-probe-XXXXXX.tmp"));
    if (!probe.open())
        return false;
    probe.close();
    return probe.remove();
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
