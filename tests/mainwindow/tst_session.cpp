// Session control and the sensor search: start, stop and the wait, the
// demonstration question, the DS18B20 resolution step, ports, the search's
// findings.

#include "dialogs/scaling.h"
#include "dialogs/initsensor.h"
#include "windowtest.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

using namespace kp33;
using test::child;

namespace {

struct SessionState {
    QString button, item;
    bool resetEnabled, portEnabled;
    bool operator==(const SessionState &) const = default;
};

SessionState state(TMain &w)
{
    return {child<QPushButton>(&w, "BTN_Start_Stop")->text(), child<QAction>(&w, "M_Start_Stop")->text(),
            child<QAction>(&w, "M_Reset")->isEnabled(), child<QMenu>(&w, "M_Port")->isEnabled()};
}

const SessionState Stopped{"&Пуск", "&Пуск", true, true};
const SessionState Running{"&Стоп", "&Стоп", false, false};

} // namespace

class TestSession : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }

private slots:
    void initTestCase();
    void demonstrationYesRunsAndStops();
    void titleAfterStopIsTheIdleOne();
    void demonstrationNoChangesNothing();
    void hourglassDuringStopWait();
    void resolutionStep_data();
    void resolutionStep();
    void sensorSessionMeasures();
    void portSelection();
    void unavailablePortMakesNoAttempts();
    void romFindings_data();
    void romFindings();
    void searchThroughSimulator_data();
    void searchThroughSimulator();
    void stopAfterThreadEndedItselfDoesNotWait();
    void resetAndAutoRun();
    void vanishedAdapterCanBeChosenAgain();
};

void TestSession::initTestCase() { ApplyLookAndFeel(*qApp); }

void TestSession::demonstrationYesRunsAndStops()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QCOMPARE(state(w), Stopped);
    history().StoreAndUpdate(5.0L); // a stop-start continues the same history
    w.BTN_Start_StopClick();
    // No sensor: a second search (on COM1, which does not exist here), then the question.
    QCOMPARE(fx.messages.last().caption, QStringLiteral("Вопрос"));
    QCOMPARE(fx.messages.last().text, QStringLiteral("Датчик не обнаружен.\r\r\nПродолжить работу в демонстрационном режиме?"));
    QVERIFY(fx.messages.last().question);
    QCOMPARE(state(w), Running);
    QVERIFY(RunState.load() == rsStarting || RunState.load() == rsRunning);
    QVERIFY(QTest::qWaitFor([] { return RunState.load() == rsRunning; }, 5000));
    QVERIFY(test::waitCycles(w, 3));
    QVERIFY(history().Snapshot().SampleCount >= 3);
    w.BTN_Start_StopClick();
    QCOMPARE(state(w), Stopped);
    QCOMPARE(RunState.load(), rsStopped);
    QVERIFY(!w.sessionThreadAlive());
    QCOMPARE(w.TempIndicator().Text, QStringLiteral("- - - °C"));
    QCOMPARE(w.ApplicationTitle(), QStringLiteral("Термометр KP33"));
    QVERIFY(history().Snapshot().SampleCount >= 4);
    w.close();
}

void TestSession::titleAfterStopIsTheIdleOne()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    // On the fake clock every cycle overruns its second (no pause follows),
    // so a stop always lands right behind a cycle's title.
    for (int round = 0; round < 10; ++round) {
        w.BTN_Start_StopClick();
        QVERIFY(test::waitCycles(w, 2));
        w.BTN_Start_StopClick();
        QCOMPARE(RunState.load(), rsStopped);
        // Whatever the thread sent before it ended has arrived by now.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(w.ApplicationTitle(), QStringLiteral("Термометр KP33"));
    }
    w.close();
}

void TestSession::demonstrationNoChangesNothing()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    fx.answerYes = false;
    TMain w;
    QVERIFY(w.FormCreate());
    RecordCounter = 77;
    w.BTN_Start_StopClick();
    QCOMPARE(state(w), Stopped);
    QCOMPARE(RunState.load(), rsStopped);
    QVERIFY(!w.sessionThreadAlive());
    QCOMPARE(int(RecordCounter.load()), 77);
    w.close();
}

