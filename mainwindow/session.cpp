// Session control: the port, the sensor search, start and stop, Reset, AutoRun.

#include "dialogs/initsensor.h"
#include "dialogs/messagebox.h"
#include "mainwindow/tmain.h"
#include "measurement/history.h"
#include "measurement/readtemp.h"
#include "measurement/recording.h"
#include "measurement/waithelper.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "sensorbus/txrx.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

namespace kp33 {

bool TMain::sessionThreadAlive() const { return m_thread && !m_thread->isFinished(); }

bool TMain::OpenPort(std::uint8_t n)
{
    PurgeCOM();
    CloseCOM();
    m_openedPort = 0;
    for (QAction *a : M_COM)
        a->setChecked(false);
    if (n == 0)
        return false;
    if (n <= 4 && OpenCOM(QStringLiteral("COM%1").arg(n).toStdString())) {
        m_openedPort = n;
        M_COM[n - 1]->setChecked(true);
        SetCOMTo(-1, 0, 0, 0, 0);
        SetModCOM(9600, 8, 0, 2, 1, 0);
        return true;
    }
    ErrorBox(QStringLiteral("Порт COM%1 недоступен!").arg(n));
    return false;
}

void TMain::runSensorSearch()
{
    if (m_closeRequested)
        return;
    BusyScope busy(this);
    TInitSensor dialog(this, m_settings.PORT, [this](std::uint8_t n) { return OpenPort(n); });
    dialog.exec();
}

void TMain::FormActivate()
{
    if (m_closeRequested)
        return;
    runSensorSearch();
    if (m_settings.AutoRun && RunState.load() == rsStopped && !sessionThreadAlive())
        BTN_Start_StopClick();
}

void TMain::SelectPort(int n)
{
    // A check mark is the open port's, not the click's.
    for (int i = 0; i < 4; ++i)
        M_COM[i]->setChecked(m_openedPort == i + 1);
    m_settings.PORT = static_cast<std::uint8_t>(n);
    // A port whose device went away (a pulled USB adapter) is open in name
    // only: choosing it again must open it anew, or a re-plugged adapter
    // could never be used without a detour through another port.
    if (m_openedPort != 0 && !PortAlive())
        m_openedPort = 0;
    if (m_settings.PORT != m_openedPort)
        FormActivate();
}

void TMain::setStartStopCaption(bool running)
{
    const QString caption = running ? QStringLiteral("&Стоп") : QStringLiteral("&Пуск");
    BTN_Start_Stop->setText(caption);
    M_Start_Stop->setText(caption);
    // Alt with a top-level menu's letter opens that menu. A button's caption
    // claims its letter as well, and "&Пуск" would share Alt+П with
    // "&Помощь", which Qt then hands to each in turn: the button gives it
    // up. Space and Enter still press it when it has the focus.
    if (!running)
        BTN_Start_Stop->setShortcut(QKeySequence());
}

void TMain::BTN_Start_StopClick()
{
    if (m_busy > 0 || m_closeRequested)
        return; // no second start or stop while a wait or a dialog is under way
    if (RunState.load() == rsStopped && !sessionThreadAlive())
        startSession();
    else
        stopSession();
}

void TMain::startSession()
{
    if (!SensorFound.load())
        runSensorSearch();
    if (!SensorFound.load() &&
        !QuestionBox(QStringLiteral("Датчик не обнаружен.\r\r\nПродолжить работу в демонстрационном режиме?")))
        return;
    // A close that came during the search or the question starts nothing.
    if (m_closeRequested)
        return;
    M_Reset->setEnabled(false);
    M_Port->setEnabled(false);
    RecordCounter = PeriodSave.load();
    setStartStopCaption(true);
    if (SensorFound.load())
        SetFullResolution();
    RunState = rsStarting;
    // The thread comes last: the bus is the main thread's until here, and
    // rsStarting is always written before the thread can write rsRunning.
    m_thread = new ReadTemp(m_receiver);
}

void TMain::stopSession()
{
    M_Port->setEnabled(true);
    setStartStopCaption(false);
    StopAlarm();
    stopAndWait();
    RunState = rsStopped;
    M_Reset->setEnabled(true);
    UpdateDisplay();
}

void TMain::requestStop()
{
    // A thread that ended its own session (the data file failed) has already
    // written rsFinished; asking it again would wait for nothing.
    for (TRunState s : {rsStarting, rsRunning}) {
        TRunState expected = s;
        if (RunState.compare_exchange_strong(expected, rsStopped))
            break;
    }
}

void TMain::reapThread()
{
    // The thread frees itself; it must be gone before the port or the window is.
    if (m_thread)
        m_thread->wait();
    // Its last update may still be on its way: shown now, before whatever
    // comes next, so a late title never stands over the stopped look.
    QCoreApplication::sendPostedEvents(m_receiver, QEvent::MetaCall);
}

void TMain::stopAndWait()
{
    BusyScope busy(this);
    requestStop();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    WaitWhileDispatching([] { return RunState.load() == rsFinished; }, QPointer<QThread>(m_thread.data()));
    QApplication::restoreOverrideCursor();
    reapThread();
}

bool TMain::stopWithin(std::uint32_t boundMs)
{
    BusyScope busy(this);
    requestStop();
    WaitWhileDispatching([] { return RunState.load() == rsFinished; }, QPointer<QThread>(m_thread.data()),
                         boundMs);
    // rsFinished is the thread's last word: from there it only returns.
    if (RunState.load() != rsFinished && sessionThreadAlive())
        return false;
    reapThread();
    return true;
}

void TMain::M_ResetClick()
{
    if (RunState.load() != rsStopped || sessionThreadAlive())
        return;
    history().Reset();
    UpdateDisplay();
}

void TMain::M_AutoRunClick()
{
    m_settings.AutoRun = !m_settings.AutoRun;
    M_AutoRun->setChecked(m_settings.AutoRun);
}

} // namespace kp33
