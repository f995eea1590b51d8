#pragma once

class QApplication;
class QIcon;

namespace kp33 {

// Fusion style (with classic group-box frames), the design's "MS Sans Serif"
// at 11 px (8 pt at 96 dpi; dialogs/faces.h says which face stands in for
// it) and Qt's own Russian translations, so every desktop and every
// screenshot look the same.
void ApplyLookAndFeel(QApplication &app);

// The program's icon at every size kp33.ico holds (its PNG entries), so the
// system shows the one drawn for its size rather than the 32 px one scaled;
// kp33.png alone should the file not read.
QIcon ProgramIcon();

} // namespace kp33