void TestSession::hourglassDuringStopWait()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    w.BTN_Start_StopClick();
    QVERIFY(QTest::qWaitFor([] { return RunState.load() == rsRunning; }, 5000));
    // Seen from inside the wait: the thread's display update runs while the
    // main thread waits, under the hourglass, with the stop look already set.
    bool sawWait = false;
    SessionState during;
    QObject probe;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &probe, [&] {
        if (RunState.load() == rsStopped && w.sessionThreadAlive() && QApplication::overrideCursor()) {
            sawWait = QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            during = state(w);
        }
    });
    poll.start(0);
    w.BTN_Start_StopClick();
    poll.stop();
    QVERIFY(!QApplication::overrideCursor());
    if (sawWait) // the thread may end before the poll gets a turn
        QCOMPARE(during, (SessionState{"&Пуск", "&Пуск", false, true}));
    w.close();
}

void TestSession::resolutionStep_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<QStringList>("copies");
    for (int r : {9, 10, 11})
        QTest::newRow(qPrintable(QString("DS18B20 %1 bit").arg(r)))
            << "ds18b20" << r << QStringList{"COPY th=0x14 tl=0x0A config=0x7F"};
    QTest::newRow("DS18B20 12 bit untouched") << "ds18b20" << 12 << QStringList{};
    QTest::newRow("DS18S20 never") << "ds18s20" << 12 << QStringList{};
}

void TestSession::resolutionStep()
{
    QFETCH(QString, family);
    QFETCH(int, resolution);
    QFETCH(QStringList, copies);
    test::WindowFixture fx;
    test::SensorSim sim({"--family", family, "--resolution", QString::number(resolution), "--th", "20", "--tl",
                         "10", "--conversion", "instant"});
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    w.FormActivate(); // the search on COM1 = the simulator
    QVERIFY(SensorFound.load());
    w.BTN_Start_StopClick();
    QVERIFY(test::waitCycles(w, 2));
    w.BTN_Start_StopClick();
    QCOMPARE(sim.trace("COPY"), copies);
    QCOMPARE(sim.trace("CMD 0x4E").size(), copies.size());
    QCOMPARE(sim.errors(), QString());
    w.close();
}

void TestSession::sensorSessionMeasures()
{
    test::WindowFixture fx;
    test::SensorSim sim({"--temp", "23.5", "--conversion", "instant"});
    fx.writeIni("[DATA]\nPeriodSave=10\n");
    TMain w;
    QVERIFY(w.FormCreate());
    w.FormActivate();
    QCOMPARE(w.OpenedPort(), 1);
    QVERIFY(child<QAction>(&w, "M_COM1")->isChecked());
    w.BTN_Start_StopClick();
    QVERIFY(fx.messages.isEmpty()); // a sensor: no question
    QVERIFY(test::waitCycles(w, 3));
    QCOMPARE(w.TempIndicator().Text, QStringLiteral("23.5 °C"));
    QCOMPARE(child<QLabel>(&w, "OutMAX")->text(), QStringLiteral("23.5 °C  "));
    QVERIFY(QTest::qWaitFor([&] { return w.ApplicationTitle() == "t = 23.5 °C"; }, 5000));
    const int draws = w.indicatorDraws();
    w.BTN_Start_StopClick();
    QVERIFY(w.indicatorDraws() - draws < 10); // fewer cycles than one period
    // Recording on by default: the first cycle wrote a row at once, and the
    // period of ten cycles had not come round again.
    QFile data(fx.folder->path() + "DATA/07-12-2026.csv");
    QVERIFY(data.open(QIODevice::ReadOnly));
    const QByteArray rows = data.readAll();
    QCOMPARE(rows.count('\n'), 1);
    QVERIFY2(rows.startsWith("12:00:") && rows.endsWith(",23.5,-55.0,125.0\r\n"), rows.constData());
    w.close();
    QVERIFY(fx.ini().contains("PORT=1\n"));
}

