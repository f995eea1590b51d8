// The recording parameters dialog: the period field and its arrows, the
// enabled state, recording switched off and on and the data file switched
// while a session runs against the sensor simulator, refused names, a data
// file that cannot be opened, and the save-file dialog.

#include "dialogs/scaling.h"
#include "dialogs/filedialogseam.h"
#include "dialogs/messagebox.h"
#include "dialogs/pzd.h"
#include "dialogs/updown.h"
#include "measurement/datafile.h"
#include "measurement/probe.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QToolButton>
#include <QtTest>
#include <condition_variable>
#include <mutex>
#include <optional>

using namespace kp33;
using kp33::test::Probe;

namespace {

// Parks the measurement thread at the end of every cycle until the test lets
// it pass, so a test knows exactly which cycles ran while the dialog acted.
class GateClock final : public Clock {
public:
    explicit GateClock(Clock &inner) : m_inner(inner) {}
    std::uint32_t tickCount() override { return m_inner.tickCount(); }
    void sleep(std::uint32_t ms) override
    {
        // The sleep that ends a cycle; the conversion wait runs free.
        if (ms != ConversionWaitMs && QThread::currentThread() != qApp->thread()) {
            std::unique_lock lock(m_mutex);
            ++m_arrived;
            m_cv.wait(lock, [this] { return m_open || m_passes >= m_arrived; });
        }
        m_inner.sleep(ms);
    }
    QDateTime now() override { return m_inner.now(); }
    bool waitInput(const InputWait &w, int ms) override { return m_inner.waitInput(w, ms); }
    void pauseDispatching(std::uint32_t ms) override { m_inner.pauseDispatching(ms); }

    int arrived()
    {
        std::lock_guard lock(m_mutex);
        return m_arrived;
    }
    void pass(int cycles = 1)
    {
        std::lock_guard lock(m_mutex);
        m_passes += cycles;
        m_cv.notify_all();
    }
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }

private:
    Clock &m_inner;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_arrived = 0;
    int m_passes = 0;
    bool m_open = false;
};

// A session against the simulator, started the way the session controller
// starts one; the thread parks at the end of its first cycle.
struct Session {
    GateClock &gate;
    test::SensorSim sim{{"--temp", "23.5", "--conversion", "instant"}};
    Probe probe;
    QPointer<QThread> thread;

    explicit Session(GateClock &g) : gate(g)
    {
        PurgeCOM();
        CloseCOM();
        if (!sim.started() || !OpenCOM("COM1"))
            return;
        SetCOMTo(-1, 0, 0, 0, 0);
        SetModCOM(9600, 8, 0, 2, 1, 0);
        SensorFound = true;
        SensorType = stDS18B20;
        RunState = rsStarting;
        thread = new ReadTemp(&probe);
    }
    ~Session() { stop(); }
    // True once the thread has ended `cycles` cycles in all and waits at the gate.
    bool parkedAfter(int cycles)
    {
        (void)QTest::qWaitFor([&] { return gate.arrived() >= cycles || !thread || thread->isFinished(); }, 20000);
        return gate.arrived() == cycles;
    }
    void stop()
    {
        RunState = rsStopped;
        gate.open();
        WaitWhileDispatching([] { return RunState.load() == rsFinished; }, thread);
        if (thread)
            thread->wait();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        SensorFound = false;
    }
};

int rowCount(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? static_cast<int>(f.readAll().count('\n')) : -1;
}

template <typename T>
T *child(QWidget *dialog, const char *name)
{
    T *w = dialog->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

// Runs f as soon as the event loop turns: inside the dialog's hold wait when
// there is one, otherwise only after the handler has returned.
template <typename F>
void duringWait(QObject *context, F f)
{
    QTimer::singleShot(0, context, f);
}

} // namespace

class TestPZD : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void periodRules_data();
    void periodRules();
    void arrows_data();
    void arrows();
    void openingAndEnabledState_data();
    void openingAndEnabledState();
    void recordingOffAndOnWhileMeasuring();
    void okUnchangedLeavesFileAlone();
    void autoToChosenWhileMeasuring();
    void holdWhileStoppingThreadLives_data();
    void holdWhileStoppingThreadLives();
    void refusedNames_data();
    void refusedNames();
    void openFailureKeepsFileAndRecording_data();
    void openFailureKeepsFileAndRecording();
    void okChangedWhileNotRecording();
    void busyFileIsNoFailure_data();
    void busyFileIsNoFailure();
    void saveFileDialog_data();
    void saveFileDialog();

