#include "mainwindow/tmain.h"

#include "dialogs/colorref.h"
#include "dialogs/initsensor.h"
#include "dialogs/messagebox.h"
#include "dialogs/scaling.h"
#include "dialogs/updown.h"
#include "mainwindow/alarmsound.h"
#include "mainwindow/lookandfeel.h"
#include "measurement/datafile.h"
#include "measurement/history.h"
#include "measurement/readtemp.h"
#include "measurement/receiver.h"
#include "measurement/recording.h"
#include "measurement/waithelper.h"
#include "sensorbus/clock.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace kp33 {

namespace {

const QString MainCaption = QStringLiteral("Виртуальный термометр KP33");
const QString IdleTitle = QStringLiteral("Термометр KP33");
const QString HintCurrent = QStringLiteral("Текущее значение температуры");
const QString NoValue = QStringLiteral("- - - °C  ");
// What the close at the end of the session may take: Windows ends a program
// about five seconds after WM_ENDSESSION, and a second of that is left to
// its own margin and the end of the process.
constexpr std::uint32_t SessionEndBudgetMs = 4000;
// The measurement thread's share of it at most: the rest of a cycle (a
// conversion and a reading, bounded by the bus's time-outs) and a row.
constexpr std::uint32_t SessionEndStopMs = 3000;

// The measurement thread's way into the window; every call arrives on the
// main thread.
class TMainReceiver final : public MeasurementReceiver {
public:
    explicit TMainReceiver(TMain *w) : MeasurementReceiver(w), m_w(w) {}
    void UpdateDisplay() override { m_w->UpdateDisplay(); }
    void SetApplicationTitle(const QString &title) override { m_w->SetApplicationTitle(title); }
    void ShowDataFileError(const QString &text) override { m_w->ErrorBox(text); }
    void RequestClose() override { m_w->close(); }

private:
    TMain *m_w;
};

QLabel *statPanel(QWidget *parent, const char *name, QRect geometry, const QString &text,
                  const QString &hint, const char *labelName, const QString &label, int labelWidth)
{
    auto *panel = new QLabel(text, parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(geometry);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The text's two trailing blanks are its only margin. A framed QLabel
    // would indent it by half an "x" more, and "125.0 °C" would touch
    // "Макс.".
    panel->setIndent(0);
    panel->setToolTip(hint);
    auto *caption = new QLabel(label, panel);
    caption->setObjectName(QLatin1String(labelName));
    caption->setGeometry(8, 6, labelWidth, 13);
    return panel;
}

QLabel *label(QWidget *parent, const char *name, QRect geometry, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    return l;
}

QLineEdit *edit(QWidget *parent, const char *name, QRect geometry)
{
    auto *e = new QLineEdit(QStringLiteral("0"), parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(geometry);
    e->setMaxLength(5);
    return e;
}

UpDown *spin(QWidget *parent, const char *name, QRect geometry)
{
    auto *s = new UpDown(parent);
    s->setObjectName(QLatin1String(name));
    s->setGeometry(geometry);
    return s;
}

void setFontColor(QLabel *l, std::uint32_t colour)
{
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, ColorFromRef(colour));
    l->setPalette(p);
}

} // namespace

QPixmap ScalePicture(int ratio)
{
    // Silver is the picture's transparent colour.
    QImage scale = PictureFor(QStringLiteral(":/thermbg.png"), ratio).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < scale.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(scale.scanLine(y));
        for (int x = 0; x < scale.width(); ++x)
            if ((row[x] & 0xFFFFFF) == 0xC0C0C0)
                row[x] = 0;
    }
    return QPixmap::fromImage(scale);
}

ImageFrame::ImageFrame(QWidget *parent, QPoint imageAt) : QFrame(parent), m_imageAt(imageAt) {}

void ImageFrame::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void ImageFrame::paintEvent(QPaintEvent *event)
{
    if (!m_image.isNull()) {
        QPainter p(this);
        p.drawImage(m_imageAt, m_image);
    }
    QFrame::paintEvent(event);
}

TMain::BusyScope::BusyScope(TMain *w) : m_w(w) { ++m_w->m_busy; }

