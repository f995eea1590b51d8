#include "mainwindow/singleinstance.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <windows.h>

// A named mutex, owned by the first instance until it ends. A later start
// finds the first instance's main window by a window property and shows it
// itself: the process the user has just started may bring a window to the
// front, the first instance may not.

namespace kp33 {

namespace {

const wchar_t MutexName[] = L"KP33-ZNK-847";
// Neither the window class (Qt names its own) nor the native title (the
// task-bar text, which follows the readings) identifies the window.
const wchar_t WindowMark[] = L"KP33-ZNK-847.MainWindow";

BOOL CALLBACK findMarked(HWND hwnd, LPARAM found)
{
    if (!GetPropW(hwnd, WindowMark))
        return TRUE;
    *reinterpret_cast<HWND *>(found) = hwnd;
    return FALSE;
}

// Qt makes a new native window when it has to (a change of flags, a screen
// of another kind), and the mark must follow it.
class MarkKeeper final : public QObject {
public:
    explicit MarkKeeper(QWidget *window) : QObject(window), m_window(window)
    {
        window->installEventFilter(this);
        mark();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::WinIdChange)
            mark();
        return false;
    }

private:
    void mark()
    {
        // Other platforms (offscreen) hand out ids that are no window handles.
        if (m_window && QGuiApplication::platformName() == QLatin1String("windows"))
            SetPropW(reinterpret_cast<HWND>(m_window->winId()), WindowMark, reinterpret_cast<HANDLE>(1));
    }

    QPointer<QWidget> m_window;
};

} // namespace

struct SingleInstance::Platform {
    HANDLE mutex = nullptr;
};

SingleInstance::SingleInstance(QObject *parent) : QObject(parent), m_platform(std::make_unique<Platform>()) {}

SingleInstance::~SingleInstance()
{
    // Never released before: the claim ends with the program.
    if (m_platform->mutex)
        CloseHandle(m_platform->mutex);
}

bool SingleInstance::acquire()
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, MutexName);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        HWND first = nullptr;
        EnumWindows(findMarked, reinterpret_cast<LPARAM>(&first));
        // Not found while the first instance is still starting: end quietly.
        if (first) {
            ShowWindow(first, SW_HIDE);
            ShowWindow(first, SW_RESTORE);
            SetForegroundWindow(first);
        }
        return false;
    }
    // Without a mutex at all (the system refused one) this is still the one
    // instance as far as it can tell.
    m_platform->mutex = mutex;
    return true;
}

void SingleInstance::setMainWindow(QWidget *window)
{
    if (window)
        new MarkKeeper(window);
}

} // namespace kp33
