// The main window: layout, menu, the settings on the controls, the life of
// the window from creation to close, the single instance.

#include "dialogs/scaling.h"
#include "dialogs/colordialogseam.h"
#include "dialogs/colorref.h"
#include "dialogs/params.h"
#include "dialogs/pzd.h"
#include "mainwindow/signalclose.h"
#include "mainwindow/singleinstance.h"
#include "windowtest.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <atomic>
#include <condition_variable>
#include <QTimer>
#include <csignal>
#include <functional>
#include <mutex>
#include <utility>

using namespace kp33;
using test::child;

namespace {

// The fake clock, with the measurement thread held at its next wait until
// released, as a thread on a hung driver or a slow disk would be held; and a
// look at the files the moment the main thread first passes time.
class HoldingClock final : public Clock {
public:
    explicit HoldingClock(test::FakeClock &inner) : m_inner(inner) {}
    std::uint32_t tickCount() override { return m_inner.tickCount(); }
    void sleep(std::uint32_t ms) override
    {
        if (QThread::currentThread() == qApp->thread()) {
            if (onMainSleep)
                std::exchange(onMainSleep, nullptr)();
        } else {
            holdHere();
        }
        m_inner.sleep(ms);
    }
    QDateTime now() override { return m_inner.now(); }
    bool waitInput(const InputWait &wait, int ms) override
    {
        if (QThread::currentThread() != qApp->thread())
            holdHere();
        return m_inner.waitInput(wait, ms);
    }
    void pauseDispatching(std::uint32_t ms) override { m_inner.pauseDispatching(ms); }

    void hold() { m_hold = true; }
    bool waitHeld()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_held; });
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_hold = false;
        m_changed.notify_all();
    }
    // Runs once, on the main thread's first pass of time.
    std::function<void()> onMainSleep;

private:
    void holdHere()
    {
        if (!m_hold.load())
            return;
        std::unique_lock lock(m_mutex);
        m_held = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_hold.load(); });
        m_held = false;
    }

    test::FakeClock &m_inner;
    std::atomic<bool> m_hold{false};
    std::mutex m_mutex; // protects m_held; with m_changed
    std::condition_variable m_changed;
    bool m_held = false;
};

} // namespace

class TestTMain : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }

private slots:
    void initTestCase();
    void layout_data();
    void layout();
    void windowIsFixed();
    void menu_data();
    void menu();
    void tabOrder();
    void keyboardStartsOnStartStop();
    void altLetterOpensItsMenu_data();
    void altLetterOpensItsMenu();
    void groupFramesKeepOffTheirControls_data();
    void groupFramesKeepOffTheirControls();
    void statisticsKeepOffTheirCaptions_data();
    void statisticsKeepOffTheirCaptions();
    void settingsOnControlsAndBack();
    void freshFolderShowsDefaults();
    void closeOrder();
    void closeWhileMeasuringWaitsThenSaves();
    void closeDuringModalIsDeferred();
    void sigtermClosesInOrder();
    void endOfSessionClosesBeforeTheBoxReturns();
    void endOfSessionKeepsItsBound();
    void failedSaveBoxGivesWayToTheNextClose();
    void dataFileFailureAtStartSavesNothing_data();
    void dataFileFailureAtStartSavesNothing();
    void busyDataFileKeepsMeasuringAndRowsBeside();
    void receiverSide();
    void secondInstanceBringsFirstForward();
    void colourDialogRecolours();
    void aboutFromMenuAndSystemCommand();
};

void TestTMain::initTestCase() { ApplyLookAndFeel(*qApp); }

