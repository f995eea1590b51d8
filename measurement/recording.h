#pragma once
// Recording settings and the data-file handshake shared by the main thread and
// the measurement thread. FileSave lives with the history under its lock.

#include <atomic>
#include <cstdint>

namespace kp33 {

enum TRecordHold : std::uint8_t { rhNone = 0, rhRequested = 1, rhHeld = 2 };

extern std::atomic<bool> Save;               // rows are written only while on
extern std::atomic<std::uint8_t> PeriodSave; // a row every PeriodSave cycles
extern std::atomic<bool> FileType;           // false: daily file in DATA/; true: FileSave
extern std::atomic<std::uint8_t> RecordCounter;
extern std::atomic<TRecordHold> RecordHold;

} // namespace kp33
