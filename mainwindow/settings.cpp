#include "mainwindow/settings.h"

#include "mainwindow/profilefile.h"
#include "mainwindow/tempparse.h"
#include "measurement/history.h"
#include "measurement/recording.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

namespace kp33 {

namespace {

const QString General = QStringLiteral("GENERAL");
const QString Colors = QStringLiteral("COLORS");
const QString Limits = QStringLiteral("LIMITS");
const QString Levels = QStringLiteral("LEVELS");
const QString Data = QStringLiteral("DATA");
const QString Ports = QStringLiteral("PORTS");

// The scale of the thermometer; a band must lie within it and span a degree.
constexpr long double ScaleLow = -55.0L;
constexpr long double ScaleHigh = 125.0L;

struct ColorKey {
    const char *name;
    std::uint32_t Settings::*member;
};
// File order.
constexpr ColorKey ColorKeys[] = {
    {"TempColor", &Settings::TempColor},   {"TempValueColor", &Settings::TempValueColor},
    {"NormalColor", &Settings::NormalColor}, {"StopColor", &Settings::StopColor},
    {"ErrorColor", &Settings::ErrorColor}, {"LoTColor", &Settings::LoTColor},
    {"HiTColor", &Settings::HiTColor},     {"LPTColor", &Settings::LPTColor},
    {"HPTColor", &Settings::HPTColor},
};

void report(const QString &line)
{
    std::fprintf(stderr, "KP33: %s\n", qUtf8Printable(line));
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16 && u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (base == 16 && u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Signed 32-bit decimal, or "$"/"0x" hex taken as a 32-bit pattern.
std::optional<std::int32_t> parseInt(QStringView t)
{
    int base = 10;
    qsizetype i = 0;
    bool negative = false;
    if (t.startsWith(u'$')) {
        base = 16;
        i = 1;
    } else if (t.startsWith(u"0x") || t.startsWith(u"0X")) {
        base = 16;
        i = 2;
    } else if (t.startsWith(u'+') || t.startsWith(u'-')) {
        negative = t[0] == u'-';
        i = 1;
    }
    if (i == t.size())
        return std::nullopt;
    std::uint64_t v = 0;
    for (; i < t.size(); ++i) {
        const int d = digitValue(t[i], base);
        if (d < 0)
            return std::nullopt;
        v = v * base + d;
        if (v > 0xFFFFFFFFu) // stops long digit strings before they overflow v
            return std::nullopt;
    }
    if (base == 16)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    if (negative)
        return v <= 0x80000000u ? std::optional(static_cast<std::int32_t>(-std::int64_t(v)))
                                : std::nullopt;
    return v <= 0x7FFFFFFFu ? std::optional(static_cast<std::int32_t>(v)) : std::nullopt;
}

std::int32_t readInt(const ProfileFile &f, const QString &sec, const char *key,
                     std::int32_t def)
{
    return parseInt(f.readString(sec, QLatin1String(key), QString())).value_or(def);
}

bool readBool(const ProfileFile &f, const QString &sec, const char *key, bool def)
{
    return readInt(f, sec, key, def ? 1 : 0) != 0;
}

// Files were read as doubles before, and a number too small for one (1e-400)
// was unreadable: it stays so rather than becoming 0. Too large needs no rule,
// the range check sends it where its default is.
bool belowDoubleRange(long double v, QStringView text)
{
    constexpr long double Underflow = std::numeric_limits<double>::denorm_min() / 2.0L;
    if (std::fabs(v) > Underflow)
        return false;
    const qsizetype e = text.indexOf(u'e', 0, Qt::CaseInsensitive);
    const QStringView mantissa = e < 0 ? text : text.first(e);
    return std::any_of(mantissa.begin(), mantissa.end(),
                       [](QChar c) { return c >= u'1' && c <= u'9'; });
}

// Files written under a comma locale hold "22,5"; with no thousands separator
// ever written, either mark can only be the decimal one. Blanks of any kind
// around the number and the minus sign U+2212 were read before and still are.
long double readTemp(const ProfileFile &f, const QString &sec, const char *key,
                     long double def)
{
    QString text = f.readString(sec, QLatin1String(key), QString()).trimmed();
    text.replace(u',', u'.').replace(u'\u2212', u'-');
    const std::optional<long double> v = parseTemp(text);
    return v && !belowDoubleRange(*v, text) ? *v : def;
}

// Outside its range each bound falls back to its end of the scale; a band
// narrower than a degree is no band, so both go back to the whole scale.
void correctBand(long double &lo, long double &hi)
{
    if (!(lo >= ScaleLow && lo <= ScaleHigh - 1))
        lo = ScaleLow;
    if (!(hi >= ScaleLow + 1 && hi <= ScaleHigh))
        hi = ScaleHigh;
    if (hi < lo)
        std::swap(lo, hi);
    if (closerThanADegree(lo, hi)) {
        lo = ScaleLow;
        hi = ScaleHigh;
    }
}

// Up to 15 significant digits with the user's decimal mark; a mark other
// than a point or a comma could not be read back, so it becomes a point.
QString tempText(long double v)
{
    QString text = QString::number(static_cast<double>(v), 'g', 15);
    if (QLocale().decimalPoint() == QLatin1String(","))
        text.replace(u'.', u',');
    return text;
}

void writeInt(ProfileFile &f, const QString &sec, const char *key, std::int64_t v)
{
    f.writeString(sec, QLatin1String(key), QString::number(v));
}

void writeTemp(ProfileFile &f, const QString &sec, const char *key, long double v)
{
    f.writeString(sec, QLatin1String(key), tempText(v));
}

} // namespace

QString SettingsPath() { return settingsDir() + QStringLiteral("KP33.ini"); }

QString SettingsSource()
{
    const QString own = SettingsPath();
    if (!userFolders() || QFileInfo::exists(own))
        return own;
    return programDir() + QStringLiteral("KP33.ini");
}

void LoadSettings(Settings &s)
{
    ProfileFile f;
    const QString path = SettingsSource();
    const ProfileFile::LoadResult r = f.load(path);
    if (r == ProfileFile::LoadResult::NotRegular || r == ProfileFile::LoadResult::Unreadable)
        report(QStringLiteral("файл настроек %1 не прочитан (%2), взяты значения по умолчанию")
                   .arg(QDir::toNativeSeparators(path), f.errorString()));

    const Settings d;
    s.SignalUse = readBool(f, General, "SignalUse", d.SignalUse);
    s.ControlT = readBool(f, General, "ControlT", d.ControlT);
    s.AutoScale = readBool(f, General, "AutoScale", d.AutoScale);
    s.AutoRun = readBool(f, General, "AutoRun", d.AutoRun);
    std::int32_t port = readInt(f, General, "PORT", d.PORT);
    for (const ColorKey &c : ColorKeys)
        s.*c.member = static_cast<std::uint32_t>(
            readInt(f, Colors, c.name, static_cast<std::int32_t>(d.*c.member)));
    s.LoT = readTemp(f, Limits, "LoT", d.LoT);
    s.HiT = readTemp(f, Limits, "HiT", d.HiT);
    long double lol = readTemp(f, Levels, "LoL", ScaleLow);
    long double hil = readTemp(f, Levels, "HiL", ScaleHigh);
    const bool save = readBool(f, Data, "Save", true);
    std::int32_t period = readInt(f, Data, "PeriodSave", 1);
    const bool fileType = readBool(f, Data, "FileType", false);
    const QString fileSave = f.readString(Data, QStringLiteral("FileSave"), QString());

    port &= 0xFF;
    if (port < 1 || port > 4)
        port = 1;
    s.PORT = static_cast<std::uint8_t>(port);

    period &= 0xFF;
    if (period % 2 != 0)
        --period;
    if (period > 30)
        period = 30;
    if (period == 0)
        period = 1;

    correctBand(s.LoT, s.HiT);
    correctBand(lol, hil);

    history().SetLoL(lol);
    history().SetHiL(hil);
    Save.store(save);
    PeriodSave.store(static_cast<std::uint8_t>(period));
    FileType.store(fileType);
    history().SetFileSave(fileSave);

    for (int n = 1; n <= 4; ++n) {
        setPortPath(n, f.readString(Ports, QStringLiteral("COM%1").arg(n), QString()).toStdString());
    }
}

QString SaveFailedMessage(const QString &path, const QString &cause)
{
    QString reason = cause;
    if (!reason.isEmpty())
        reason[0] = reason[0].toUpper();
    return QStringLiteral("Невозможно записать настройки в файл\r\r") + QDir::toNativeSeparators(path) +
           QStringLiteral("\r\r") + reason + QStringLiteral("\r\rНастройки не сохранены.");
}

bool SaveSettings(const Settings &s, std::uint8_t portToSave, QString *failure)
{
    ProfileFile f;
    const QString path = SettingsPath();
    // Read afresh, so whatever else the file holds now is what gets kept.
    if (f.load(path) == ProfileFile::LoadResult::Missing && userFolders()) {
        // The first save in the user's folder starts from the program
        // folder's file, which itself stays as it is.
        ProfileFile start;
        if (start.load(SettingsSource()) == ProfileFile::LoadResult::Loaded)
            f.setContents(start.contents());
        // Made at start; made again should it have gone since.
        QDir().mkpath(settingsDir());
    }

    writeInt(f, General, "SignalUse", s.SignalUse);
    writeInt(f, General, "ControlT", s.ControlT);
    writeInt(f, General, "AutoScale", s.AutoScale);
    writeInt(f, General, "AutoRun", s.AutoRun);
    writeInt(f, General, "PORT", portToSave);
    // Signed, so a pattern read from "$FFFFFFFF" reads back as the same pattern.
    for (const ColorKey &c : ColorKeys)
        writeInt(f, Colors, c.name, static_cast<std::int32_t>(s.*c.member));
    writeTemp(f, Limits, "LoT", s.LoT);
    writeTemp(f, Limits, "HiT", s.HiT);
    writeTemp(f, Levels, "LoL", history().LoL());
    writeTemp(f, Levels, "HiL", history().HiL());
    writeInt(f, Data, "Save", Save.load());
    writeInt(f, Data, "PeriodSave", PeriodSave.load());
    writeInt(f, Data, "FileType", FileType.load());
    // A line break would split the entry and let the rest pose as keys of its own.
    if (!f.writeString(Data, QStringLiteral("FileSave"), history().FileSave()))
        report(QStringLiteral("имя файла данных содержит перевод строки или NUL, "
                              "в %1 оставлено прежнее")
                   .arg(QDir::toNativeSeparators(path)));

    if (!f.save()) {
        report(QStringLiteral("не удалось записать настройки в %1: %2")
                   .arg(QDir::toNativeSeparators(path), f.errorString()));
        if (failure)
            *failure = SaveFailedMessage(path, f.errorString());
        return false;
    }
    return true;
}

bool WriteRegistryRecord()
{
    // Named outright rather than by scope: Qt's scope-based settings are
    // turned away from the user's folder while Qt's dialogs are about.
    QSettings reg(RegistryRecordLocation(), QSettings::NativeFormat);
    const QString stars(21, u'*');
    reg.setValue(QStringLiteral("Autor"), QStringLiteral("Команда KP33"));
    reg.setValue(QStringLiteral("Copyright"), QStringLiteral("Copyright (c) 2026 KP33"));
    reg.setValue(QStringLiteral("E-mail"), stars);
    reg.setValue(QStringLiteral("Product"), QStringLiteral("Virtual thermometr KP33"));
    reg.setValue(QStringLiteral("Version"), QStringLiteral("1.0"));
    reg.setValue(QStringLiteral("Web-Site"), stars);
    reg.sync();
    if (reg.status() != QSettings::NoError) {
        report(QStringLiteral("не удалось записать сведения о программе в %1").arg(reg.fileName()));
        return false;
    }
    return true;
}

} // namespace kp33
