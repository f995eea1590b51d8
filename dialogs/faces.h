#pragma once
// The design's three faces, by what the system has: "MS Sans Serif" for the
// windows and dialogs, "Arial" for the indicator and the about box's titles,
// "Arial Black" for the product mark. Where a face is missing, is a bitmap
// face, or has no Cyrillic letters, Liberation Sans (metric-compatible with
// Arial) stands in, and Liberation Sans Bold for Arial Black. The program
// carries those two faces itself (a Qt resource), so the stand-in is the
// same face on every system, whether or not it has Liberation Sans of its
// own. Sizes stay in pixels either way.

#include <QFont>
#include <QString>

namespace kp33 {

enum class Face { MSSansSerif, Arial, ArialBlack };

// Adds the carried faces to the font database; later calls only report.
// False when one of them could not be loaded (the system's faces then stand
// in). FaceFamily calls it before its first choice, so any window whose
// fonts come from here has them; call it first where a font is made by name.
bool LoadCarriedFaces();

// The family a font of this face uses here.
QString FaceFamily(Face face);

// Arial Black has a weight of its own, so bold plays no part for it.
QFont DesignFont(Face face, int pixels, bool bold = false, bool italic = false);

// The system's own name of the face, or empty where the stand-in is always
// used (Linux, so every desktop and screenshot look the same). Per platform.
QString SystemFaceName(Face face);

} // namespace kp33
