#pragma once

class QApplication;

namespace kp33 {

// Fusion style (with classic group-box frames), the design's "MS Sans Serif"
// at 11 px (8 pt at 96 dpi; dialogs/faces.h says which face stands in for
// it) and Qt's own Russian translations, so every desktop and every
// screenshot look the same.
void ApplyLookAndFeel(QApplication &app);

} // namespace kp33
