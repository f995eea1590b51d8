#pragma once
// The save-file dialog that picks the data file, behind a seam so tests can
// answer it without a user.

#include <QString>
#include <functional>

class QWidget;

namespace kp33 {

// Title "Выбор файла", filters "Файлы данных (*.csv)" and "Все файлы (*)",
// no question when the file exists (rows are appended to it). Returns the
// full path chosen, or an empty string when the user cancelled. A name
// without an extension chosen under the first filter gets ".csv"; under
// "Все файлы" it stays as typed. The dialog opens where initialPath points,
// or in the folder of DATA/ when that folder does not exist.
QString ChooseDataFile(QWidget *parent, const QString &initialPath);

// A test installs a chooser that answers instead of the user; it receives
// the parent and initial path and returns what ChooseDataFile returns.
// nullptr restores the real dialog.
void SetDataFileChooser(std::function<QString(QWidget *, const QString &)> chooser);

} // namespace kp33
