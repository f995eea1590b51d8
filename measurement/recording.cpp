#include "measurement/recording.h"

namespace kp33 {

std::atomic<bool> Save{true};
std::atomic<std::uint8_t> PeriodSave{1};
std::atomic<bool> FileType{false};
std::atomic<std::uint8_t> RecordCounter{0};
std::atomic<TRecordHold> RecordHold{rhNone};

} // namespace kp33
