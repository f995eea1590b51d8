#include "dialogs/messagebox.h"


namespace kp33 {

namespace {

std::function<bool(const MessageRequest &)> &answerer()
{
    static std::function<bool(const MessageRequest &)> a;
    return a;
}

bool show(QWidget *parent, const MessageRequest &r)
{
    if (answerer())
        return answerer()(r);
    QMessageBox box(r.icon, r.caption, BoxText(r.text),
                    r.question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
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
    show(parent, {QStringLiteral("Ошибка"), text, QMessageBox::Critical, false});
}

void ShowWarning(QWidget *parent, const QString &text)
{
    show(parent, {QStringLiteral("Внимание"), text, QMessageBox::Warning, false});
}

bool AskYesNo(QWidget *parent, const QString &text)
{
    return show(parent, {QStringLiteral("Вопрос"), text, QMessageBox::Question, true});
}

void SetMessageAnswerer(std::function<bool(const MessageRequest &)> a) { answerer() = std::move(a); }

} // namespace kp33
