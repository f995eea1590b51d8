// Graph bounds and the permitted band (edit rules, arrows, keys) and the
// alarm (sound, blink, window restore).

#include "dialogs/scaling.h"
#include "dialogs/updown.h"
#include "windowtest.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

using namespace kp33;
using test::child;

class TestAlarm : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }

private slots:
    void initTestCase();
    void boundEntries_data();
    void boundEntries();
    void pairKeepsOneDegree();
    void arrowSteps();
    void enterRedrawsOnlyForBounds();
    void characterFilter();
    void halfTypedValueWaitsForAnotherControl();
    void limitsGoToTheHistory();
    void alarmStartsBlinksAndStops();
    void alarmKeepsItsColour();
    void noAlarmWithoutControlOrSignal();
    void errorLookAndStopSilenceTheAlarm();
    void minimisedWindowIsRestored();
};

void TestAlarm::initTestCase() { ApplyLookAndFeel(*qApp); }

void TestAlarm::boundEntries_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("shown");
    QTest::newRow("trailing point") << "12." << "12.0";
    QTest::newRow("leading point") << ".5" << "0.5";
    QTest::newRow("lone point") << "." << "0.0";
    QTest::newRow("lone minus") << "-" << "-55.0";
    QTest::newRow("empty") << "" << "-55.0";
    QTest::newRow("one degree below the top") << "124" << "124.0";
    QTest::newRow("130") << "130" << "-55.0";
    QTest::newRow("-60") << "-60" << "-55.0";
    QTest::newRow("rounded to a tenth") << "12.34" << "12.3";
    QTest::newRow("tie to even") << "12.25" << "12.2";
    // In extended precision 0.15 times ten is 1.5 exactly, a tie, to even.
    QTest::newRow("0.15 is a tie") << "0.15" << "0.2";
}

void TestAlarm::boundEntries()
{
    QFETCH(QString, entry);
    QFETCH(QString, shown);
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[GENERAL]\nAutoScale=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QLineEdit *e = child<QLineEdit>(&w, "EditLoT");
    e->setText(entry);
    w.ApplyBoundEdit(e);
    QCOMPARE(e->text(), shown);
    QCOMPARE(TempToStr(w.settings().LoT), shown);
}

void TestAlarm::pairKeepsOneDegree()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[GENERAL]\nAutoScale=0\n[LIMITS]\nLoT=0\nHiT=30\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QLineEdit *lo = child<QLineEdit>(&w, "EditLoT");
    lo->setText("29.5");
    w.ApplyBoundEdit(lo);
    QCOMPARE(lo->text(), QStringLiteral("0.0")); // 30 - 29.5 < 1: refused
    lo->setText("29");
    w.ApplyBoundEdit(lo);
    QCOMPARE(lo->text(), QStringLiteral("29.0")); // exactly one degree: taken
    QLineEdit *hi = child<QLineEdit>(&w, "EditHiT");
    hi->setText("29.5");
    w.ApplyBoundEdit(hi);
    QCOMPARE(hi->text(), QStringLiteral("30.0"));

    // Exactly a degree apart is taken, whatever binary fractions make of the
    // two values; typed and entered as a user does.
    const auto enter = [](QLineEdit *e, const char *text) {
        e->selectAll();
        QTest::keyClicks(e, text);
        QTest::keyClick(e, Qt::Key_Return);
    };
    enter(lo, "28.9");
    enter(hi, "29.9");
    QCOMPARE(hi->text(), QStringLiteral("29.9"));
    enter(lo, "-33.6");
    enter(hi, "-31.6");
    QCOMPARE(hi->text(), QStringLiteral("-31.6"));
    QTest::keyClick(lo, Qt::Key_Up);
    QCOMPARE(lo->text(), QStringLiteral("-32.6"));
    QTest::keyClick(hi, Qt::Key_Down);
    QCOMPARE(hi->text(), QStringLiteral("-31.6")); // now too close: undone
    enter(lo, "-16.8");
    QCOMPARE(lo->text(), QStringLiteral("-32.6"));
    enter(hi, "-15.8");
    enter(lo, "-16.8");
    QCOMPARE(lo->text(), QStringLiteral("-16.8"));
}