TMain::BusyScope::~BusyScope()
{
    // A close that came while the program waited or showed a dialog was kept
    // back, never dropped: carry it out now.
    if (--m_w->m_busy == 0 && m_w->m_closeRequested && !m_w->m_closing) {
        m_w->m_dismissTimer->stop();
        QTimer::singleShot(0, m_w, &QWidget::close);
    }
}

TMain::TMain(QWidget *parent) : QMainWindow(parent), m_receiver(new TMainReceiver(this))
{
    setObjectName(QStringLiteral("TMain"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ProgramIcon());
    buildControls();
    buildMenu();
    setStartStopCaption(false);
    connectLimitControls();
    // The client area is fixed; the window is as tall as it plus the menu bar.
    setFixedSize(632, 434 + menuBar()->sizeHint().height());
}

TMain::~TMain() = default;

void TMain::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(632, 434);
    setCentralWidget(client);

    Bevel1 = new ImageFrame(client, QPoint(17 - 8, 7 - 0));
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(8, 0, 617, 233);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);

    FrameTemp = new ImageFrame(client, QPoint(2, 2));
    FrameTemp->setObjectName(QStringLiteral("FrameTemp"));
    FrameTemp->setGeometry(112, 248, 281, 73);
    FrameTemp->setFrameStyle(QFrame::Box | QFrame::Raised);
    FrameTemp->setToolTip(HintCurrent);

    Panel3 = new QFrame(client);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setGeometry(8, 248, 89, 177);
    Panel3->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel3->setToolTip(HintCurrent);
    ThermBG = new QLabel(Panel3);
    ThermBG->setObjectName(QStringLiteral("ThermBG"));
    ThermBG->setGeometry(18, 10, 53, 156);
    ThermBG->setPixmap(ScalePicture(compositionRatio()));
    ThermP = new ImageFrame(Panel3, QPoint(0, 0));
    ThermP->setObjectName(QStringLiteral("ThermP"));
    ThermP->setGeometry(8, 10, 73, 157);
    ThermP->setFrameStyle(QFrame::NoFrame);

    OutMAX = statPanel(client, "OutMAX", {304, 328, 89, 25}, QStringLiteral("- - -  °C  "),
                       QStringLiteral("Максимальное значение температуры"), "Label3",
                       QStringLiteral("Макс."), 30);
    OutAVG = statPanel(client, "OutAVG", {208, 328, 89, 25}, NoValue,
                       QStringLiteral("Среднее значение температуры"), "Label4",
                       QStringLiteral("Ср."), 16);
    OutMIN = statPanel(client, "OutMIN", {112, 328, 89, 25}, NoValue,
                       QStringLiteral("Минимальное значение температуры"), "Label5",
                       QStringLiteral("Мин."), 24);

    GB2 = new QGroupBox(QStringLiteral("Допустимая температура, °C"), client);
    GB2->setObjectName(QStringLiteral("GB2"));
    GB2->setGeometry(112, 360, 281, 65);
    MinT = label(GB2, "MinT", {16, 16, 47, 13}, QStringLiteral("не менее"));
    MaxT = label(GB2, "MaxT", {88, 16, 45, 13}, QStringLiteral("не более"));
    EditLoL = edit(GB2, "EditLoL", {16, 36, 41, 21});
    SpinLoL = spin(GB2, "SpinLoL", {57, 36, 16, 21});
    EditHiL = edit(GB2, "EditHiL", {88, 36, 41, 21});
    SpinHiL = spin(GB2, "SpinHiL", {129, 36, 16, 21});
    ControlT = new QCheckBox(QStringLiteral("Контролировать"), GB2);
    ControlT->setObjectName(QStringLiteral("ControlT"));
    ControlT->setGeometry(160, 38, 105, 17);

    GB1 = new QGroupBox(QStringLiteral("Границы графика, °C"), client);
    GB1->setObjectName(QStringLiteral("GB1"));
    GB1->setGeometry(408, 243, 217, 110);
    LoD = label(GB1, "LoD", {28, 18, 38, 13}, QStringLiteral("нижняя"));
    HiD = label(GB1, "HiD", {148, 18, 41, 13}, QStringLiteral("верхняя"));
    EditLoT = edit(GB1, "EditLoT", {28, 38, 41, 21});
    SpinLoT = spin(GB1, "SpinLoT", {69, 38, 16, 21});
    EditHiT = edit(GB1, "EditHiT", {148, 38, 41, 21});
    SpinHiT = spin(GB1, "SpinHiT", {189, 38, 16, 21});
    AutoScale = new QCheckBox(QStringLiteral("Автомасштабирование"), GB1);
    AutoScale->setObjectName(QStringLiteral("AutoScale"));
    AutoScale->setGeometry(48, 80, 137, 17);

    BTN_Start_Stop = new QPushButton(QStringLiteral("&Пуск"), client);
    BTN_Start_Stop->setObjectName(QStringLiteral("BTN_Start_Stop"));
    BTN_Start_Stop->setGeometry(432, 384, 75, 25);
    BTN_Exit = new QPushButton(QStringLiteral("&Выход"), client);
    BTN_Exit->setObjectName(QStringLiteral("BTN_Exit"));
    BTN_Exit->setGeometry(528, 384, 75, 25);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(400);

    // While a requested close waits for a box or dialog, whatever modal work
    // is up is dismissed; a dialog that opens a box of its own as it goes
    // away is caught on the next tick.
    m_dismissTimer = new QTimer(this);
    m_dismissTimer->setInterval(50);
    connect(m_dismissTimer, &QTimer::timeout, this, &TMain::dismissModalWork);

    // The keyboard walks the controls in the order of the layout's tab
    // numbers: buttons, graph bounds, limits.
    QWidget *order[] = {BTN_Start_Stop, BTN_Exit, EditLoT, EditHiT, AutoScale, EditLoL, EditHiL, ControlT};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    // The keyboard starts on the first of them, so Space or Enter right
    // after the start begins measuring. Qt's own first choice would be the
    // first control created, an edit. Enter presses a button only when it
    // is an auto-default one, which outside a dialog none is by itself.
    BTN_Start_Stop->setAutoDefault(true);
    BTN_Exit->setAutoDefault(true);
    BTN_Start_Stop->setFocus();

    connect(BTN_Start_Stop, &QPushButton::clicked, this, &TMain::BTN_Start_StopClick);
    connect(BTN_Exit, &QPushButton::clicked, this, &TMain::M_ExitClick);
    connect(ControlT, &QCheckBox::clicked, this, &TMain::ControlTClick);
    connect(AutoScale, &QCheckBox::clicked, this, &TMain::AutoScaleClick);
}

