#include "dialogs/versioninfo.h"

namespace kp33 {

// An ELF program has no version resource: the items are compiled in.
std::optional<VersionBlock> ProgramFileVersion() { return BuiltInVersion(); }

} // namespace kp33
