#include "sensorbus/clock.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
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

bool RealClock::waitInput(const InputWait &wait, int timeoutMs)
{
    return wait(timeoutMs < 0 ? 0 : timeoutMs);
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