void TMain::buildMenu()
{
    QMenuBar *bar = menuBar();
    const auto item = [this](QMenu *menu, const char *name, const QString &text, QKeySequence key,
                             void (TMain::*handler)()) {
        QAction *a = menu->addAction(text);
        a->setObjectName(QLatin1String(name));
        if (!key.isEmpty())
            a->setShortcut(key);
        // Shortcuts work wherever the focus is inside the window.
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, handler);
        addAction(a);
        return a;
    };

    QMenu *action = bar->addMenu(QStringLiteral("&Действие"));
    action->setObjectName(QStringLiteral("M_Action"));
    M_Start_Stop = item(action, "M_Start_Stop", QStringLiteral("&Пуск"), Qt::Key_F9, &TMain::BTN_Start_StopClick);
    M_Reset = item(action, "M_Reset", QStringLiteral("&Сброс"), Qt::Key_F8, &TMain::M_ResetClick);
    action->addSeparator()->setObjectName(QStringLiteral("N6"));
    M_Exit = item(action, "M_Exit", QStringLiteral("&Выход"), QKeySequence(Qt::ALT | Qt::Key_X), &TMain::M_ExitClick);

    QMenu *options = bar->addMenu(QStringLiteral("&Настройки"));
    options->setObjectName(QStringLiteral("M_Options"));
    M_AS = item(options, "M_AS", QStringLiteral("&Аварийная сигнализация"), Qt::Key_F5, &TMain::M_ASClick);
    M_AS->setCheckable(true);
    N1 = item(options, "N1", QStringLiteral("&Датчик..."), Qt::Key_F4, &TMain::N1Click);
    M_PZD = item(options, "M_PZD", QStringLiteral("&Запись данных..."), {}, &TMain::M_PZDClick);
    M_Port = options->addMenu(QStringLiteral("&Порт"));
    M_Port->setObjectName(QStringLiteral("M_Port"));
    for (int n = 1; n <= 4; ++n) {
        QAction *a = M_Port->addAction(QStringLiteral("COM&%1").arg(n));
        a->setObjectName(QStringLiteral("M_COM%1").arg(n));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, n] { SelectPort(n); });
        M_COM[n - 1] = a;
    }
    options->addSeparator()->setObjectName(QStringLiteral("N5"));
    M_AutoRun = item(options, "M_AutoRun", QStringLiteral("А&втозапуск процесса измерения"), {}, &TMain::M_AutoRunClick);
    M_AutoRun->setCheckable(true);

    QMenu *help = bar->addMenu(QStringLiteral("&Помощь"));
    help->setObjectName(QStringLiteral("N2"));
    N3 = item(help, "N3", QStringLiteral("&Справка..."), Qt::Key_F1, &TMain::N3Click);
    N4 = item(help, "N4", QStringLiteral("&О программе..."), {}, &TMain::N4Click);
}

