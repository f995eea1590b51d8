#pragma once
// The about box: product mark, version, the author's contact with a link that
// starts an e-mail, and the flag. Built anew for every opening.

#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;

namespace kp33 {

inline constexpr char AuthorName[] = "Команда KP33";
inline constexpr char AuthorCity[] = "Москва";
inline constexpr char AuthorEMail[] = "kp33@example.org";

class TAbout : public QDialog {
    Q_OBJECT
public:
    explicit TAbout(QWidget *parent);

    void OKClick();
    void MyEMailClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *MyEMail;
};

// Shows a new about box modally over owner and destroys it when it closes:
// what the menu item and the context-menu command both run.
void ShowAbout(QWidget *owner);

// Test seam: receives the mailto: URL instead of the desktop's mail program.
// nullptr restores QDesktopServices::openUrl.
void SetMailOpener(std::function<void(const QUrl &)> opener);

} // namespace kp33