private:
    std::unique_ptr<TPZD> openDialog(QPointer<QThread> thread = {});
    void doAction(TPZD *d, const QString &action, const QString &path);

    QTemporaryDir m_config; // the user's configuration folder, shared by every Qt program
    std::unique_ptr<test::ProgramFolder> m_folder;
    std::unique_ptr<test::FakeClock> m_fake;
    std::unique_ptr<GateClock> m_gate;
    std::unique_ptr<test::ClockScope> m_scope;
    QList<MessageRequest> m_messages;
    std::function<void()> m_onMessage;
};

void TestPZD::initTestCase()
{
    // Before any QSettings exists: it keeps the first configuration folder it sees.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    QApplication::setFont(font);
}

void TestPZD::init()
{
    test::resetMeasurementState();
    IsWinNT = true;
    SensorFound = false;
    history().SetFileSave(QString());
    m_folder = std::make_unique<test::ProgramFolder>();
    m_fake = std::make_unique<test::FakeClock>(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)));
    m_gate = std::make_unique<GateClock>(*m_fake);
    m_scope = std::make_unique<test::ClockScope>(m_gate.get());
    m_messages.clear();
    m_onMessage = nullptr;
    SetMessageAnswerer([this](const MessageRequest &r) {
        m_messages << r;
        if (m_onMessage)
            m_onMessage();
        return true;
    });
}

void TestPZD::cleanup()
{
    SetBusyFileSeam(nullptr);
    (void)SaveHeldRows();
    SetMessageAnswerer(nullptr);
    SetDataFileChooser(nullptr);
    CloseDataFile();
    CloseCOM();
    m_scope.reset();
    m_gate.reset();
    m_fake.reset();
    m_folder.reset();
    IsWinNT = true;
}

std::unique_ptr<TPZD> TestPZD::openDialog(QPointer<QThread> thread)
{
    auto d = std::make_unique<TPZD>(nullptr, thread);
    d->show();
    d->activateWindow();
    if (!QTest::qWaitForWindowActive(d.get()))
        qWarning("dialog not active");
    return d;
}

// "ok": choose by hand, put path into the field, OK; "tick"/"untick": the box.
void TestPZD::doAction(TPZD *d, const QString &action, const QString &path)
{
    if (action != QLatin1String("ok")) {
        child<QCheckBox>(d, "NoSaveData")->click();
    } else {
        child<QRadioButton>(d, "FileDataItem1")->click();
        child<QLineEdit>(d, "FilePath")->setText(path);
        child<QPushButton>(d, "BTN_OK")->click();
    }
}

void TestPZD::periodRules_data()
{
    QTest::addColumn<bool>("winNT");
    QTest::addColumn<QString>("keys"); // '\b' is Backspace
    QTest::addColumn<QString>("shown"); // while the field has the focus
    QTest::addColumn<bool>("enter");    // leave with Enter (OK at once) rather than Tab, then OK
    QTest::addColumn<int>("stored");
    QTest::newRow("1 s: empty") << true << "" << "" << false << 1;
    QTest::newRow("2 s: empty") << false << "" << "" << false << 2;
    QTest::newRow("1 s: 0") << true << "0" << "0" << false << 1;
    QTest::newRow("2 s: 0") << false << "0" << "0" << false << 2;
    QTest::newRow("2 s: 1") << false << "1" << "1" << false << 2;
    QTest::newRow("1 s: 75") << true << "75" << "75" << false << 60;
    QTest::newRow("1 s: 7 stays") << true << "7" << "7" << false << 7;
    QTest::newRow("2 s: 7 to 6") << false << "7" << "7" << false << 6;
    QTest::newRow("2 s: 59 to 58") << false << "59" << "59" << false << 58;
    QTest::newRow("letters never appear") << true << "a4 b-" << "4" << false << 4;
    QTest::newRow("Backspace works") << true << "45\b" << "4" << false << 4;
    QTest::newRow("two characters at most") << true << "123" << "12" << false << 12;
    QTest::newRow("1 s: Enter with 75 stores 60") << true << "75" << "75" << true << 60;
    QTest::newRow("2 s: Enter with 7 stores 6") << false << "7" << "7" << true << 6;
}

