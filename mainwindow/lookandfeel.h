#pragma once

class QApplication;

namespace kp33 {

// Fusion style (with classic group-box frames), Liberation Sans at 11 px
// (8 pt at 96 dpi) and Qt's own Russian translations, so every desktop and
// every screenshot look the same.
void ApplyLookAndFeel(QApplication &app);

} // namespace kp33
