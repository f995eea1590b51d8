#include "measurement/waithelper.h"

#include <QCoreApplication>

namespace kp33 {

namespace {
// How long one pass of the wait may sleep: short against a display update,
// long enough that the wait costs no measurable CPU.
constexpr unsigned long PassMs = 1;
} // namespace

bool WaitWhileDispatching(const std::function<bool()> &done, const QPointer<QThread> &thread)
{
    const auto over = [&] { return done() || !thread || thread->isFinished(); };
    while (!over()) {
        // Posted events are delivered explicitly: when this wait runs inside
        // the handler of a posted event (a queued call from the measurement
        // thread), the event loop would not hand out further posted events,
        // and the thread's blocking display update would never be served.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!over())
            QThread::msleep(PassMs);
    }
    return done();
}

} // namespace kp33