void TestPZD::periodRules()
{
    QFETCH(bool, winNT);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(bool, enter);
    QFETCH(int, stored);
    IsWinNT = winNT;
    Save = true;
    PeriodSave = 10;
    auto d = openDialog();
    auto *edit = child<QLineEdit>(d.get(), "SavePeriod");
    edit->setFocus();
    QVERIFY(edit->hasFocus());
    edit->clear();
    for (const QChar c : keys) {
        if (c == QLatin1Char('\b'))
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, QString(c));
    }
    QCOMPARE(edit->text(), shown);
    if (enter) {
        QTest::keyClick(edit, Qt::Key_Return);
    } else {
        QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY(!edit->hasFocus());
        QCOMPARE(edit->text(), QString::number(stored)); // the field shows the rule's result on leaving
        child<QPushButton>(d.get(), "BTN_OK")->click();
    }
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QVERIFY(!d->isVisible());
    QCOMPARE(edit->text(), QString::number(stored));
    QCOMPARE(int(PeriodSave.load()), stored);
}

void TestPZD::arrows_data()
{
    QTest::addColumn<bool>("winNT");
    QTest::newRow("1 s cycle") << true;
    QTest::newRow("2 s cycle") << false;
}

void TestPZD::arrows()
{
    QFETCH(bool, winNT);
    IsWinNT = winNT;
    Save = true;
    PeriodSave = 10;
    const int step = winNT ? 1 : 2;
    auto d = openDialog();
    auto *edit = child<QLineEdit>(d.get(), "SavePeriod");
    auto *arrows = child<UpDown>(d.get(), "UpDownSavePeriod");
    for (int i = 0; i < 40; ++i)
        arrows->downButton()->click();
    QCOMPARE(edit->text(), QString::number(step)); // the lower bound holds
    QStringList expected, seen;
    for (int n = 2 * step; n <= TPZD::MaxPeriod; n += step)
        expected << QString::number(n);
    expected << QStringLiteral("60"); // and so does the upper
    for (int i = 0; i < expected.size(); ++i) {
        arrows->upButton()->click();
        seen << edit->text();
    }
    QCOMPARE(seen, expected);

    // The arrow keys in the field step it too; an odd number typed on a
    // two-second system steps along the even ones.
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(edit->text(), QString::number(60 - step));
    edit->setText(QStringLiteral("7"));
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->text(), QStringLiteral("8"));
    arrows->downButton()->click();
    QCOMPARE(edit->text(), QString::number(8 - step));
}

void TestPZD::openingAndEnabledState_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<bool>("chosen");
    QTest::newRow("recording, automatic name") << true << false;
    QTest::newRow("recording, chosen file") << true << true;
    QTest::newRow("not recording, automatic name") << false << false;
    QTest::newRow("not recording, chosen file") << false << true;
}

