#pragma once
// The program's settings file, KP33.ini beside the program (or in the user's
// folder when the program folder cannot be written), and the information
// record in the user's configuration.
//
// LoL/HiL and FileSave live in history(); Save, PeriodSave and FileType in the
// recording atomics; the rest in Settings, held by the main window. Loading
// never fails: anything missing or unreadable takes its default. Failures to
// write go to standard error as one line naming the file; a failed save also
// gives the text of its error box.

#include <QString>
#include <cstdint>

namespace kp33 {

struct Settings {
    bool SignalUse = true;
    bool ControlT = true;
    bool AutoScale = true;
    bool AutoRun = false;
    std::uint8_t PORT = 1;
    // COLORREF: 0x00BBGGRR
    std::uint32_t TempColor = 33023;
    std::uint32_t TempValueColor = 0;
    std::uint32_t NormalColor = 12910532;
    std::uint32_t StopColor = 15191807;
    std::uint32_t ErrorColor = 16758711;
    std::uint32_t LoTColor = 16755027;
    std::uint32_t HiTColor = 11757311;
    std::uint32_t LPTColor = 16711680;
    std::uint32_t HPTColor = 255;
    long double LoT = -55.0L;
    long double HiT = 125.0L;
};

// settingsDir() + "KP33.ini"
QString SettingsPath();
// Where the settings are read from: SettingsPath(), or, in the user's folder
// before its first save, the KP33.ini of the program folder. An
// administrator's file there is every user's starting point, kept line for
// line (comments, [PORTS]) in the user's own file from the first save on.
QString SettingsSource();

// Reads every value (the [PORTS] section goes to setPortPath) and applies the
// corrections: PORT 1..4, PeriodSave even 2..30 or 1, both temperature bands
// within -55..125 and at least 1 degree wide.
void LoadSettings(Settings &s);

// Writes every value with PORT = portToSave, keeping every other line of the
// file as it was. A FileSave holding a line break or NUL is not written (the
// file keeps the old one) and is reported. False when the file could not be
// written; then *failure, when given, holds the error box's text: the file
// in the platform's own separators and the cause.
bool SaveSettings(const Settings &s, std::uint8_t portToSave, QString *failure = nullptr);

QString SaveFailedMessage(const QString &path, const QString &cause);

// The product information record, in QSettings' native format at
// RegistryRecordLocation().
bool WriteRegistryRecord();
// Windows: the key HKEY_CURRENT_USER\SOFTWARE\KP33\Information. Linux:
// KP33/Information.conf in the user's configuration folder.
QString RegistryRecordLocation();

} // namespace kp33
