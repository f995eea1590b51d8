#include "measurement/waithelper.h"

#include "sensorbus/clock.h"

#include <QCoreApplication>

namespace kp33 {

namespace {
// How long one pass of the wait may sleep: short against a display update,
// long enough that the wait costs no measurable CPU.
constexpr std::uint32_t PassMs = 1;
} // namespace

bool WaitWhileDispatching(const std::function<bool()> &done, const QPointer<QThread> &thread,
                          std::optional<std::uint32_t> boundMs)
{
    const std::uint32_t start = boundMs ? theClock().tickCount() : 0;
    const auto over = [&] { return done() || !thread || thread->isFinished(); };
    const auto expired = [&] { return boundMs && theClock().tickCount() - start >= *boundMs; };
    while (!over() && !expired()) {
        // Posted events are delivered explicitly: when this wait runs inside
        // the handler of a posted event (a queued call from the measurement
        // thread), the event loop would not hand out further posted events,
        // and the thread's display updates would wait out their bound unseen.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (over())
            break;
        // A bounded wait passes its time on the clock seam, so a test can let
        // the bound run out; an open one must not move a test's clock.
        if (boundMs)
            theClock().sleep(PassMs);
        else
            QThread::msleep(PassMs);
    }
    return done();
}

} // namespace kp33
