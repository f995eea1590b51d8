#include "mainwindow/signalclose.h"

#include "mainwindow/tmain.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kp33 {

namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the pipe.
void onSignal(int)
{
    const char b = 1;
    const int saved = errno;
    (void)!::write(signalPipe[1], &b, 1);
    errno = saved;
}

} // namespace

struct SignalClose::Platform {
    QSocketNotifier *notifier = nullptr;
};

SignalClose::SignalClose(TMain *window) : QObject(window), m_platform(std::make_unique<Platform>())
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    auto *notifier = m_platform->notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, window, [window] {
        char buf[16];
        while (::read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        window->close();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : Signals)
        ::sigaction(sig, &sa, nullptr);
}

SignalClose::~SignalClose()
{
    for (int sig : Signals)
        ::signal(sig, SIG_DFL);
    delete m_platform->notifier;
    m_platform->notifier = nullptr;
    for (int &fd : signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace kp33