void TestTMain::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hint");
    const QString cur = "Текущее значение температуры";
    QTest::newRow("Bevel1") << "Bevel1" << QRect(8, 0, 617, 233) << "" << "";
    QTest::newRow("FrameTemp") << "FrameTemp" << QRect(112, 248, 281, 73) << "" << cur;
    QTest::newRow("Panel3") << "Panel3" << QRect(8, 248, 89, 177) << "" << cur;
    QTest::newRow("OutMIN") << "OutMIN" << QRect(112, 328, 89, 25) << "- - - °C  " << "Минимальное значение температуры";
    QTest::newRow("OutAVG") << "OutAVG" << QRect(208, 328, 89, 25) << "- - - °C  " << "Среднее значение температуры";
    QTest::newRow("OutMAX") << "OutMAX" << QRect(304, 328, 89, 25) << "- - - °C  " << "Максимальное значение температуры";
    QTest::newRow("Label5") << "Label5" << QRect(8, 6, 24, 13) << "Мин." << "";
    QTest::newRow("Label4") << "Label4" << QRect(8, 6, 16, 13) << "Ср." << "";
    QTest::newRow("Label3") << "Label3" << QRect(8, 6, 30, 13) << "Макс." << "";
    QTest::newRow("GB2") << "GB2" << QRect(112, 360, 281, 65) << "Допустимая температура, °C" << "";
    QTest::newRow("GB1") << "GB1" << QRect(408, 243, 217, 110) << "Границы графика, °C" << "";
    QTest::newRow("BTN_Start_Stop") << "BTN_Start_Stop" << QRect(432, 384, 75, 25) << "&Пуск" << "";
    QTest::newRow("BTN_Exit") << "BTN_Exit" << QRect(528, 384, 75, 25) << "&Выход" << "";
    QTest::newRow("ThermBG") << "ThermBG" << QRect(18, 10, 53, 156) << "" << "";
    QTest::newRow("ThermP") << "ThermP" << QRect(8, 10, 73, 157) << "" << "";
    QTest::newRow("LoD") << "LoD" << QRect(28, 18, 38, 13) << "нижняя" << "";
    QTest::newRow("HiD") << "HiD" << QRect(148, 18, 41, 13) << "верхняя" << "";
    QTest::newRow("EditLoT") << "EditLoT" << QRect(28, 38, 41, 21) << "-55.0" << "";
    QTest::newRow("SpinLoT") << "SpinLoT" << QRect(69, 38, 16, 21) << "" << "";
    QTest::newRow("EditHiT") << "EditHiT" << QRect(148, 38, 41, 21) << "125.0" << "";
    QTest::newRow("SpinHiT") << "SpinHiT" << QRect(189, 38, 16, 21) << "" << "";
    QTest::newRow("AutoScale") << "AutoScale" << QRect(48, 80, 137, 17) << "Автомасштабирование" << "";
    QTest::newRow("MinT") << "MinT" << QRect(16, 16, 47, 13) << "не менее" << "";
    QTest::newRow("MaxT") << "MaxT" << QRect(88, 16, 45, 13) << "не более" << "";
    QTest::newRow("EditLoL") << "EditLoL" << QRect(16, 36, 41, 21) << "-55.0" << "";
    QTest::newRow("SpinLoL") << "SpinLoL" << QRect(57, 36, 16, 21) << "" << "";
    QTest::newRow("EditHiL") << "EditHiL" << QRect(88, 36, 41, 21) << "125.0" << "";
    QTest::newRow("SpinHiL") << "SpinHiL" << QRect(129, 36, 16, 21) << "" << "";
    QTest::newRow("ControlT") << "ControlT" << QRect(160, 38, 105, 17) << "Контролировать" << "";
}

void TestTMain::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, hint);
    test::WindowFixture fx;
    TMain w;
    QVERIFY(w.FormCreate());
    QWidget *c = w.findChild<QWidget *>(name);
    QVERIFY2(c, qPrintable(name));
    QCOMPARE(c->geometry(), geometry);
    QCOMPARE(c->toolTip(), hint);
    QString shown;
    if (auto *l = qobject_cast<QLabel *>(c))
        shown = l->text();
    else if (auto *b = qobject_cast<QAbstractButton *>(c))
        shown = b->text();
    else if (auto *g = qobject_cast<QGroupBox *>(c))
        shown = g->title();
    else if (auto *e = qobject_cast<QLineEdit *>(c)) {
        shown = e->text();
        QCOMPARE(e->maxLength(), 5);
    }
    QCOMPARE(shown, text);
}

void TestTMain::windowIsFixed()
{
    test::WindowFixture fx;
    TMain w;
    QVERIFY(w.FormCreate());
    QCOMPARE(w.centralWidget()->size(), QSize(632, 434));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(w.windowTitle(), QStringLiteral("Виртуальный термометр KP33"));
    QCOMPARE(w.ApplicationTitle(), QStringLiteral("Термометр KP33"));
    QCOMPARE(w.font().family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(w.font().pixelSize(), 11);
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    // Every drawn size, the 32 px one the designed picture itself.
    QCOMPARE(w.windowIcon().availableSizes(),
             (QList<QSize>{{16, 16}, {20, 20}, {24, 24}, {32, 32}, {40, 40}, {48, 48}, {64, 64}, {256, 256}}));
    QCOMPARE(w.windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32),
             QImage(QStringLiteral(":/kp33.png")).convertToFormat(QImage::Format_ARGB32));
}

