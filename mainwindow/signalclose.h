#pragma once
// SIGTERM, SIGINT and SIGHUP become a close request of the main window, so a
// logout or a service stop ends the program in order and saves its settings.

#include <QObject>

class QSocketNotifier;
class QWidget;

namespace kp33 {

class SignalClose : public QObject {
    Q_OBJECT
public:
    explicit SignalClose(QWidget *window);
    ~SignalClose() override;

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace kp33
