#include "dialogs/messagebox.h"


namespace kp33 {

namespace {

std::function<bool(const MessageRequest &)> &answerer()
{
    static std::function<bool(const MessageRequest &)> a;
    return a;
}

// On Windows a window owned by a hidden one has no task-bar button and is
// not shown before its owner is; at start the main window is not shown yet.
QWidget *ownerOnScreen(QWidget *parent)
{
    const QWidget *window = parent ? parent->window() : nullptr;
    return window && window->isVisible() && !window->isMinimized() ? parent : nullptr;
}

bool show(QWidget *parent, MessageRequest r)
{
    r.owner = ownerOnScreen(parent);
    if (answerer())
        return answerer()(r);
    QMessageBox box(r.icon, r.caption, BoxText(r.text),
                    r.question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, r.owner);
    // Nothing else of the program may be on screen to lead the user to it.
    if (!r.owner)
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (r.question)
        box.setDefaultButton(QMessageBox::Yes);
    const int answer = box.exec();
    return answer == QMessageBox::Yes || answer == QMessageBox::Ok;
}

} // namespace

QString BoxText(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

void ShowError(QWidget *parent, const QString &text)
{
    show(parent, {QStringLiteral("Ошибка"), text, QMessageBox::Critical, false, nullptr});
}

void ShowWarning(QWidget *parent, const QString &text)
{
    show(parent, {QStringLiteral("Внимание"), text, QMessageBox::Warning, false});
}

bool AskYesNo(QWidget *parent, const QString &text)
{
    return show(parent, {QStringLiteral("Вопрос"), text, QMessageBox::Question, true, nullptr});
}

void SetMessageAnswerer(std::function<bool(const MessageRequest &)> a) { answerer() = std::move(a); }

} // namespace kp33