void TestTMain::menu_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::addColumn<QString>("menu");
    QTest::newRow("M_Start_Stop") << "M_Start_Stop" << "&Пуск" << QKeySequence(Qt::Key_F9) << "M_Action";
    QTest::newRow("M_Reset") << "M_Reset" << "&Сброс" << QKeySequence(Qt::Key_F8) << "M_Action";
    QTest::newRow("M_Exit") << "M_Exit" << "&Выход" << QKeySequence(Qt::ALT | Qt::Key_X) << "M_Action";
    QTest::newRow("M_AS") << "M_AS" << "&Аварийная сигнализация" << QKeySequence(Qt::Key_F5) << "M_Options";
    QTest::newRow("N1") << "N1" << "&Датчик..." << QKeySequence(Qt::Key_F4) << "M_Options";
    QTest::newRow("M_PZD") << "M_PZD" << "&Запись данных..." << QKeySequence() << "M_Options";
    QTest::newRow("M_AutoRun") << "M_AutoRun" << "А&втозапуск процесса измерения" << QKeySequence() << "M_Options";
    QTest::newRow("N3") << "N3" << "&Справка..." << QKeySequence(Qt::Key_F1) << "N2";
    QTest::newRow("N4") << "N4" << "&О программе..." << QKeySequence() << "N2";
    for (int n = 1; n <= 4; ++n)
        QTest::newRow(qPrintable(QString("M_COM%1").arg(n))) << QString("M_COM%1").arg(n) << QString("COM&%1").arg(n)
                                                             << QKeySequence() << "M_Port";
}

void TestTMain::menu()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QKeySequence, shortcut);
    QFETCH(QString, menu);
    test::WindowFixture fx;
    TMain w;
    QVERIFY(w.FormCreate());
    QAction *a = w.findChild<QAction *>(name);
    QVERIFY2(a, qPrintable(name));
    QCOMPARE(a->text(), text);
    QCOMPARE(a->shortcut(), shortcut);
    QMenu *m = w.findChild<QMenu *>(menu);
    QVERIFY(m);
    QVERIFY(m->actions().contains(a));

    // The top-level menus in order, with their captions.
    const QList<QAction *> top = w.menuBar()->actions();
    QCOMPARE(top.size(), 3);
    QCOMPARE(top[0]->text(), QStringLiteral("&Действие"));
    QCOMPARE(top[1]->text(), QStringLiteral("&Настройки"));
    QCOMPARE(top[2]->text(), QStringLiteral("&Помощь"));
    const QList<QAction *> options = w.findChild<QMenu *>("M_Options")->actions();
    QStringList order;
    for (QAction *o : options)
        order << (o->objectName().isEmpty() ? o->text() : o->objectName());
    QCOMPARE(order, (QStringList{"M_AS", "N1", "M_PZD", "&Порт", "N5", "M_AutoRun"}));
}

void TestTMain::tabOrder()
{
    test::WindowFixture fx;
    fx.writeIni("[GENERAL]\nAutoScale=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QStringList chain;
    QWidget *start = child<QWidget>(&w, "BTN_Start_Stop");
    QWidget *c = start;
    do {
        if (c->focusPolicy() & Qt::TabFocus)
            chain << c->objectName();
        c = c->nextInFocusChain();
    } while (c && c != start && chain.size() < 20);
    QCOMPARE(chain, (QStringList{"BTN_Start_Stop", "BTN_Exit", "EditLoT", "EditHiT", "AutoScale", "EditLoL",
                                 "EditHiL", "ControlT"}));
}

void TestTMain::keyboardStartsOnStartStop()
{
    test::WindowFixture fx;
    fx.writeIni(QByteArray("[DATA]\nSave=0\n") + test::NoPortIni);
    TMain w;
    QVERIFY(w.FormCreate());
    QVERIFY(fx.showAndSettle(w));
    auto *button = child<QPushButton>(&w, "BTN_Start_Stop");
    QCOMPARE(QApplication::focusWidget(), button);
    // Space presses it: no sensor, so the question, answered Yes.
    QTest::keyClick(w.windowHandle(), Qt::Key_Space);
    QVERIFY(QTest::qWaitFor([] { return RunState.load() == rsRunning; }, 5000));
    // Over a window on screen, the question stands over it.
    QVERIFY(fx.messages.last().question);
    QCOMPARE(fx.messages.last().owner, &w);
    QCOMPARE(button->text(), QStringLiteral("&Стоп"));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), button);
    // Enter presses the focused button as well.
    QTest::keyClick(w.windowHandle(), Qt::Key_Return);
    QCOMPARE(RunState.load(), rsStopped);
    QVERIFY(!w.sessionThreadAlive());
    QCOMPARE(button->text(), QStringLiteral("&Пуск"));
    w.close();
}

void TestTMain::altLetterOpensItsMenu_data()
{
    QTest::addColumn<QChar>("letter");
    QTest::addColumn<QString>("menu");
    QTest::newRow("Alt+Д") << QChar(u'Д') << "M_Action";
    QTest::newRow("Alt+Н") << QChar(u'Н') << "M_Options";
    // "&Пуск" on the focused button shares the letter; the menu has it.
    QTest::newRow("Alt+П") << QChar(u'П') << "N2";
}