void TestPZD::openingAndEnabledState()
{
    QFETCH(bool, save);
    QFETCH(bool, chosen);
    Save = save;
    FileType = chosen;
    PeriodSave = 30;
    history().SetFileSave(m_folder->path() + "some.csv");
    auto d = openDialog();
    QCOMPARE(child<QLineEdit>(d.get(), "SavePeriod")->text(), QStringLiteral("30"));
    QCOMPARE(child<QCheckBox>(d.get(), "NoSaveData")->isChecked(), !save);
    QCOMPARE(child<QRadioButton>(d.get(), "FileDataItem1")->isChecked(), chosen);
    QCOMPARE(child<QRadioButton>(d.get(), "FileDataItem0")->isChecked(), !chosen);
    auto *path = child<QLineEdit>(d.get(), "FilePath");
    QCOMPARE(path->text(), m_folder->path() + "some.csv");
    for (const char *name : {"SavePeriod", "UpDownSavePeriod", "FileData", "FilePath"})
        QVERIFY2(child<QWidget>(d.get(), name)->isEnabled() == save, name);
    QCOMPARE(child<QPushButton>(d.get(), "BTN_SelectFile")->isEnabled(), save && chosen);
    QCOMPARE(path->isReadOnly(), !chosen);
    const QColor face = d->palette().color(QPalette::Active, QPalette::Button);
    QCOMPARE(path->palette().color(QPalette::Active, QPalette::Base) == face, !chosen);
    // Opening never touches the data file.
    QVERIFY(!DataFileOpen());
    QVERIFY(!QFileInfo::exists(m_folder->path() + "DATA"));
    QCOMPARE(Save.load(), save);

    // Choosing the other item follows the same rule at once.
    if (save) {
        child<QRadioButton>(d.get(), chosen ? "FileDataItem0" : "FileDataItem1")->click();
        QCOMPARE(path->isReadOnly(), chosen);
        QCOMPARE(child<QPushButton>(d.get(), "BTN_SelectFile")->isEnabled(), !chosen);
    }
}

void TestPZD::recordingOffAndOnWhileMeasuring()
{
    Save = true;
    RecordCounter = PeriodSave.load(); // as the start sequence presets it
    QVERIFY(OpenDataFile().ok);
    const QString file = m_folder->path() + "DATA/07-12-2026.csv";
    Session s(*m_gate);
    QVERIFY(s.thread);
    QVERIFY(s.parkedAfter(1));
    QCOMPARE(rowCount(file), 1);

    {
        auto d = openDialog(s.thread);
        bool ran = false, openDuring = false, saveDuring = false, busyDuring = false, visibleAfterClose = false;
        TRecordHold holdDuring = rhNone;
        duringWait(d.get(), [&] {
            ran = true;
            holdDuring = RecordHold.load();
            openDuring = DataFileOpen();
            saveDuring = Save.load();
            busyDuring = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            d->close(); // the close box while waiting
            visibleAfterClose = d->isVisible();
            m_gate->pass();
        });
        child<QCheckBox>(d.get(), "NoSaveData")->click();
        QVERIFY(ran);
        QCOMPARE(holdDuring, rhRequested);
        QVERIFY(openDuring && saveDuring && busyDuring && visibleAfterClose);
        // Closed within the one cycle the thread needed to answer.
        QVERIFY(!DataFileOpen());
        QVERIFY(!Save.load());
        QCOMPARE(RecordHold.load(), rhNone);
        QVERIFY(!QApplication::overrideCursor());
        // The close that came during the wait is a Cancel, and Cancel does not undo the tick.
        QVERIFY(!d->isVisible());
        QCOMPARE(d->result(), int(QDialog::Rejected));
    }
    QVERIFY(s.parkedAfter(2));
    m_gate->pass(3);
    QVERIFY(s.parkedAfter(5));
    QCOMPARE(rowCount(file), 1);
    QVERIFY(!Save.load());

    {
        auto d = openDialog(s.thread);
        auto *box = child<QCheckBox>(d.get(), "NoSaveData");
        QVERIFY(box->isChecked());
        box->click();
        // Reopened at once, before another cycle ran.
        QVERIFY(DataFileOpen());
        QVERIFY(Save.load());
        QCOMPARE(m_gate->arrived(), 5);
        child<QPushButton>(d.get(), "BTN_Cancel")->click();
    }
    QVERIFY(Save.load());
    m_gate->pass();
    QVERIFY(s.parkedAfter(6));
    QCOMPARE(rowCount(file), 2); // the counter went on meanwhile, so the row comes at once
    QVERIFY(s.probe.errors.isEmpty());
}

