#include "dialogs/faces.h"

namespace kp33 {

QString SystemFaceName(Face) { return {}; }

} // namespace kp33