void TestTMain::altLetterOpensItsMenu()
{
    QFETCH(QChar, letter);
    QFETCH(QString, menu);
    test::WindowFixture fx;
    fx.writeIni(QByteArray("[DATA]\nSave=0\n") + test::NoPortIni);
    TMain w;
    QVERIFY(w.FormCreate());
    QVERIFY(fx.showAndSettle(w));
    QMenu *m = child<QMenu>(&w, qPrintable(menu));
    // Before any session, and after one, when the button's caption has
    // changed and changed back; twice each time, since Qt hands a shortcut
    // claimed twice to each claimant in turn.
    for (int round = 0; round < 2; ++round) {
        for (int press = 0; press < 2; ++press) {
            test::altLetter(w.windowHandle(), letter);
            QVERIFY(QTest::qWaitFor([&] { return m->isVisible(); }, 2000));
            QCOMPARE(RunState.load(), rsStopped);
            QTest::keyClick(w.windowHandle(), Qt::Key_Escape);
            QTest::keyClick(w.windowHandle(), Qt::Key_Escape);
            QVERIFY(QTest::qWaitFor([&] { return !m->isVisible(); }, 2000));
        }
        if (round == 0) {
            w.BTN_Start_StopClick();
            QVERIFY(QTest::qWaitFor([] { return RunState.load() == rsRunning; }, 5000));
            w.BTN_Start_StopClick();
            w.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w));
        }
    }
    w.close();
}

void TestTMain::groupFramesKeepOffTheirControls_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("control");
    QTest::newRow("не менее") << "GB2" << "MinT";
    QTest::newRow("не более") << "GB2" << "MaxT";
    QTest::newRow("нижняя") << "GB1" << "LoD";
    QTest::newRow("recording dialog, first radio item") << "FileData" << "FileDataItem0";
}

void TestTMain::groupFramesKeepOffTheirControls()
{
    QFETCH(QString, box);
    QFETCH(QString, control);
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    TPZD recording(&w, nullptr);
    QWidget *root = box == "FileData" ? static_cast<QWidget *>(&recording) : &w;
    auto *g = child<QGroupBox>(root, qPrintable(box));
    auto *c = child<QWidget>(root, qPrintable(control));
    QVERIFY(g && c);
    // The group box alone, without its children or background: nothing it
    // draws (frame, title) may lie under the control.
    const QRgb blank = qRgb(255, 0, 255);
    QImage image(g->size(), QImage::Format_RGB32);
    image.fill(blank);
    g->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    const QRect r = c->geometry();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixel(x, y) != blank)
                QFAIL(qPrintable(QString("%1 draws at (%2, %3)").arg(box).arg(x).arg(y)));
}

void TestTMain::statisticsKeepOffTheirCaptions_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text"); // the widest the panel shows
    QTest::newRow("Макс.") << "OutMAX" << "Label3" << "125.0 °C  ";
    QTest::newRow("Ср.") << "OutAVG" << "Label4" << "-55.0 °C  ";
    QTest::newRow("Мин.") << "OutMIN" << "Label5" << "-55.0 °C  ";
}

