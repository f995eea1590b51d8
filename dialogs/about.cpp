#include "dialogs/about.h"

#include "dialogs/faces.h"
#include "dialogs/scaling.h"
#include "dialogs/versioninfo.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace kp33 {

namespace {

std::function<void(const QUrl &)> &mailOpener()
{
    static std::function<void(const QUrl &)> opener;
    return opener;
}

QLabel *label(QWidget *parent, const char *name, QRect at, const QString &text, const QFont &font,
              QColor colour = Qt::black)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A label sizes itself to its text: it keeps its place and never cuts the
    // text short when ours is wider than the design's.
    at.setWidth(std::max(at.width(), l->fontMetrics().horizontalAdvance(text) + 1));
    l->setGeometry(at);
    return l;
}

QLabel *picture(QWidget *parent, const char *name, QRect at, const QString &resource)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    // Drawn for the screen's ratio; a missing picture leaves the place empty.
    l->setPixmap(QPixmap::fromImage(PictureFor(resource, parent->devicePixelRatioF())));
    l->setGeometry(at);
    return l;
}

const QColor Navy(0, 0, 128);

} // namespace

TAbout::TAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TAbout"));
    setWindowTitle(QStringLiteral("О программе"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(427, 322);
    setFont(DesignFont(Face::MSSansSerif, 11));

    picture(this, "Img1", {8, 16, 142, 84}, QStringLiteral(":/chip.png"));
    // The shadow first, so the mark lies over it 2 pixels up and left.
    label(this, "Label3", {236, 16, 98, 50}, QStringLiteral("KP33"), DesignFont(Face::ArialBlack, 35));
    label(this, "Label10", {234, 14, 98, 50}, QStringLiteral("KP33"), DesignFont(Face::ArialBlack, 35), QColor(0, 159, 236));
    label(this, "Label1", {179, 64, 218, 22}, QStringLiteral("Виртуальный термометр"), DesignFont(Face::Arial, 19), Navy);
    label(this, "Version", {250, 92, 77, 17}, VersionText(), DesignFont(Face::Arial, 15, true, true), QColor(128, 0, 128));

    auto *bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel->setGeometry(13, 128, 401, 97);

    const QString author = QString::fromUtf8(AuthorName);
    const QString email = QString::fromUtf8(AuthorEMail);
    label(this, "Label5", {31, 144, 364, 16}, QStringLiteral("Разработчик - ") + author, DesignFont(Face::MSSansSerif, 13, true), Navy)
        ->setToolTip(QStringLiteral("e-mail: ") + email);
    MyEMail = label(this, "MyEMail", {150, 168, 69, 16}, QString::fromUtf8(AuthorCity), DesignFont(Face::MSSansSerif, 13, true), Qt::blue);
    MyEMail->setCursor(Qt::PointingHandCursor);
    MyEMail->installEventFilter(this);
    label(this, "Label9", {28, 200, 185, 16}, QStringLiteral("© 2026 KP33. Все права защищены."), DesignFont(Face::MSSansSerif, 13));

    picture(this, "Img2", {178, 240, 70, 48}, QStringLiteral(":/flag.png"))
        ->setToolTip(QStringLiteral("Сделано для России"));
    label(this, "Label8", {146, 296, 135, 16}, QStringLiteral("Сделано в России"), DesignFont(Face::MSSansSerif, 13, true), Navy);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BTN"));
    ok->setGeometry(323, 280, 75, 25);
    // Enter presses it as the default button; Esc closes the box through reject().
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &TAbout::OKClick);
}

void TAbout::OKClick() { accept(); }

void TAbout::MyEMailClick()
{
    const QUrl url(QStringLiteral("mailto:") + QString::fromUtf8(AuthorEMail));
    if (mailOpener())
        mailOpener()(url);
    else
        QDesktopServices::openUrl(url); // what the mail program makes of it is its own affair
}

bool TAbout::eventFilter(QObject *watched, QEvent *event)
{
    // A click is a left press and release on the link; the press grabs the
    // mouse, so the release arrives here wherever it happens.
    if (watched == MyEMail && event->type() == QEvent::MouseButtonRelease) {
        const auto *e = static_cast<QMouseEvent *>(event);
        if (e->button() == Qt::LeftButton && MyEMail->rect().contains(e->position().toPoint()))
            MyEMailClick();
    }
    return QDialog::eventFilter(watched, event);
}

void ShowAbout(QWidget *owner)
{
    TAbout box(owner);
    box.exec();
}

void SetMailOpener(std::function<void(const QUrl &)> opener) { mailOpener() = std::move(opener); }

} // namespace kp33