void TestAlarm::arrowSteps()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[GENERAL]\nAutoScale=0\n[LIMITS]\nLoT=29\nHiT=124.5\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QLineEdit *hi = child<QLineEdit>(&w, "EditHiT");
    // Tested before adding: 124.5 may step to 125.5, and no further.
    w.StepBound(hi, true);
    QCOMPARE(hi->text(), QStringLiteral("125.5"));
    w.StepBound(hi, true);
    QCOMPARE(hi->text(), QStringLiteral("125.5"));
    // The up-down's arrows step their own edit.
    child<UpDown>(&w, "SpinHiT")->downButton()->click();
    QCOMPARE(hi->text(), QStringLiteral("124.5"));
    hi->setText("30");
    w.ApplyBoundEdit(hi);
    QLineEdit *lo = child<QLineEdit>(&w, "EditLoT");
    const int draws = w.indicatorDraws();
    QTest::keyClick(lo, Qt::Key_Up); // 29 -> 30 is too close to 30: undone
    QCOMPARE(lo->text(), QStringLiteral("29.0"));
    QCOMPARE(w.settings().LoT, 29.0L);
    QCOMPARE(w.indicatorDraws(), draws); // no redraw for an undone step
    QTest::keyClick(lo, Qt::Key_Down);
    QCOMPARE(lo->text(), QStringLiteral("28.0"));
    QVERIFY(w.indicatorDraws() > draws);
    // With Shift held the arrow is the edit's own.
    QTest::keyClick(lo, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(lo->text(), QStringLiteral("28.0"));
}

void TestAlarm::enterRedrawsOnlyForBounds()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[GENERAL]\nAutoScale=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QLineEdit *lo = child<QLineEdit>(&w, "EditLoT");
    lo->setText("10");
    int draws = w.indicatorDraws();
    QTest::keyClick(lo, Qt::Key_Return);
    QCOMPARE(lo->text(), QStringLiteral("10.0"));
    QCOMPARE(lo->selectedText(), QStringLiteral("10.0"));
    QVERIFY(w.indicatorDraws() > draws);

    QLineEdit *lol = child<QLineEdit>(&w, "EditLoL");
    lol->setText("15");
    draws = w.indicatorDraws();
    QTest::keyClick(lol, Qt::Key_Enter);
    QCOMPARE(lol->text(), QStringLiteral("15.0"));
    QCOMPARE(w.indicatorDraws(), draws);
    QCOMPARE(history().LoL(), 15.0L);

    // Leaving an edit takes its value over without a redraw.
    lo->setText("12");
    draws = w.indicatorDraws();
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(lo, &leave);
    QCOMPARE(w.settings().LoT, 12.0L);
    QCOMPARE(w.indicatorDraws(), draws);
}

void TestAlarm::characterFilter()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[GENERAL]\nAutoScale=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QLineEdit *e = child<QLineEdit>(&w, "EditLoL");
    e->clear();
    QTest::keyClicks(e, "-1a2,.5e");
    QCOMPARE(e->text(), QStringLiteral("-12.5"));
    QTest::keyClicks(e, "9"); // five characters at most
    QCOMPARE(e->text(), QStringLiteral("-12.5"));
    // Only typed characters are judged. Keys carry the texts X11 gives them:
    // Ctrl+A is U+0001, Delete U+007F; Delete edits in every one of the four.
    const auto key = [](QLineEdit *edit, Qt::Key k, char16_t text, Qt::KeyboardModifiers mods = {}) {
        QTest::sendKeyEvent(QTest::Click, edit, k, QString(QChar(text)), mods);
    };
    for (const char *name : {"EditLoT", "EditHiT", "EditLoL", "EditHiL"}) {
        QLineEdit *edit = child<QLineEdit>(&w, name);
        edit->setText("12.5");
        edit->setCursorPosition(0);
        key(edit, Qt::Key_Delete, 0x7F);
        QCOMPARE(edit->text(), QStringLiteral("2.5"));
        key(edit, Qt::Key_A, 0x01, Qt::ControlModifier);
        key(edit, Qt::Key_Delete, 0x7F);
        QCOMPARE(edit->text(), QString());
        key(edit, Qt::Key_Space, u' ');
        QCOMPARE(edit->text(), QString());
    }
}

