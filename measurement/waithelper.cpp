#include "measurement/waithelper.h"

#include <QEventLoop>
#include <QTimer>

namespace kp33 {

bool WaitWhileDispatching(const std::function<bool()> &done, const QPointer<QThread> &thread)
{
    const auto over = [&] { return done() || !thread || thread->isFinished(); };
    if (over())
        return done();
    QEventLoop loop;
    // The awaited values are atomics that post no event when they change; a
    // short poll notices them without spinning a core.
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (over())
            loop.quit();
    });
    if (thread)
        QObject::connect(thread.data(), &QThread::finished, &loop, &QEventLoop::quit);
    poll.start();
    if (!over())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return done();
}

} // namespace kp33