void TestPZD::okUnchangedLeavesFileAlone()
{
    Save = true;
    RecordCounter = PeriodSave.load();
    QVERIFY(OpenDataFile().ok);
    const QString file = m_folder->path() + "DATA/07-12-2026.csv";
    Session s(*m_gate);
    QVERIFY(s.parkedAfter(1));
    auto d = openDialog(s.thread);
    child<QLineEdit>(d.get(), "SavePeriod")->setText(QStringLiteral("3"));
    bool waited = false;
    duringWait(d.get(), [&] { waited = true; });
    child<QPushButton>(d.get(), "BTN_OK")->click();
    QVERIFY(!waited); // no hold was needed
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QCOMPARE(int(PeriodSave.load()), 3);
    QCOMPARE(int(RecordCounter.load()), 0);
    QVERIFY(DataFileOpen());
    QCOMPARE(history().FileSave(), file);
    QCOMPARE(RecordHold.load(), rhNone);
    // The count starts again: three cycles without a row, then one.
    m_gate->pass(3);
    QVERIFY(s.parkedAfter(4));
    QCOMPARE(rowCount(file), 1);
    m_gate->pass();
    QVERIFY(s.parkedAfter(5));
    QCOMPARE(rowCount(file), 2);
}

void TestPZD::autoToChosenWhileMeasuring()
{
    Save = true;
    RecordCounter = PeriodSave.load();
    QVERIFY(OpenDataFile().ok);
    const QString autoFile = m_folder->path() + "DATA/07-12-2026.csv";
    const QString chosen = m_folder->path() + "chosen.csv";
    Session s(*m_gate);
    QVERIFY(s.parkedAfter(1));
    auto d = openDialog(s.thread);
    auto *path = child<QLineEdit>(d.get(), "FilePath");
    QCOMPARE(path->text(), autoFile);
    QVERIFY(!child<QPushButton>(d.get(), "BTN_SelectFile")->isEnabled());
    child<QRadioButton>(d.get(), "FileDataItem1")->click();

    QStringList answers{QString(), chosen};
    QList<QPair<QWidget *, QString>> asked;
    SetDataFileChooser([&](QWidget *parent, const QString &initial) {
        asked << qMakePair(parent, initial);
        return answers.takeFirst();
    });
    child<QPushButton>(d.get(), "BTN_SelectFile")->click();
    QCOMPARE(path->text(), autoFile); // cancelled: the field keeps its text
    child<QPushButton>(d.get(), "BTN_SelectFile")->click();
    QCOMPARE(path->text(), chosen);
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked[0].first, static_cast<QWidget *>(d.get()));
    QCOMPARE(asked[0].second, autoFile);

    bool ran = false, typeDuring = true, openDuring = false;
    QString nameDuring;
    TRecordHold holdDuring = rhNone;
    duringWait(d.get(), [&] {
        ran = true;
        holdDuring = RecordHold.load();
        typeDuring = FileType.load();
        nameDuring = history().FileSave();
        openDuring = DataFileOpen();
        m_gate->pass();
    });
    child<QPushButton>(d.get(), "BTN_OK")->click();
    QVERIFY(ran);
    QCOMPARE(holdDuring, rhRequested);
    // Until the thread answered, nothing of the switch had happened.
    QVERIFY(!typeDuring);
    QCOMPARE(nameDuring, autoFile);
    QVERIFY(openDuring);
    QVERIFY(FileType.load());
    QCOMPARE(history().FileSave(), chosen);
    QVERIFY(DataFileOpen());
    QCOMPARE(RecordHold.load(), rhNone);
    QCOMPARE(d->result(), int(QDialog::Accepted));

    QVERIFY(s.parkedAfter(2)); // the held cycle wrote nowhere
    QCOMPARE(rowCount(autoFile), 1);
    QCOMPARE(rowCount(chosen), 0);
    m_gate->pass();
    QVERIFY(s.parkedAfter(3));
    QCOMPARE(rowCount(autoFile), 1);
    QCOMPARE(rowCount(chosen), 1);
    QVERIFY(s.probe.errors.isEmpty());
}

void TestPZD::holdWhileStoppingThreadLives_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("recording switched off") << "tick";
    QTest::newRow("file switched") << "ok";
}