void TestAlarm::halfTypedValueWaitsForAnotherControl()
{
    test::WindowFixture fx;
    fx.writeIni(QByteArray("[DATA]\nSave=0\n[LEVELS]\nLoL=10\nHiL=20\n") + test::NoPortIni);
    TMain w;
    QVERIFY(w.FormCreate());
    QVERIFY(fx.showAndSettle(w));
    QLineEdit *lol = child<QLineEdit>(&w, "EditLoL");
    QTest::mouseClick(lol, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), lol);
    lol->selectAll();
    QTest::keyClicks(lol, "12");

    // A menu opened from the keyboard takes the keys, not the value; Esc
    // closes it and Esc again leaves the menu bar.
    QMenu *options = child<QMenu>(&w, "M_Options");
    test::altLetter(w.windowHandle(), u'Н');
    QTRY_VERIFY(options->isVisible());
    QCOMPARE(history().LoL(), 10.0L);
    QTest::keyClick(w.windowHandle(), Qt::Key_Escape);
    QTRY_VERIFY(!options->isVisible());
    QTest::keyClick(w.windowHandle(), Qt::Key_Escape);
    QTRY_COMPARE(QApplication::focusWidget(), lol);
    QCOMPARE(lol->text(), QStringLiteral("12"));
    QCOMPARE(history().LoL(), 10.0L);

    // Nor does another window taking the activation.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QCOMPARE(history().LoL(), 10.0L);
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), lol);
    QCOMPARE(lol->text(), QStringLiteral("12"));

    // Moving on to another control of the window takes it over.
    QTest::keyClick(w.windowHandle(), Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != lol);
    QCOMPARE(history().LoL(), 12.0L);
    QCOMPARE(lol->text(), QStringLiteral("12.0"));
    w.close();
}

void TestAlarm::limitsGoToTheHistory()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[LEVELS]\nLoL=10\nHiL=20\n");
    TMain w;
    QVERIFY(w.FormCreate());
    QLineEdit *hil = child<QLineEdit>(&w, "EditHiL");
    w.StepLimit(hil, true);
    QCOMPARE(history().HiL(), 21.0L);
    QCOMPARE(hil->text(), QStringLiteral("21.0"));
    w.close();
    QVERIFY(fx.ini().contains("HiL=21"));
}

void TestAlarm::alarmStartsBlinksAndStops()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[LEVELS]\nLoL=20\nHiL=25\n");
    TMain w;
    QVERIFY(w.FormCreate());
    RunState = rsRunning;
    history().StoreAndUpdate(20.0L);
    w.UpdateDisplay();
    QVERIFY(!w.AlarmActive()); // equal to the limit is inside
    history().StoreAndUpdate(19.9L);
    w.UpdateDisplay();
    QVERIFY(w.AlarmActive());
    QVERIFY(w.SoundPlaying());
    QCOMPARE(w.BlinkColor(), w.settings().LoTColor);
    // The blink alternates the alarm colour and the normal one.
    QList<std::uint32_t> seen;
    for (int i = 0; i < 4; ++i) {
        w.TimerTimer();
        seen << w.TempIndicator().BackColor;
    }
    QVERIFY(seen.contains(w.settings().LoTColor));
    QVERIFY(seen.contains(w.settings().NormalColor));
    QCOMPARE(seen[0] == seen[1], false);
    history().StoreAndUpdate(20.0L);
    w.UpdateDisplay();
    QVERIFY(!w.AlarmActive());
    QVERIFY(!w.SoundPlaying());
    QCOMPARE(w.TempIndicator().BackColor, w.settings().NormalColor);
    RunState = rsStopped;
}

