#include "dialogs/filedialogseam.h"

#include "dialogs/sharedsettings.h"
#include "sensorbus/globals.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace kp33 {

namespace {

std::function<QString(QWidget *, const QString &)> &chooser()
{
    static std::function<QString(QWidget *, const QString &)> c;
    return c;
}

QString realChooser(QWidget *parent, const QString &initialPath)
{
    const QStringList filters{QStringLiteral("Файлы данных (*.csv)"), QStringLiteral("Все файлы (*)")};
    // Qt's file dialog would keep its history in the user's shared file.
    KeepQtDialogsToThemselves();
    QFileDialog dialog(parent, QStringLiteral("Выбор файла"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // An existing file is the normal case: rows are appended to it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(filters);
    const QFileInfo initial(initialPath);
    if (!initialPath.isEmpty() && initial.absoluteDir().exists()) {
        dialog.setDirectory(initial.absolutePath());
        if (!initial.isDir())
            dialog.selectFile(initial.fileName());
    } else {
        // Beside DATA/: the program folder, or the user's own when the
        // program folder cannot be written.
        dialog.setDirectory(dataParentDir());
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return {};
    QString path = files.first();
    // The one place the extension is added: only a bare name (no dot at all)
    // under the data-file filter; "name." or ".name" are taken as meant.
    if (dialog.selectedNameFilter() == filters.first() && !QFileInfo(path).fileName().contains(QLatin1Char('.')))
        path += QStringLiteral(".csv");
    return path;
}

} // namespace

QString ChooseDataFile(QWidget *parent, const QString &initialPath)
{
    if (chooser())
        return chooser()(parent, initialPath);
    return realChooser(parent, initialPath);
}

void SetDataFileChooser(std::function<QString(QWidget *, const QString &)> c) { chooser() = std::move(c); }

} // namespace kp33
