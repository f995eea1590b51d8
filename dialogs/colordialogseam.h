#pragma once
// The colour-selection dialog, behind a seam so tests can answer it without a
// user and see what was asked.

#include <QColor>
#include <functional>
#include <optional>

class QWidget;

namespace kp33 {

using ColorChooser = std::function<std::optional<QColor>(QWidget *parent, const QColor &initial)>;

// Runs the colour dialog preset to initial; the chosen colour, or nullopt when
// the user cancels.
std::optional<QColor> ChooseColor(QWidget *parent, const QColor &initial);

// A test installs a chooser that answers instead of the user; nullptr restores
// the real dialog.
void SetColorChooser(ColorChooser chooser);

// Forgets the custom colours the user defined in the colour dialog; the
// parameters dialog calls it each time it opens, so they never outlive it.
void ResetCustomColors();

} // namespace kp33