void TestSession::portSelection()
{
    test::WindowFixture fx;
    test::SensorSim sim;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QVERIFY(child<QAction>(&w, "M_COM1")->isEnabled()); // the probe found the simulator
    w.FormActivate();
    const int resets = sim.trace("RESET").size();
    QVERIFY(resets >= 1);
    // The open port's item does nothing.
    child<QAction>(&w, "M_COM1")->trigger();
    QCOMPARE(sim.trace("RESET").size(), resets);
    QVERIFY(child<QAction>(&w, "M_COM1")->isChecked());
    // Another port reruns the search there; it is not available, so the
    // message, and no port stays open.
    setPortPath(2, (fx.folder->path() + "no-such-port").toStdString());
    w.SelectPort(2);
    QCOMPARE(fx.messageTexts().last(), QStringLiteral("Порт COM2 недоступен!"));
    QCOMPARE(w.OpenedPort(), 0);
    QVERIFY(!child<QAction>(&w, "M_COM1")->isChecked());
    QVERIFY(!child<QAction>(&w, "M_COM2")->isChecked());
    QVERIFY(!SensorFound.load());
    // Back to COM1: found again.
    w.SelectPort(1);
    QVERIFY(SensorFound.load());
    w.close();
    QVERIFY(fx.ini().contains("PORT=1\n"));
}

void TestSession::unavailablePortMakesNoAttempts()
{
    test::WindowFixture fx;
    setPortPath(1, (fx.folder->path() + "absent").toStdString());
    TInitSensor *shown = nullptr;
    bool visibleAfterKeys = false;
    TInitSensor dialog(nullptr, 1, [&](std::uint8_t) {
        // In the middle of the search the user presses Esc and Alt+F4, and
        // a window manager asks the dialog to close: the search goes on.
        QTest::keyClick(shown, Qt::Key_Escape);
        QTest::keyClick(shown, Qt::Key_F4, Qt::AltModifier);
        shown->close();
        visibleAfterKeys = shown->isVisible();
        return false;
    });
    shown = &dialog;
    const std::uint64_t t0 = fx.clock->sleptMs();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(visibleAfterKeys);
    QCOMPARE(child<QLabel>(&dialog, "Sensor")->text(), QStringLiteral("Датчик не обнаружен!"));
    // Only the start delay and the result display: no attempts, no pauses.
    QCOMPARE(fx.clock->sleptMs() - t0, std::uint64_t(TInitSensor::StartDelayMs + TInitSensor::ShowResultMs));
    QVERIFY(!SensorFound.load());
}

void TestSession::romFindings_data()
{
    QTest::addColumn<QByteArray>("rom");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("type");
    QTest::newRow("0x10, r6 0 r5 7") << QByteArray::fromHex("10010203040700ff") << "Найден: DS1820" << int(stDS1820);
    QTest::newRow("0x10, r6 0 r5 8") << QByteArray::fromHex("10010203040800ff") << "Найден: DS18S20" << int(stDS18S20);
    QTest::newRow("0x10, r6 1") << QByteArray::fromHex("10ffffffff0001ff") << "Найден: DS18S20" << int(stDS18S20);
    QTest::newRow("0x10, r4 plays no part") << QByteArray::fromHex("10ffffffff0700ff") << "Найден: DS1820" << int(stDS1820);
    QTest::newRow("0x28") << QByteArray::fromHex("280102030405069e") << "Найден: DS18B20" << int(stDS18B20);
    QTest::newRow("other") << QByteArray::fromHex("220102030405069e") << "Найдено неизвестное устройство!" << int(stUnknown);
}

void TestSession::romFindings()
{
    QFETCH(QByteArray, rom);
    QFETCH(QString, caption);
    QFETCH(int, type);
    const RomFinding f = DescribeRom(reinterpret_cast<const std::uint8_t *>(rom.constData()));
    QCOMPARE(f.caption, caption);
    QCOMPARE(int(f.type), type);
}

void TestSession::searchThroughSimulator_data()
{
    QTest::addColumn<QString>("rom");
    QTest::addColumn<bool>("found");
    QTest::newRow("valid DS18B20") << "280102030405069E" << true;
    QTest::newRow("one bit changed") << "280102030405069F" << false;
    QTest::newRow("line held low") << "" << false;
}