void TestPZD::holdWhileStoppingThreadLives()
{
    QFETCH(QString, action);
    Save = true;
    RecordCounter = PeriodSave.load();
    QVERIFY(OpenDataFile().ok);
    Session s(*m_gate);
    QVERIFY(s.parkedAfter(1));
    RunState = rsStopped; // a stop is under way; the thread has not seen it yet
    auto d = openDialog(s.thread);
    TRecordHold holdDuring = rhNone;
    duringWait(d.get(), [&] {
        holdDuring = RecordHold.load();
        m_gate->pass();
    });
    doAction(d.get(), action, m_folder->path() + "chosen.csv");
    QCOMPARE(holdDuring, rhRequested);
    QCOMPARE(RecordHold.load(), rhNone);
    QCOMPARE(DataFileOpen(), action == QLatin1String("ok"));
    QCOMPARE(rowCount(m_folder->path() + "DATA/07-12-2026.csv"), 1);
    QVERIFY(s.probe.errors.isEmpty());
}

void TestPZD::refusedNames_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<bool>("fileType");
    QTest::addColumn<QString>("fileSave");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    const QString none = TPZD::NoFileMessage();
    const QString bad = TPZD::BadNameMessage();
    QTest::newRow("OK, empty path") << true << false << "" << "ok" << "" << none;
    QTest::newRow("OK, line feed") << true << false << "" << "ok" << "/tmp/a\nb.csv" << bad;
    QTest::newRow("OK, carriage return") << true << false << "" << "ok" << "/tmp/a.csv\r" << bad;
    QTest::newRow("OK, NUL") << true << false << "" << "ok" << QString("/tmp/a") + QChar(0) + "b" << bad;
    QTest::newRow("recording on, stored path empty") << false << true << "" << "untick" << "" << none;
    QTest::newRow("recording on, stored line break") << false << true << "/tmp/a\nb" << "untick" << "" << bad;
}

void TestPZD::refusedNames()
{
    QFETCH(bool, save);
    QFETCH(bool, fileType);
    QFETCH(QString, fileSave);
    QFETCH(QString, action);
    QFETCH(QString, path);
    QFETCH(QString, message);
    Save = save;
    FileType = fileType;
    PeriodSave = 5;
    if (save)
        QVERIFY(OpenDataFile().ok);
    const QString stored = save ? history().FileSave() : fileSave;
    history().SetFileSave(stored);
    auto d = openDialog();
    child<QLineEdit>(d.get(), "SavePeriod")->setText(QStringLiteral("9"));
    doAction(d.get(), action, path);
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(m_messages[0].text, message);
    QCOMPARE(m_messages[0].icon, QMessageBox::Critical);
    // The dialog stays open and nothing was stored.
    QVERIFY(d->isVisible());
    QCOMPARE(Save.load(), save);
    QCOMPARE(FileType.load(), fileType);
    QCOMPARE(history().FileSave(), stored);
    QCOMPARE(int(PeriodSave.load()), 5);
    QCOMPARE(DataFileOpen(), save);
    // A refused untick stays done, so the path can be put right here: a
    // stored path that cannot be used is never a dead end.
    QVERIFY(!child<QCheckBox>(d.get(), "NoSaveData")->isChecked());
    auto *edit = child<QLineEdit>(d.get(), "FilePath");
    QVERIFY(edit->isEnabled() && !edit->isReadOnly());
    QVERIFY(child<QPushButton>(d.get(), "BTN_SelectFile")->isEnabled());
    const QString good = m_folder->path() + "good.csv";
    edit->setText(good);
    child<QPushButton>(d.get(), "BTN_OK")->click();
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QVERIFY(Save.load());
    QVERIFY(FileType.load());
    QCOMPARE(history().FileSave(), good);
    QVERIFY(DataFileOpen());
    QVERIFY(QFile::exists(good));
    QCOMPARE(int(PeriodSave.load()), 9);
}

void TestPZD::openFailureKeepsFileAndRecording_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("measuring");
    QTest::addColumn<bool>("blockData"); // a file named DATA where the folder belongs
    QTest::newRow("OK, chosen file in a missing folder") << "ok" << false << false;
    QTest::newRow("OK while measuring") << "ok" << true << false;
    QTest::newRow("recording on, stored file's folder gone") << "untick" << false << false;
    QTest::newRow("recording on, DATA cannot be made") << "untick" << false << true;
}

