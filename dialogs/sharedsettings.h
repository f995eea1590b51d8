#pragma once
// Qt's own dialogs remember things for the user in one settings file that
// every Qt program of the user shares (QtProject.conf): the colour dialog its
// custom colours, the file dialog its last folder and history. This program
// writes nothing outside its own folder and its information record, and its
// custom colours belong to one opening of the colours dialog.

namespace kp33 {

// Points Qt's scope-based settings (format and scope, not a file name) at a
// place where no file can be made, so Qt's dialogs read nothing of the
// user's shared file and their writes come to nothing. Called before any of
// Qt's dialogs is built; the program's own settings and information record
// name their files outright and are not affected.
void KeepQtDialogsToThemselves();

} // namespace kp33
