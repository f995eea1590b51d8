#include "dialogs/colordialogseam.h"

#include "dialogs/sharedsettings.h"

#include <QColorDialog>
#include <QPointer>

namespace kp33 {

namespace {

ColorChooser &chooser()
{
    static ColorChooser c;
    return c;
}

} // namespace

std::optional<QColor> ChooseColor(QWidget *parent, const QColor &initial)
{
    if (chooser())
        return chooser()(parent, initial);
    // Qt's own dialog rather than the desktop's: only it keeps the custom
    // colours we reset, and it looks the same on every desktop.
    KeepQtDialogsToThemselves();
    QPointer<QColorDialog> dialog = new QColorDialog(initial, parent);
    dialog->setOption(QColorDialog::DontUseNativeDialog);
    const bool confirmed = dialog->exec() == QDialog::Accepted;
    // The parent may have gone (and taken the dialog with it) while it was open.
    if (!dialog)
        return std::nullopt;
    const QColor chosen = dialog->selectedColor();
    delete dialog;
    if (!confirmed)
        return std::nullopt;
    return chosen;
}

void SetColorChooser(ColorChooser c) { chooser() = std::move(c); }

void ResetCustomColors()
{
    // Before Qt's colour dialog first reads the custom colours of the user's
    // other Qt programs, and before the reset below marks them for writing.
    KeepQtDialogsToThemselves();
    // White is what Qt starts the custom colours with.
    for (int i = 0; i < QColorDialog::customCount(); ++i)
        QColorDialog::setCustomColor(i, Qt::white);
}

} // namespace kp33