void TestPZD::openFailureKeepsFileAndRecording()
{
    QFETCH(QString, action);
    QFETCH(bool, measuring);
    QFETCH(bool, blockData);
    const QString missing = m_folder->path() + "missing/x.csv";
    const QString autoFile = m_folder->path() + "DATA/07-12-2026.csv";
    const QString good = m_folder->path() + "good.csv";
    const bool ok = action == QLatin1String("ok");
    if (blockData) {
        QFile f(m_folder->path() + "DATA");
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // OK: recording into the automatic file; untick: recording off, the
    // stored file being a chosen one whose folder has gone, or the automatic one.
    Save = ok;
    FileType = !ok && !blockData;
    history().SetFileSave(ok || blockData ? QString() : missing);
    RecordCounter = PeriodSave.load();
    if (ok)
        QVERIFY(OpenDataFile().ok);
    const bool fileType = FileType.load();
    const QString fileSave = history().FileSave();
    std::unique_ptr<Session> s;
    if (measuring) {
        s = std::make_unique<Session>(*m_gate);
        QVERIFY(s->parkedAfter(1));
    }
    int cycles = 1;
    // The box stays up while a cycle runs, as a user reading it would let it.
    m_onMessage = [&] {
        if (s) {
            m_gate->pass();
            s->parkedAfter(++cycles);
        }
    };
    auto d = openDialog(s ? s->thread : QPointer<QThread>());
    doAction(d.get(), action, missing);

    // The message, and the dialog stays open with the file in use and
    // recording as they were.
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].text, blockData ? DirFailedMessage() : NoAccessMessage(missing, false));
    QCOMPARE(m_messages[0].caption, QStringLiteral("Ошибка"));
    QVERIFY(d->isVisible());
    QCOMPARE(Save.load(), ok);
    QCOMPARE(FileType.load(), fileType);
    QCOMPARE(history().FileSave(), fileSave);
    QCOMPARE(DataFileOpen(), ok);
    QCOMPARE(RecordHold.load(), rhNone);
    QVERIFY(!QFileInfo::exists(m_folder->path() + "missing"));
    if (s) {
        QCOMPARE(cycles, 2);
        QCOMPARE(rowCount(autoFile), 2); // the cycle under the box wrote to the old file
    }

    // The choice stays open for editing; OK with one that opens takes it.
    QVERIFY(!child<QCheckBox>(d.get(), "NoSaveData")->isChecked());
    if (blockData) {
        QVERIFY(QFile::remove(m_folder->path() + "DATA")); // put right outside the program
    } else {
        child<QRadioButton>(d.get(), "FileDataItem1")->click();
        child<QLineEdit>(d.get(), "FilePath")->setText(good);
    }
    if (s)
        duringWait(d.get(), [this] { m_gate->pass(); }); // lets the thread answer the hold
    child<QPushButton>(d.get(), "BTN_OK")->click();
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QVERIFY(Save.load());
    QVERIFY(DataFileOpen());
    QCOMPARE(history().FileSave(), blockData ? autoFile : good);
    QCOMPARE(RecordHold.load(), rhNone);
    if (s) {
        QVERIFY(s->parkedAfter(3)); // the held cycle wrote nowhere
        m_gate->pass();
        QVERIFY(s->parkedAfter(4));
        QCOMPARE(rowCount(autoFile), 2);
        QCOMPARE(rowCount(good), 1);
        QVERIFY(s->probe.errors.isEmpty());
    }
}

void TestPZD::okChangedWhileNotRecording()
{
    // Recording off with the automatic file; on, a file chosen, off again, OK.
    Save = false;
    history().SetFileSave(QString());
    const QString chosen = m_folder->path() + "chosen.csv";
    auto d = openDialog();
    auto *box = child<QCheckBox>(d.get(), "NoSaveData");
    box->click();
    QVERIFY(Save.load() && DataFileOpen());
    child<QRadioButton>(d.get(), "FileDataItem1")->click();
    child<QLineEdit>(d.get(), "FilePath")->setText(chosen);
    box->click();
    QVERIFY(!Save.load() && !DataFileOpen());
    child<QPushButton>(d.get(), "BTN_OK")->click();
    QCOMPARE(d->result(), int(QDialog::Accepted));
    // Only the choice and the path are stored; the data file stays closed.
    QVERIFY(FileType.load());
    QCOMPARE(history().FileSave(), chosen);
    QVERIFY(!Save.load());
    QVERIFY(!DataFileOpen());
    QVERIFY(!QFile::exists(chosen));
    QVERIFY(m_messages.isEmpty());
}

