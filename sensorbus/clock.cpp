#include "sensorbus/clock.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <thread>

namespace kp33 {

std::uint32_t RealClock::tickCount()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void RealClock::sleep(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QDateTime RealClock::now() { return QDateTime::currentDateTime(); }

bool RealClock::waitReadable(int fd, int timeoutMs)
{
    if (timeoutMs < 0)
        timeoutMs = 0;
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

void RealClock::pauseDispatching(std::uint32_t ms)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(ms), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

namespace {
RealClock realClock;
std::atomic<Clock *> current{&realClock};
} // namespace

Clock &theClock() { return *current.load(std::memory_order_acquire); }

void setClock(Clock *c) { current.store(c ? c : &realClock, std::memory_order_release); }

} // namespace kp33
