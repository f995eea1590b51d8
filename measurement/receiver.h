#pragma once
// What the measurement thread needs from the main thread. The main window
// implements it; tests implement it to watch the thread. Every function runs
// on the main thread: the thread reaches them through queued calls.

#include <QObject>
#include <QString>

namespace kp33 {

class MeasurementReceiver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The one full redraw of the measurement display. The thread waits for it
    // only as long as its cycle leaves, then goes on measuring.
    virtual void UpdateDisplay() = 0;
    // "t = 22.5 °C" or "Ошибка датчика!".
    virtual void SetApplicationTitle(const QString &title) = 0;
    // A data-file failure: the text of an error box with the caption "Ошибка".
    virtual void ShowDataFileError(const QString &text) = 0;
    // The thread could not go on recording: close the main window, which
    // ends the program through its normal close path.
    virtual void RequestClose() = 0;
};

} // namespace kp33
