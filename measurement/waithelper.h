#pragma once
// Waiting on the main thread "while dispatching window messages": paints and
// the measurement thread's display updates go on, clicks and keys wait.

#include <QPointer>
#include <QThread>
#include <cstdint>
#include <functional>
#include <optional>

namespace kp33 {

// Runs a nested event loop without user input until done() is true or the
// thread has finished (or was never there), so a thread that ended on its own
// can never leave the main thread waiting. With boundMs it gives up after
// that long on the clock seam. Returns done() at the end.
bool WaitWhileDispatching(const std::function<bool()> &done, const QPointer<QThread> &thread,
                          std::optional<std::uint32_t> boundMs = std::nullopt);

} // namespace kp33
