#pragma once
// One program per user. The first instance holds its claim until it ends; a
// later start brings the first instance's main window forward and ends.

#include <QObject>
#include <memory>

class QWidget;

namespace kp33 {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance. False when another one
    // runs: it has been brought forward (or could not be reached), and this
    // process should end with status 0.
    bool acquire();

    // The window a later start brings forward. Where the later start shows
    // the window itself (Windows), the window must be known by a mark of its
    // own: its title changes with every reading.
    void setMainWindow(QWidget *window);

signals:
    // A later start asked for the window, where the first instance brings
    // it forward itself (Linux).
    void activationRequested();

private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};

} // namespace kp33
