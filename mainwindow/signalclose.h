#pragma once
// The desktop's request to end the program becomes an orderly close of the
// main window, so a logout or a shutdown saves the settings and closes the
// data file, also while a box or a dialog is open. On Linux these are the
// signals SIGTERM, SIGINT and SIGHUP; on Windows the end of the session.

#include <QObject>
#include <memory>

namespace kp33 {

class TMain;

class SignalClose : public QObject {
    Q_OBJECT
public:
    explicit SignalClose(TMain *window);
    ~SignalClose() override;

private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};

} // namespace kp33