bool TMain::FormCreate()
{
    setWindowTitle(MainCaption);
    AddAboutToSystemMenu(this);
    history().MarkEmpty();
    LoadSettings(m_settings);
    SetFontColor(m_settings.TempValueColor);
    applySettingsToControls();
    probePorts();
    UpdateDisplay();
    if (Save.load()) {
        // A failure here ends the program, so the first one is the only one
        // shown, whichever file was to be opened.
        const DataFileResult r = OpenDataFile(true);
        for (const QString &m : r.messages)
            ErrorBox(m);
        if (!r.ok) {
            // The program cannot record as asked: end at once, in order, and
            // save nothing (the settings file keeps what the user had).
            releasePort();
            return false;
        }
    }
    SetApplicationTitle(IdleTitle);
    return true;
}

void TMain::applySettingsToControls()
{
    EditHiT->setText(TempToStr(m_settings.HiT));
    EditLoT->setText(TempToStr(m_settings.LoT));
    EditHiL->setText(TempToStr(history().HiL()));
    EditLoL->setText(TempToStr(history().LoL()));
    ColourLimitLabels();
    M_AS->setChecked(m_settings.SignalUse);
    M_AutoRun->setChecked(m_settings.AutoRun);
    ControlT->setChecked(m_settings.ControlT);
    AutoScale->setChecked(m_settings.AutoScale);
    ControlTClick();
    AutoScaleClick();
}

namespace {
void enableAll(std::initializer_list<QWidget *> widgets, bool on)
{
    for (QWidget *w : widgets)
        w->setEnabled(on);
}
} // namespace

void TMain::ControlTClick() { enableAll({EditLoL, EditHiL, SpinLoL, SpinHiL}, ControlT->isChecked()); }

void TMain::AutoScaleClick() { enableAll({EditLoT, EditHiT, SpinLoT, SpinHiT}, !AutoScale->isChecked()); }

void TMain::ColourLimitLabels()
{
    // The labels wear the colours of the limit curves they name.
    setFontColor(LoD, m_settings.LPTColor);
    setFontColor(MinT, m_settings.LPTColor);
    setFontColor(HiD, m_settings.HPTColor);
    setFontColor(MaxT, m_settings.HPTColor);
}

void TMain::probePorts()
{
    for (int n = 1; n <= 4; ++n)
        M_COM[n - 1]->setEnabled(AccessCOM(QStringLiteral("COM%1").arg(n).toStdString()));
}

Settings TMain::currentSettings() const
{
    Settings s = m_settings;
    s.ControlT = ControlT->isChecked();
    s.AutoScale = AutoScale->isChecked();
    s.TempValueColor = m_indicator.FontColor;
    return s;
}

