#pragma once
// The settings file's one call into the operating system: new contents in
// place of the old ones, whole or not at all.

#include <QByteArray>
#include <QString>

namespace kp33::profilefileio {

// Writes data to a temporary file beside path and puts it in path's place
// (ProfileFile::save tells what else the platform does). False with error
// set to the cause, the old file then as it was.
bool ReplaceContents(const QString &path, const QByteArray &data, QString &error);

} // namespace kp33::profilefileio
