#pragma once
// Program-wide state shared by every layer, and the one number formatter that
// the indicator, the title, the edits and the data file all use.

#include <QString>
#include <atomic>
#include <cstdint>

namespace kp33 {

// A failed reading, and the mark of an empty history entry.
inline constexpr long double NoTemp = 1000.0L;

enum TSensorType : std::uint8_t {
    stDS1820 = 1,
    stDS18S20 = 2,
    stDS18B20 = 3,
    stUnknown = 255,
};

// Written by the sensor search on the main thread, read by the measurement
// thread; atomics so neither side ever sees a torn or stale value.
extern std::atomic<TSensorType> SensorType;
extern std::atomic<bool> SensorFound;
// The sensor's ROM code as two words: bytes 0..3 and 4..7 of the code in bus order.
extern std::atomic<std::uint32_t> SensorROM[2];

// True on every platform this program runs on; tests set it False for the
// 2-second cycle and even recording periods.
extern std::atomic<bool> IsWinNT;

// Directory of the program with a trailing "/": home of HELP/, and of
// KP33.ini and DATA/ when the folder can be written.
QString programDir();
// Where KP33.ini is and where DATA/ is made, each with a trailing "/". Both
// are programDir() unless the program folder cannot be written (a system-wide
// install, a read-only share); then they are folders of the user's own:
// Windows %LOCALAPPDATA%\KP33\ for both, Linux $XDG_CONFIG_HOME/KP33/ and
// $XDG_DATA_HOME/KP33/.
QString settingsDir();
QString dataParentDir();
// True when settings and data live in the user's folders.
bool userFolders();
// Set once at start, before any thread runs; tests point it at a temporary
// folder. writable false (what the start finds by FolderWritable) moves the
// settings and the data to the user's folders and makes them.
void setProgramDir(const QString &dir, bool writable = true);
// Whether a file can be made and removed in dir. Tried, not read from
// permission bits: an administrator, an ACL, a read-only mount or a share
// each decide otherwise than the bits say.
bool FolderWritable(const QString &dir);

// One decimal, a point whatever the locale, no thousands separator. The value
// is first taken to 18 significant digits and then rounded half away from
// zero (22.25 -> "22.3"); a result of zero never carries a minus sign.
QString TempToStr(long double t);

} // namespace kp33