void TMain::SetApplicationTitle(const QString &title)
{
    m_appTitle = title;
    // The native title is the task-bar text; windowTitle() keeps the caption
    // by which a second instance recognises this window.
    if (QWindow *w = windowHandle())
        w->setTitle(title);
}

void TMain::releasePort()
{
    SetModCOM(115200, 8, 0, 0, 0, 0);
    PurgeCOM();
    CloseCOM();
    m_openedPort = 0;
}

void TMain::closeEvent(QCloseEvent *event)
{
    m_closeRequested = true;
    if (m_busy > 0 && !m_closeDone) {
        // Deferred until the wait, box or dialog is over, which the close
        // itself brings about: nobody may be there to answer (a logout).
        dismissModalWork();
        if (m_busy > 0)
            m_dismissTimer->start();
        event->ignore();
        return;
    }
    if (m_saveFailedBoxOpen && !m_sessionEnding) {
        // A further close request answers the box of a failed save, and the
        // close it stands in ends.
        dismissModalWork();
        event->ignore();
        return;
    }
    if (!m_closing) {
        closeInOrder();
        if (!m_saveFailure.isEmpty() && !m_sessionEnding) {
            // The box comes once this close is over: a close request during
            // a close never reaches the window, and the next one must be
            // able to dismiss it.
            event->ignore();
            QTimer::singleShot(0, this, &TMain::SaveFailedBox);
            return;
        }
    } else if (!m_saveFailure.isEmpty()) {
        // A close request before the box came: it comes no more.
        std::fprintf(stderr, "kp33: %s\n", qPrintable(std::exchange(m_saveFailure, QString())));
    }
    event->accept();
}

std::uint8_t TMain::portToSave() const { return m_openedPort ? m_openedPort : m_settings.PORT; }

QStringList TMain::closeRecording()
{
    if (Save.load())
        CloseDataFile();
    // Rows that another program kept out of their file, whether recording
    // is still on or not.
    return SaveHeldRows();
}

void TMain::closeInOrder()
{
    if (m_closeDone)
        return;
    m_closing = true;
    if (RunState.load() != rsStopped || sessionThreadAlive()) {
        StopAlarm();
        stopAndWait();
        RunState = rsStopped;
    }
    // An end of the session that came during the wait has done the rest.
    if (m_closeDone)
        return;
    m_closeDone = true;
    const QStringList keptRows = closeRecording();
    WriteRegistryRecord();
    const std::uint8_t port = portToSave();
    releasePort();
    QString failure;
    if (!SaveSettings(currentSettings(), port, &failure)) {
        // At the end of the session nobody could read a box, and Windows
        // would only wait on it before ending the program.
        if (m_sessionEnding)
            std::fprintf(stderr, "kp33: %s\n", qPrintable(failure));
        else
            m_saveFailure = failure;
    }
    // Last, with everything on the disk: where those rows are now. At the
    // end of the session nobody may be there to answer.
    for (const QString &text : keptRows) {
        if (m_sessionEnding) {
            std::fprintf(stderr, "kp33: %s\n", qPrintable(text));
        } else {
            BusyScope busy(this);
            ShowWarning(this, text);
        }
    }
}

void TMain::closeForSessionEnd()
{
    // Windows may end the process about five seconds after the end of the
    // session reached it, finished or not. What would be lost then goes
    // first; the thread's stop comes after, with what is left of the budget
    // (a slow disk may have taken seconds of it), a bound it meets in the
    // ordinary case: the rest of a cycle, a reading through a mute adapter.
    const std::uint32_t began = theClock().tickCount();
    WriteRegistryRecord();
    SaveSettings(currentSettings(), portToSave());
    if (RunState.load() != rsStopped || sessionThreadAlive()) {
        StopAlarm();
        const std::uint32_t spent = theClock().tickCount() - began;
        const std::uint32_t left = spent < SessionEndBudgetMs ? SessionEndBudgetMs - spent : 0;
        if (!stopWithin(std::min(SessionEndStopMs, left)))
            return; // the data file and the bus are the thread's until the process ends
        RunState = rsStopped;
    }
    for (const QString &text : closeRecording())
        std::fprintf(stderr, "kp33: %s\n", qPrintable(text));
    releasePort();
}

