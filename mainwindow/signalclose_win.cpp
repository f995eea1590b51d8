#include "mainwindow/signalclose.h"

#include "mainwindow/tmain.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <windows.h>

// The end of the session (logoff, shutdown) comes as WM_QUERYENDSESSION and
// WM_ENDSESSION to every top-level window. An application-wide filter sees
// them before Qt does: Qt would answer WM_ENDSESSION with quit(), and Windows
// may end the process as soon as that message is answered, so the window's
// close in order has to be over by then.

namespace kp33 {

namespace {

// What the close in order may take at most: a measurement cycle to finish
// and the files to be written. Windows itself waits about as long before it
// offers to end a program that does not answer.
constexpr int CloseBoundMs = 5000;

class SessionEndFilter final : public QAbstractNativeEventFilter {
public:
    explicit SessionEndFilter(TMain *window) : m_window(window) {}

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override
    {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_QUERYENDSESSION) {
            // Nothing here may stop a logoff; the close comes with the end itself.
            *result = TRUE;
            return true;
        }
        if (msg->message != WM_ENDSESSION)
            return false;
        // FALSE: another program refused, and the session goes on.
        if (msg->wParam && m_window)
            closeBeforeAnswering();
        *result = 0;
        return true;
    }

private:
    void closeBeforeAnswering()
    {
        m_window->EndSession();
        const QDeadlineTimer deadline(CloseBoundMs);
        while (m_window && m_window->isVisible() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
    }

    QPointer<TMain> m_window;
};

} // namespace

struct SignalClose::Platform {
    std::unique_ptr<SessionEndFilter> filter;
};

SignalClose::SignalClose(TMain *window) : QObject(window), m_platform(std::make_unique<Platform>())
{
    m_platform->filter = std::make_unique<SessionEndFilter>(window);
    QCoreApplication::instance()->installNativeEventFilter(m_platform->filter.get());
}

SignalClose::~SignalClose()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeNativeEventFilter(m_platform->filter.get());
}

} // namespace kp33