void TestPZD::busyFileIsNoFailure_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("recording on, the automatic file busy") << "untick";
    QTest::newRow("OK, the chosen file busy") << "ok";
}

// A file that another program holds is taken as the choice, without a box:
// rows wait for it and then go in.
void TestPZD::busyFileIsNoFailure()
{
    QFETCH(QString, action);
    const QString chosen = m_folder->path() + "mine.csv";
    const QString busy = action == QLatin1String("ok") ? chosen : m_folder->path() + "DATA/07-12-2026.csv";
    SetBusyFileSeam([busy](const QString &name) { return name == busy; });
    Save = action == QLatin1String("ok");
    if (Save.load())
        QVERIFY(OpenDataFile().ok); // recording into the automatic file
    auto d = openDialog();
    doAction(d.get(), action, chosen);
    QVERIFY(m_messages.isEmpty());
    QVERIFY(Save.load());
    QCOMPARE(history().FileSave(), busy);
    QVERIFY(!DataFileOpen());
    if (action == QLatin1String("ok"))
        QCOMPARE(d->result(), int(QDialog::Accepted));
    QVERIFY(WriteDataRow(20.0L).ok);
    QCOMPARE(HeldRowCount(), std::size_t(1));
    SetBusyFileSeam(nullptr);
    QVERIFY(WriteDataRow(21.0L).ok);
    QCOMPARE(rowCount(busy), 2);
}

void TestPZD::saveFileDialog_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    // The start is beside the current file, or where DATA/ is when that
    // file's folder is gone; that folder is the user's own when the program
    // folder cannot be written.
    QTest::addColumn<bool>("folderGone");
    QTest::newRow("bare name, data files") << 0 << "log" << "log.csv" << false;
    QTest::newRow("own extension kept") << 0 << "log.txt" << "log.txt" << false;
    QTest::newRow("bare name, all files") << 1 << "log" << "log" << false;
    QTest::newRow("existing file, no question") << 0 << "old.csv" << "old.csv" << false;
    QTest::newRow("folder gone, read-only program folder") << 0 << "log" << "log.csv" << true;
}

void TestPZD::saveFileDialog()
{
    QFETCH(int, filter);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QFETCH(bool, folderGone);
    {
        QFile old(m_folder->path() + "old.csv");
        QVERIFY(old.open(QIODevice::WriteOnly));
    }
    std::optional<test::UserFolders> user;
    if (folderGone)
        user.emplace();
    const QString start = folderGone ? user->data() : m_folder->path();
    QString startedIn;
    QString title;
    QStringList filters;
    bool noQuestion = false;
    QStringList boxes;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle();
        startedIn = dialog->directory().absolutePath() + '/';
        filters = dialog->nameFilters();
        noQuestion = dialog->testOption(QFileDialog::DontConfirmOverwrite);
        dialog->selectNameFilter(filters.value(filter));
        dialog->selectFile(typed);
        // Any question box that accepting might raise is noted and dismissed.
        QTimer::singleShot(0, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes << box->text();
                box->reject();
            }
        });
        static_cast<QDialog *>(dialog)->accept();
    });
    const QString got = ChooseDataFile(nullptr, m_folder->path() + (folderGone ? "gone/x.csv" : "old.csv"));
    QCOMPARE(title, QStringLiteral("Выбор файла"));
    QCOMPARE(startedIn, start);
    QCOMPARE(filters, (QStringList{"Файлы данных (*.csv)", "Все файлы (*)"}));
    QVERIFY(noQuestion);
    QVERIFY(boxes.isEmpty());
    QCOMPARE(got, start + result);
    // Qt's file dialog keeps its history in a file that every Qt program of
    // the user shares; this program writes nothing there.
    QCOMPARE(QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

QTEST_MAIN(TestPZD)
#include "tst_pzd.moc"