void TestAlarm::alarmKeepsItsColour()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[LEVELS]\nLoL=20\nHiL=25\n");
    TMain w;
    QVERIFY(w.FormCreate());
    RunState = rsRunning;
    history().StoreAndUpdate(10.0L);
    w.UpdateDisplay();
    history().StoreAndUpdate(30.0L); // above without passing through the band
    w.UpdateDisplay();
    QVERIFY(w.AlarmActive());
    QCOMPARE(w.BlinkColor(), w.settings().LoTColor);
    // The blink phase carries over into the next alarm.
    w.TimerTimer();
    const std::uint32_t phaseColour = w.TempIndicator().BackColor;
    history().StoreAndUpdate(22.0L);
    w.UpdateDisplay();
    history().StoreAndUpdate(30.0L);
    w.UpdateDisplay();
    QCOMPARE(w.BlinkColor(), w.settings().HiTColor);
    w.TimerTimer();
    QVERIFY(w.TempIndicator().BackColor != (phaseColour == w.settings().LoTColor ? w.settings().HiTColor : w.settings().NormalColor));
    RunState = rsStopped;
}

void TestAlarm::noAlarmWithoutControlOrSignal()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[LEVELS]\nLoL=20\nHiL=25\n");
    TMain w;
    QVERIFY(w.FormCreate());
    RunState = rsRunning;
    history().StoreAndUpdate(30.0L);
    child<QCheckBox>(&w, "ControlT")->click();
    w.UpdateDisplay();
    QVERIFY(!w.AlarmActive());
    child<QCheckBox>(&w, "ControlT")->click();
    w.M_ASClick();
    QVERIFY(!child<QAction>(&w, "M_AS")->isChecked());
    w.UpdateDisplay();
    QVERIFY(!w.AlarmActive());
    w.M_ASClick();
    w.UpdateDisplay();
    QVERIFY(w.AlarmActive());
    // Switching signalling off silences the alarm at the next update.
    w.M_ASClick();
    QVERIFY(w.AlarmActive());
    w.UpdateDisplay();
    QVERIFY(!w.AlarmActive());
    RunState = rsStopped;
}

void TestAlarm::errorLookAndStopSilenceTheAlarm()
{
    test::WindowFixture fx;
    // No port: the search before the session ends at once, also where COM1
    // is a real device (Windows).
    fx.writeIni(QByteArray("[DATA]\nSave=0\n[LEVELS]\nLoL=20\nHiL=25\n") + test::NoPortIni);
    TMain w;
    QVERIFY(w.FormCreate());
    RunState = rsRunning;
    history().StoreAndUpdate(30.0L);
    w.UpdateDisplay();
    QVERIFY(w.AlarmActive());
    SensorError = true;
    w.UpdateDisplay();
    QVERIFY(!w.AlarmActive());
    QVERIFY(!w.SoundPlaying());
    SensorError = false;
    RunState = rsStopped;

    // A demonstration session out of the band, then stopped.
    history().SetLoL(50);
    history().SetHiL(60);
    w.BTN_Start_StopClick();
    QVERIFY(QTest::qWaitFor([&] { return w.AlarmActive(); }, 5000));
    w.BTN_Start_StopClick();
    QVERIFY(!w.AlarmActive());
    QVERIFY(!w.SoundPlaying());
    w.close();
}

void TestAlarm::minimisedWindowIsRestored()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[LEVELS]\nLoL=20\nHiL=25\n");
    TMain w;
    QVERIFY(w.FormCreate());
    w.showMinimized();
    if (!w.isMinimized())
        QSKIP("this platform does not minimise windows");
    RunState = rsRunning;
    history().StoreAndUpdate(30.0L);
    w.UpdateDisplay();
    QVERIFY(!w.isMinimized());
    RunState = rsStopped;
    w.close();
}

QTEST_MAIN(TestAlarm)
#include "tst_alarm.moc"