void TestTMain::statisticsKeepOffTheirCaptions()
{
    QFETCH(QString, panel);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    auto *p = child<QLabel>(&w, qPrintable(panel));
    auto *c = child<QLabel>(p, qPrintable(caption));
    p->setText(text);
    // Ink columns of the value (the panel without its caption) and of the
    // caption, each drawn alone on white.
    const auto inkColumns = [](QWidget *widget, QWidget::RenderFlags flags) {
        QImage image(widget->size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        widget->render(&image, QPoint(), QRegion(), flags);
        QList<int> columns;
        for (int x = 2; x < image.width() - 2; ++x)
            for (int y = 2; y < image.height() - 2; ++y)
                if (qGray(image.pixel(x, y)) < 160) {
                    columns << x;
                    break;
                }
        return columns;
    };
    const QList<int> value = inkColumns(p, QWidget::DrawWindowBackground);
    const QList<int> name = inkColumns(c, QWidget::RenderFlags());
    QVERIFY(!value.isEmpty() && !name.isEmpty());
    const int gap = value.first() - (c->x() + name.last()) - 1;
    // At least a blank's width (3 px in the 11-px font) between the two.
    QVERIFY2(gap >= 3, qPrintable(QString("%1 px between caption and value").arg(gap)));
}

void TestTMain::settingsOnControlsAndBack()
{
    test::WindowFixture fx;
    fx.writeIni("[GENERAL]\nSignalUse=0\nControlT=0\nAutoScale=0\nAutoRun=1\nPORT=3\n"
                "[COLORS]\nLPTColor=$00FF00\nHPTColor=0x0000FF\nTempValueColor=255\n"
                "[LIMITS]\nLoT=10\nHiT=30.25\n[LEVELS]\nLoL=20\nHiL=25\n[DATA]\nSave=0\n");
    {
        TMain w;
        QVERIFY(w.FormCreate());
        QCOMPARE(child<QLineEdit>(&w, "EditLoT")->text(), QStringLiteral("10.0"));
        QCOMPARE(child<QLineEdit>(&w, "EditHiT")->text(), QStringLiteral("30.3"));
        QCOMPARE(child<QLineEdit>(&w, "EditLoL")->text(), QStringLiteral("20.0"));
        QCOMPARE(child<QLineEdit>(&w, "EditHiL")->text(), QStringLiteral("25.0"));
        // ControlT off: the band is not editable; AutoScale off: the bounds are.
        QVERIFY(!child<QCheckBox>(&w, "ControlT")->isChecked());
        QVERIFY(!child<QWidget>(&w, "EditLoL")->isEnabled());
        QVERIFY(!child<QWidget>(&w, "SpinHiL")->isEnabled());
        QVERIFY(child<QWidget>(&w, "EditLoT")->isEnabled());
        QVERIFY(child<QWidget>(&w, "SpinHiT")->isEnabled());
        QVERIFY(!child<QAction>(&w, "M_AS")->isChecked());
        QVERIFY(child<QAction>(&w, "M_AutoRun")->isChecked());
        QCOMPARE(child<QLabel>(&w, "LoD")->palette().color(QPalette::WindowText), QColor(0, 255, 0));
        QCOMPARE(child<QLabel>(&w, "MinT")->palette().color(QPalette::WindowText), QColor(0, 255, 0));
        QCOMPARE(child<QLabel>(&w, "HiD")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(child<QLabel>(&w, "MaxT")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(w.TempIndicator().FontColor, 255u);

        // The user changes the check boxes; the close saves what the controls hold.
        child<QCheckBox>(&w, "ControlT")->click();
        QVERIFY(child<QWidget>(&w, "EditLoL")->isEnabled());
        child<QCheckBox>(&w, "AutoScale")->click();
        QVERIFY(!child<QWidget>(&w, "EditLoT")->isEnabled());
        w.M_AutoRunClick();
        w.close();
    }
    const QString ini = QString::fromUtf8(fx.ini());
    QVERIFY(ini.contains("ControlT=1"));
    QVERIFY(ini.contains("AutoScale=1"));
    QVERIFY(ini.contains("AutoRun=0"));
    QVERIFY(ini.contains("SignalUse=0"));
    QVERIFY(ini.contains("PORT=3")); // no port open: the configured one
    QVERIFY(ini.contains("LPTColor=65280"));
    QVERIFY(ini.contains("HiT=30.25")); // loaded values are kept as read
}

void TestTMain::freshFolderShowsDefaults()
{
    test::WindowFixture fx;
    {
        TMain w;
        QVERIFY(w.FormCreate());
        QVERIFY(child<QCheckBox>(&w, "ControlT")->isChecked());
        QVERIFY(child<QCheckBox>(&w, "AutoScale")->isChecked());
        QVERIFY(child<QAction>(&w, "M_AS")->isChecked());
        QVERIFY(!child<QAction>(&w, "M_AutoRun")->isChecked());
        QVERIFY(!child<QWidget>(&w, "EditLoT")->isEnabled());
        QVERIFY(child<QWidget>(&w, "EditLoL")->isEnabled());
        // Recording is on by default: today's file is opened at creation.
        QVERIFY(QFile::exists(fx.folder->path() + "DATA/07-12-2026.csv"));
        QCOMPARE(w.TempIndicator().Text, QStringLiteral("- - - °C"));
        w.close();
    }
    QCOMPARE(fx.ini().count('='), 22);
}

void TestTMain::closeOrder()
{
    test::WindowFixture fx;
    test::SensorSim sim;
    TMain w;
    QVERIFY(w.FormCreate());
    QVERIFY(w.OpenPort(1));
    QVERIFY(PortAlive());
    w.close();
    QVERIFY(!PortAlive());
    QVERIFY(fx.ini().contains("PORT=1\n"));
    QVERIFY(!DataFileOpen());
    const QString record = qEnvironmentVariable("XDG_CONFIG_HOME") + "/KP33/Information.conf";
    QVERIFY(QFile::exists(record));
}

void TestTMain::closeWhileMeasuringWaitsThenSaves()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    w.BTN_Start_StopClick(); // no sensor: the question, answered Yes: demonstration
    QVERIFY(QTest::qWaitFor([] { return RunState.load() == rsRunning; }, 5000));
    QVERIFY(test::waitCycles(w, 3));
    w.close();
    QCOMPARE(RunState.load(), rsStopped);
    QVERIFY(!w.sessionThreadAlive());
    QVERIFY(fx.ini().contains("[GENERAL]"));
}

void TestTMain::closeDuringModalIsDeferred()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    bool closedInside = true;
    // A close that arrives while a message box is up waits for the box.
    const auto saved = [&] { return fx.ini().contains("[GENERAL]"); };
    SetMessageAnswerer([&](const MessageRequest &) {
        w.close();
        closedInside = saved();
        return true; // "Yes" to the demonstration, which the close overrules
    });
    w.BTN_Start_StopClick();
    QVERIFY(!closedInside);
    QVERIFY(QTest::qWaitFor(saved, 5000));
    // The close came first: no session was started behind it.
    QCOMPARE(RunState.load(), rsStopped);
    QVERIFY(!w.sessionThreadAlive());
}

void TestTMain::sigtermClosesInOrder()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    w.show();
    SignalClose closer(&w);
    ::raise(SIGTERM);
    QVERIFY(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
    QVERIFY(fx.ini().contains("SignalUse=1"));
}

void TestTMain::endOfSessionClosesBeforeTheBoxReturns()
{
    test::WindowFixture fx;
    fx.writeIni(QByteArray("[DATA]\nSave=0\n") + test::NoPortIni);
    TMain w;
    QVERIFY(w.FormCreate());
    w.show();
    w.BTN_Start_StopClick(); // no sensor: the question, answered Yes: demonstration
    QVERIFY(QTest::qWaitFor([] { return RunState.load() == rsRunning; }, 5000));
    QVERIFY(test::waitCycles(w, 2));
    // Windows may end the process as soon as the end of the session has
    // been answered: by then the close is over, with the box it came under
    // dismissed but not yet returned. The window goes right after.
    bool boxStillOpen = false, threadGone = false, saved = false;
    QTimer::singleShot(0, [&] {
        w.EndSession();
        boxStillOpen = w.findChild<QDialog *>() != nullptr; // its exec() lies below
        threadGone = !w.sessionThreadAlive() && RunState.load() == rsStopped;
        saved = fx.ini().contains("[GENERAL]");
    });
    w.N4Click();
    QVERIFY(boxStillOpen);
    QVERIFY(threadGone);
    QVERIFY(saved);
    QVERIFY(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
}

void TestTMain::endOfSessionKeepsItsBound()
{
    // The measurement thread does not come back within the session end's
    // bound. The registry record and every setting are written before it is
    // even asked to stop; the close gives up after its bound and leaves the
    // data file and the port to the thread.
    test::WindowFixture fx;
    fx.writeIni(QByteArray("[LEVELS]\nHiL=30.5\n") + test::NoPortIni);
    HoldingClock clock(*fx.clock);
    setClock(&clock);
    {
        QSettings record(RegistryRecordLocation(), QSettings::NativeFormat);
        record.clear();
    }
    TMain w;
    QVERIFY(w.FormCreate());
    w.show();
    w.BTN_Start_StopClick(); // no sensor: the question, answered Yes: demonstration
    QVERIFY(QTest::qWaitFor([] { return RunState.load() == rsRunning; }, 5000));
    QVERIFY(test::waitCycles(w, 2));
    clock.hold();
    QVERIFY(clock.waitHeld());

    QByteArray iniAtFirstWait;
    bool recordAtFirstWait = false;
    clock.onMainSleep = [&] {
        iniAtFirstWait = fx.ini();
        recordAtFirstWait = QSettings(RegistryRecordLocation(), QSettings::NativeFormat)
                                .value("Product").toString() == "Virtual thermometr KP33";
    };
    const std::uint64_t before = fx.clock->elapsedMs();
    w.EndSession();
    const std::uint64_t took = fx.clock->elapsedMs() - before;
    QVERIFY2(took >= 3000 && took < 4000, qPrintable(QString::number(took)));
    QCOMPARE(iniAtFirstWait.count('='), 22 + 1); // and the port map
    QVERIFY(iniAtFirstWait.contains("HiL=30.5"));
    QVERIFY(recordAtFirstWait);
    QVERIFY(w.sessionThreadAlive());
    QVERIFY(DataFileOpen());
    QVERIFY(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));

    clock.release();
    QVERIFY(QTest::qWaitFor([&] { return !w.sessionThreadAlive(); }, 10000));
    RunState = rsStopped;
    setClock(fx.clock.get());
}

// KP33.ini that cannot be written is told in a box at the close, which the
// next close request dismisses; the end of the session shows none.
void TestTMain::failedSaveBoxGivesWayToTheNextClose()
{
    test::WindowFixture fx;
    const QString ini = fx.folder->path() + "KP33.ini";
    QVERIFY(QDir().mkdir(ini)); // a folder where the file belongs: nothing can replace it
    {
        TMain w;
        QVERIFY(w.FormCreate());
        w.close();
        QVERIFY(QTest::qWaitFor([&] { return !fx.messages.isEmpty(); }, 5000));
    }
    QCOMPARE(fx.messages.size(), 1);
    QCOMPARE(fx.messages[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(fx.messages[0].icon, QMessageBox::Critical);
    QVERIFY2(fx.messages[0].text.startsWith("Невозможно записать настройки в файл\r\r" +
                                            QDir::toNativeSeparators(ini) + "\r\r"),
             qPrintable(fx.messages[0].text));
    {
        TMain w;
        QVERIFY(w.FormCreate());
        w.EndSession();
        QCoreApplication::processEvents();
    }
    QCOMPARE(fx.messages.size(), 1);

    // On screen, with nobody to answer it: a signal closes, the box comes,
    // and the next signal takes it away.
    SetMessageAnswerer(nullptr);
    TMain w;
    QVERIFY(w.FormCreate());
    w.show();
    SignalClose closer(&w);
    bool boxSeen = false;
    QTimer watch;
    watch.setInterval(10);
    connect(&watch, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxSeen = box->windowTitle() == QStringLiteral("Ошибка") && box->text().contains(QDir::toNativeSeparators(ini));
        watch.stop();
        ::raise(SIGTERM);
    });
    watch.start();
    ::raise(SIGTERM);
    QVERIFY(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
    QVERIFY(boxSeen);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestTMain::dataFileFailureAtStartSavesNothing_data()
{
    QTest::addColumn<QString>("fileSave"); // under the program folder; empty: the automatic file
    QTest::addColumn<bool>("blockData");   // a file named DATA where the folder belongs
    QTest::addColumn<QString>("failed");   // "dir" or the file that cannot be opened
    // The first failure ends the program, so it is the only message, whichever
    // file was to be opened.
    QTest::newRow("automatic file, DATA cannot be made") << "" << true << "dir";
    QTest::newRow("chosen file, DATA cannot be made") << "mine.csv" << true << "dir";
    QTest::newRow("chosen file in a missing folder") << "nodir/x.csv" << false << "nodir/x.csv";
}

void TestTMain::dataFileFailureAtStartSavesNothing()
{
    QFETCH(QString, fileSave);
    QFETCH(bool, blockData);
    QFETCH(QString, failed);
    test::WindowFixture fx;
    const QString dir = fx.folder->path();
    const QByteArray ini = fileSave.isEmpty() ? QByteArray("[GENERAL]\nAutoRun=1\n")
                                              : ("[DATA]\nFileType=1\nFileSave=" + dir + fileSave + "\n").toUtf8();
    fx.writeIni(ini);
    if (blockData) {
        QFile blocker(dir + "DATA");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    {
        TMain w;
        QVERIFY(!w.FormCreate());
    }
    QCOMPARE(fx.messageTexts(), QStringList{failed == "dir" ? DirFailedMessage() : NoAccessMessage(dir + failed)});
    QCOMPARE(fx.messages[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(fx.messages[0].icon, QMessageBox::Critical);
    // The window is not on screen yet: the box stands on its own, or it
    // would be out of sight (on Windows without a task-bar button).
    QCOMPARE(fx.messages[0].owner, nullptr);
    QCOMPARE(fx.ini(), ini); // nothing saved
    if (!fileSave.isEmpty())
        QVERIFY(!QFile::exists(dir + fileSave));
    QCOMPARE(BoxText("a\r\rb\r\nc"), QStringLiteral("a\n\nb\nc"));
}

// Another program holds today's file from before the start to after the
// close: measuring goes on, the title says why no row reaches the file, and
// the close leaves the rows beside it and names that file.
void TestTMain::busyDataFileKeepsMeasuringAndRowsBeside()
{
    test::WindowFixture fx;
    fx.writeIni(test::NoPortIni);
    const QString data = fx.folder->path() + "DATA/";
    SetBusyFileSeam([data](const QString &name) { return name == data + "07-12-2026.csv"; });
    struct Unseam {
        ~Unseam() { SetBusyFileSeam(nullptr); }
    } unseam;
    TMain w;
    QVERIFY(w.FormCreate());
    w.BTN_Start_StopClick(); // no sensor: the question, answered Yes: demonstration
    QVERIFY(QTest::qWaitFor([] { return RunState.load() == rsRunning; }, 5000));
    QVERIFY(test::waitCycles(w, 3));
    QVERIFY(HeldRowCount() >= 2);
    QVERIFY2(w.ApplicationTitle().startsWith("t = ") && w.ApplicationTitle().endsWith(HeldRowsNote()),
             qPrintable(w.ApplicationTitle()));
    w.close();

    QVERIFY(fx.ini().contains("[GENERAL]"));
    QVERIFY(!QFile::exists(data + "07-12-2026.csv"));
    const QStringList kept = QDir(data).entryList({"07-12-2026-KP33-*.csv"});
    QCOMPARE(kept.size(), 1);
    QFile f(data + kept[0]);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QVERIFY(lines.size() >= 4); // three rows or more and the empty end
    const QTime first = QTime::fromString(QString::fromLatin1(lines[0].left(8)), "HH:mm:ss");
    QVERIFY(first.isValid());
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) // one a second, in order
        QCOMPARE(lines[i].left(9), first.addSecs(int(i)).toString("HH:mm:ss,").toLatin1());
    QList<MessageRequest> notices;
    for (const MessageRequest &m : fx.messages)
        if (m.caption == QStringLiteral("Внимание"))
            notices << m;
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices[0].text, KeptRowsMessage(data + "07-12-2026.csv", data + kept[0]));
    QCOMPARE(notices[0].icon, QMessageBox::Warning);
    QCOMPARE(HeldRowCount(), std::size_t(0));
}

void TestTMain::receiverSide()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.SetApplicationTitle("t = 21.5 °C");
    QCOMPARE(w.windowHandle()->title(), QStringLiteral("t = 21.5 °C"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Виртуальный термометр KP33")); // the caption stays
    w.close();
}

void TestTMain::secondInstanceBringsFirstForward()
{
    const QString program = qEnvironmentVariable("KP33_PROGRAM");
    if (program.isEmpty())
        QSKIP("KP33_PROGRAM not set");
    SingleInstance first;
    QVERIFY(first.acquire());
    QSignalSpy forward(&first, &SingleInstance::activationRequested);
    QProcess second;
    second.start(program, {});
    QVERIFY(second.waitForStarted());
    // The second start asks the first to come forward and ends with 0; it
    // never shows a window or touches its folder.
    QVERIFY(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(forward.count() >= 1 || forward.wait(2000));
    QVERIFY(!QFile::exists(QFileInfo(program).dir().filePath("KP33.ini")));
}

void TestTMain::colourDialogRecolours()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    SetColorChooser([](QWidget *, const QColor &) { return std::optional<QColor>(QColor(10, 20, 30)); });
    // Cancel: nothing changes and the indicator is not repainted.
    int draws = w.indicatorDraws();
    QTimer::singleShot(0, [] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            d->reject();
    });
    w.N1Click();
    QCOMPARE(w.indicatorDraws(), draws);
    // OK with only the value colour changed: one repaint in the new colour.
    QTimer::singleShot(0, [] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!d)
            return;
        if (QWidget *swatch = d->findChild<QWidget *>("ValueT"))
            QTest::mouseDClick(swatch, Qt::LeftButton);
        if (auto *ok = d->findChild<QPushButton *>("BTN_OK"))
            ok->click();
    });
    w.N1Click();
    QCOMPARE(w.indicatorDraws(), draws + 1);
    QCOMPARE(w.TempIndicator().FontColor, RefFromColor(QColor(10, 20, 30)));
    // OK with the limit colours changed: the labels that name the limits
    // wear them at once; the indicator is not repainted.
    QList<QColor> answers{QColor(1, 2, 3), QColor(4, 5, 6)};
    SetColorChooser([&](QWidget *, const QColor &) { return std::optional<QColor>(answers.takeFirst()); });
    QTimer::singleShot(0, [] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!d)
            return;
        for (const char *name : {"UpT", "DownT"})
            if (QWidget *swatch = d->findChild<QWidget *>(name))
                QTest::mouseDClick(swatch, Qt::LeftButton);
        if (auto *ok = d->findChild<QPushButton *>("BTN_OK"))
            ok->click();
    });
    w.N1Click();
    SetColorChooser(nullptr);
    QVERIFY(answers.isEmpty());
    QCOMPARE(w.indicatorDraws(), draws + 1);
    for (const char *name : {"HiD", "MaxT"})
        QCOMPARE(child<QLabel>(&w, name)->palette().color(QPalette::WindowText), QColor(1, 2, 3));
    for (const char *name : {"LoD", "MinT"})
        QCOMPARE(child<QLabel>(&w, name)->palette().color(QPalette::WindowText), QColor(4, 5, 6));
    w.close();
    QVERIFY(fx.ini().contains("TempValueColor=" + QByteArray::number(RefFromColor(QColor(10, 20, 30)))));
}

void TestTMain::aboutFromMenuAndSystemCommand()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QStringList shown;
    const auto closeBox = [&] {
        QTimer::singleShot(0, [&] {
            if (QWidget *d = QApplication::activeModalWidget()) {
                shown << d->metaObject()->className();
                qobject_cast<QDialog *>(d)->accept();
            }
        });
    };
    closeBox();
    child<QAction>(&w, "N4")->trigger();
    closeBox();
    w.wmSysCommand(SysCommandAbout);
    w.wmSysCommand(1026); // any other command leaves it alone
    QCOMPARE(shown, (QStringList{"kp33::TAbout", "kp33::TAbout"}));
    w.close();
}

QTEST_MAIN(TestTMain)
#include "tst_tmain.moc"
