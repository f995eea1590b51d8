#pragma once
// Every message box of the program goes through here, so tests can answer
// them without a user and see what was asked.

#include <QMessageBox>
#include <QString>
#include <functional>

namespace kp33 {

// The error box: caption "Ошибка", error icon, OK.
void ShowError(QWidget *parent, const QString &text);
// A notice that needs no decision: caption "Внимание", warning icon, OK.
void ShowWarning(QWidget *parent, const QString &text);
// The one question: caption "Вопрос", Yes and No; true for Yes.
bool AskYesNo(QWidget *parent, const QString &text);

struct MessageRequest {
    QString caption;
    QString text;      // as the program forms it, with its CR/LF line breaks
    QMessageBox::Icon icon;
    bool question;     // Yes/No rather than OK
    // The window the box stands over: the parent asked for while its window
    // is on screen. nullptr: a box of its own, with its own task-bar button,
    // kept in front (before the main window is shown, or while it is hidden
    // or minimised, a box over it would be out of sight with it).
    QWidget *owner = nullptr;
};

// A test installs an answerer: it receives each box instead of the user and
// returns the answer (true = Yes/OK). nullptr restores real boxes.
void SetMessageAnswerer(std::function<bool(const MessageRequest &)> answerer);

// Message texts break lines with CR, LF or CR LF; a box shows each as one break.
QString BoxText(const QString &text);

} // namespace kp33
