#include "mainwindow/signalclose.h"

#include "mainwindow/tmain.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <windows.h>

// The end of the session (logoff, shutdown) comes as WM_QUERYENDSESSION and
// WM_ENDSESSION to every top-level window. An application-wide filter sees
// them before Qt does: Qt would answer WM_ENDSESSION with quit(), and Windows
// may end the process as soon as that message is answered, or about five
// seconds after it was sent, so the close runs inside the handler and keeps
// within that (TMain::EndSession).

namespace kp33 {

namespace {

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
            m_window->EndSession();
        *result = 0;
        return true;
    }

private:
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
