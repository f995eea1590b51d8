#pragma once
// One program per user: the first instance holds a lock file and listens on a
// local socket in the user's runtime folder; a later start asks it to come
// forward and ends. Nothing here is shared between users.

#include <QObject>
#include <memory>

class QLocalServer;
class QLockFile;

namespace kp33 {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance. False when another one
    // runs: it has been asked to come forward (or did not answer within a
    // second), and this process should end with status 0.
    bool acquire();

    static QString lockPath();
    static QString serverPath();

signals:
    void activationRequested();

private:
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};

} // namespace kp33
