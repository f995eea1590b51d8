// KP33: the program.

#include "dialogs/scaling.h"
#include "mainwindow/lookandfeel.h"
#include "mainwindow/signalclose.h"
#include "mainwindow/singleinstance.h"
#include "mainwindow/tmain.h"
#include "sensorbus/globals.h"

#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    kp33::IsWinNT = true;
    kp33::SetScaleRounding();
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("kp33"));
    kp33::ApplyLookAndFeel(app);

    kp33::SingleInstance instance;
    if (!instance.acquire())
        return 0;

    // Decided once: a folder that becomes writable later would split the
    // settings and the data between two places within one run.
    const QString dir = QCoreApplication::applicationDirPath();
    kp33::setProgramDir(dir, kp33::FolderWritable(dir));
    kp33::TMain window;
    // 1 when the data file could not be opened at start; the program then
    // ends before its window is shown.
    if (!window.FormCreate())
        return 1;
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    instance.setMainWindow(&window);
    QObject::connect(&instance, &kp33::SingleInstance::activationRequested, &window,
                     &kp33::TMain::BringForward);
    kp33::SignalClose signalClose(&window);
    window.show();
    const int status = app.exec();
    // An end of the session whose bound ran out left the measurement thread
    // running, perhaps inside the data file or on the bus: the process ends
    // here, before the teardown of what the thread still uses.
    if (window.sessionThreadAlive()) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
