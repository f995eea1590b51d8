#pragma once
// The one clock seam: every tick count, sleep, wait for input and wall-clock
// date in the program goes through here, so tests can run thousands of
// measurement cycles, cross midnight and time out without waiting.

#include <QDateTime>
#include <cstdint>
#include <functional>

namespace kp33 {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds; wraps like a 32-bit tick count, so deadlines are
    // always compared as unsigned differences.
    virtual std::uint32_t tickCount() = 0;
    virtual void sleep(std::uint32_t ms) = 0;
    // Local date and time.
    virtual QDateTime now() = 0;
    // A real wait for input of at most the given milliseconds, true when
    // input (or a hang-up) came; the serial layer supplies one per platform.
    using InputWait = std::function<bool(int timeoutMs)>;
    // Runs `wait` for timeoutMs. Goes through the clock so that a fake clock
    // can let a time-out pass without the wall clock.
    virtual bool waitInput(const InputWait &wait, int timeoutMs) = 0;
    // A pause on the main thread that keeps the window painting (no user
    // input is taken meanwhile); a fake clock lets it pass at once.
    virtual void pauseDispatching(std::uint32_t ms) = 0;
};

class RealClock final : public Clock {
public:
    std::uint32_t tickCount() override;
    void sleep(std::uint32_t ms) override;
    QDateTime now() override;
    bool waitInput(const InputWait &wait, int timeoutMs) override;
    void pauseDispatching(std::uint32_t ms) override;
};

// The clock in force; the real one unless a test installed another.
Clock &theClock();
// nullptr restores the real clock. Not for use while a measurement thread runs.
void setClock(Clock *c);

} // namespace kp33
