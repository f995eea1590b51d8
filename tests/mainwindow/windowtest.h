#pragma once
// Support for tests of the main window: a fresh program folder and fake
// clock, recorded message boxes, and lookup of controls by name.

#include "dialogs/messagebox.h"
#include "mainwindow/lookandfeel.h"
#include "mainwindow/tmain.h"
#include "measurement/datafile.h"
#include "measurement/history.h"
#include "measurement/readtemp.h"
#include "measurement/recording.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QtTest>
#include <memory>

namespace kp33::test {

struct WindowFixture {
    std::unique_ptr<ProgramFolder> folder = std::make_unique<ProgramFolder>();
    std::unique_ptr<FakeClock> clock = std::make_unique<FakeClock>();
    std::unique_ptr<ClockScope> scope = std::make_unique<ClockScope>(clock.get());
    QList<MessageRequest> messages;
    bool answerYes = true;

    WindowFixture()
    {
        RunState = rsStopped;
        SensorError = false;
        SensorFound = false;
        SensorType = stUnknown;
        RecordHold = rhNone;
        RecordCounter = 0;
        history().SetLoL(-55);
        history().SetHiL(125);
        history().SetFileSave(QString());
        history().Reset();
        SetMessageAnswerer([this](const MessageRequest &r) {
            messages << r;
            return answerYes;
        });
    }
    ~WindowFixture()
    {
        SetMessageAnswerer(nullptr);
        CloseDataFile();
        CloseCOM();
        resetPortPaths();
    }
    void writeIni(const QByteArray &text) const
    {
        QFile f(folder->path() + "KP33.ini");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray ini() const
    {
        QFile f(folder->path() + "KP33.ini");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Shows the window and waits until its first activation, the sensor
    // search, is over and the window has the keyboard again. The settings
    // must map COM1 to NoPortIni's missing device, so the search ends at its
    // first message. Without a window manager nothing hands the activation
    // back after the search dialog: the test does.
    bool showAndSettle(TMain &w)
    {
        const qsizetype before = messages.size();
        w.show();
        if (!QTest::qWaitFor([&] { return messages.size() > before && !QApplication::activeModalWidget(); }, 10000))
            return false;
        w.activateWindow();
        return QTest::qWaitForWindowActive(&w) && QApplication::focusWidget();
    }
    QStringList messageTexts() const
    {
        QStringList out;
        for (const auto &m : messages)
            out << m.text;
        return out;
    }
};

// COM1 on a device that is not there: a sensor search ends at once.
inline constexpr char NoPortIni[] = "[PORTS]\nCOM1=/nonexistent/kp33-port\n";

template <typename T> T *child(QObject *w, const char *name)
{
    T *c = w->findChild<T *>(QLatin1String(name));
    if (!c)
        qWarning("no control %s", name);
    return c;
}

// Alt with a Cyrillic letter, as X11 sends it: the key code is the capital
// letter, the text the small one.
inline void altLetter(QWindow *window, QChar capital)
{
    QTest::sendKeyEvent(QTest::Click, window, static_cast<Qt::Key>(capital.unicode()),
                        QString(capital.toLower()), Qt::AltModifier);
}

// Waits (dispatching events, no wall-clock sleeps of its own) until the
// running session has shown at least n more cycles.
inline bool waitCycles(TMain &w, int n)
{
    const int target = w.indicatorDraws() + n;
    return QTest::qWaitFor([&] { return w.indicatorDraws() >= target && RunState.load() == rsRunning; }, 10000);
}

} // namespace kp33::test