void TestSession::searchThroughSimulator()
{
    QFETCH(QString, rom);
    QFETCH(bool, found);
    test::WindowFixture fx;
    test::SensorSim sim(rom.isEmpty() ? QStringList{"--line-low"} : QStringList{"--rom", rom});
    TInitSensor dialog(nullptr, 1, [](std::uint8_t) { return test::openPort(); });
    QCOMPARE(child<QLabel>(&dialog, "FindSensor")->text(), QStringLiteral("Ищу датчик на порте COM1..."));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Инициализация датчика"));
    const std::uint64_t t0 = fx.clock->sleptMs();
    dialog.exec();
    QCOMPARE(SensorFound.load(), found);
    QLabel *sensor = child<QLabel>(&dialog, "Sensor");
    if (found) {
        QCOMPARE(sensor->text(), QStringLiteral("Найден: DS18B20"));
        QCOMPARE(child<QLabel>(&dialog, "SN")->text(), QStringLiteral("Серийный номер: 060504030201h"));
        QCOMPARE(SensorROM[0].load(), 0x28060504u);
        QCOMPARE(SensorROM[1].load(), 0x0302019Eu);
        QCOMPARE(SensorType.load(), stDS18B20);
        QCOMPARE(sim.trace("RESET").size(), 1);
    } else {
        QCOMPARE(sensor->text(), QStringLiteral("Датчик не обнаружен!"));
        QVERIFY(sensor->font().bold());
        QCOMPARE(sensor->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QCOMPARE(SensorType.load(), stUnknown);
        QCOMPARE(SensorROM[0].load(), 0u);
        if (!rom.isEmpty()) // a line held low hides the resets from the trace
            QCOMPARE(sim.trace("RESET").size(), TInitSensor::Attempts);
        // Three attempts, each followed by its pause.
        QCOMPARE(fx.clock->sleptMs() - t0, std::uint64_t(TInitSensor::StartDelayMs + 3 * TInitSensor::RetryPauseMs +
                                                          TInitSensor::ShowResultMs));
    }
}

void TestSession::stopAfterThreadEndedItselfDoesNotWait()
{
    test::WindowFixture fx;
    TMain w;
    QVERIFY(w.FormCreate());
    FileType = true;
    history().SetFileSave("/dev/full");
    w.BTN_Start_StopClick(); // demonstration; its first row fails
    // The thread ends its own session and asks the window to close; the close
    // must neither hang nor wait for an rsFinished that already came.
    QVERIFY(QTest::qWaitFor([&] { return fx.ini().contains("[GENERAL]"); }, 10000));
    QCOMPARE(RunState.load(), rsStopped);
    QVERIFY(!w.sessionThreadAlive());
    QVERIFY(fx.messageTexts().contains(NoAccessMessage("/dev/full")));
    FileType = false;
}

void TestSession::resetAndAutoRun()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[GENERAL]\nAutoRun=1\n");
    TMain w;
    QVERIFY(w.FormCreate());
    history().StoreAndUpdate(30.0L);
    w.M_ResetClick();
    QCOMPARE(history().Snapshot().SampleCount, 0);
    // AutoRun: the activation's search finds nothing, so the start asks.
    w.FormActivate();
    QCOMPARE(state(w), Running);
    QVERIFY(test::waitCycles(w, 1));
    w.M_ResetClick(); // disabled while measuring: no effect
    QVERIFY(history().Snapshot().SampleCount >= 1);
    w.BTN_Start_StopClick();
    w.M_AutoRunClick();
    w.close();
    QVERIFY(fx.ini().contains("AutoRun=0"));
}

void TestSession::vanishedAdapterCanBeChosenAgain()
{
    test::WindowFixture fx;
    const QString ctl = fx.folder->path() + "control";
    test::SensorSim sim({"--temp", "22.0", "--conversion", "instant", "--vanish-after", "2", "--control", ctl});
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    w.FormActivate();
    w.BTN_Start_StopClick();
    // The adapter is pulled: the window keeps working and shows the error.
    QVERIFY(QTest::qWaitFor([&] { return w.TempIndicator().Text == "Ошибка датчика!"; }, 10000));
    QVERIFY(!PortAlive());
    w.BTN_Start_StopClick();
    QCOMPARE(RunState.load(), rsStopped);
    {
        QFile control(ctl);
        QVERIFY(control.open(QIODevice::WriteOnly));
        control.write("plug\n");
    }
    const QString again = sim.nextPortLine();
    QVERIFY(!again.isEmpty());
    setPortPath(1, again.toStdString());
    // Choosing the same port again opens the new device node and finds the sensor.
    w.SelectPort(1);
    QVERIFY(PortAlive());
    QVERIFY(SensorFound.load());
    w.BTN_Start_StopClick();
    QVERIFY(QTest::qWaitFor([&] { return w.TempIndicator().Text == "22.0 °C"; }, 10000));
    w.BTN_Start_StopClick();
    w.close();
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