void TMain::EndSession()
{
    m_sessionEnding = true;
    m_closeRequested = true;
    // Esc, No or Cancel for whatever is open; each returns only after this.
    dismissModalWork();
    if (!m_closeDone) {
        m_closing = true;
        m_closeDone = true;
        closeForSessionEnd();
    }
    // The window goes once the end of the session is answered: hiding it is
    // no part of what must be done in time (and without a window manager,
    // Wine waits seconds for one to confirm it).
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TMain::dismissModalWork()
{
    if (m_busy == 0) {
        m_dismissTimer->stop();
        return;
    }
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    // The search ignores Esc, but ends after its bus exchange when abandoned,
    // also while a box of its own (a missing port) is still up.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *search = qobject_cast<TInitSensor *>(w))
            search->Abandon();
    QWidget *modal = QApplication::activeModalWidget();
    if (qobject_cast<TInitSensor *>(modal))
        return;
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject(); // Esc on a box or dialog: No, Cancel
    else if (modal)
        modal->close();
}

void TMain::BringForward()
{
    hide();
    showNormal();
    raise();
    activateWindow();
    // A box or dialog belongs in front of the window it waits over: left
    // behind it, nobody could answer it.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}

void TMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Made before it had a screen of its own: shown, it may be on another.
    Recompose();
    SetApplicationTitle(m_appTitle.isEmpty() ? IdleTitle : m_appTitle);
    if (!m_activated) {
        m_activated = true;
        // Without a window manager no activation event ever comes: the first
        // show stands for the first activation.
        QTimer::singleShot(0, this, &TMain::FormActivate);
    }
}

bool TMain::event(QEvent *event)
{
    const bool done = QMainWindow::event(event);
    switch (event->type()) {
    case QEvent::ScreenChangeInternal: // a screen of another ratio (or the same one)
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    case QEvent::DevicePixelRatioChange: // the screen's own scale changed
#endif
        Recompose();
        break;
    default:
        break;
    }
    return done;
}

void TMain::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_closeRequested || !SystemMenuStandIn)
        return;
    // The stand-in for the window's system menu, with its "about" command.
    QMenu menu(this);
    menu.addAction(QStringLiteral("Свернуть"), this, &QWidget::showMinimized);
    menu.addAction(QStringLiteral("Закрыть"), this, &QWidget::close);
    menu.addSeparator();
    menu.addAction(QStringLiteral("О программе..."), this, [this] { wmSysCommand(SysCommandAbout); });
    BusyScope busy(this);
    menu.exec(event->globalPos());
}

bool TMain::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    // Queued: the box opens once the system menu's message has been handled,
    // not inside it. The message itself goes on to the default handling.
    if (SystemMenuCommand(eventType, message) == SysCommandAbout)
        QMetaObject::invokeMethod(this, [this] { wmSysCommand(SysCommandAbout); }, Qt::QueuedConnection);
    return QMainWindow::nativeEvent(eventType, message, result);
}

void TMain::M_ExitClick() { close(); }

void TMain::ErrorBox(const QString &text)
{
    if (m_closeRequested) {
        // Nobody may be there to answer a box now; the message is not lost.
        std::fprintf(stderr, "kp33: %s\n", qPrintable(text));
        return;
    }
    BusyScope busy(this);
    ShowError(this, text);
}

void TMain::SaveFailedBox()
{
    const QString text = std::exchange(m_saveFailure, QString());
    if (text.isEmpty())
        return; // a close request came first and closed the window
    {
        // Everything else of the close is done: the box holds up nothing
        // but the end of the program.
        BusyScope busy(this);
        m_saveFailedBoxOpen = true;
        ShowError(this, text);
        m_saveFailedBoxOpen = false;
    }
    close();
}

bool TMain::QuestionBox(const QString &text)
{
    // A close answers every question with No.
    if (m_closeRequested)
        return false;
    BusyScope busy(this);
    return AskYesNo(this, text);
}

void TMain::wmSysCommand(int command)
{
    if (command == SysCommandAbout)
        N4Click();
}

} // namespace kp33
