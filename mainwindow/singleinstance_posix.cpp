#include "mainwindow/singleinstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

// Per user: a lock file in the user's runtime folder tells a live first
// instance from one that crashed; the first instance listens on a local
// socket beside it, and a later start asks there to be brought forward.

namespace kp33 {

namespace {

const QString InstanceName = QStringLiteral("KP33-ZNK-847");
constexpr int AnswerWaitMs = 1000;

QString runtimeFolder() { return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation); }

QString lockPath() { return runtimeFolder() + QLatin1Char('/') + InstanceName + QStringLiteral(".lock"); }

// A full path in the user's own runtime folder: a bare name would land in
// the shared temporary folder, where another user's instance could block it.
QString serverPath() { return runtimeFolder() + QLatin1Char('/') + InstanceName; }

} // namespace

struct SingleInstance::Platform {
    std::unique_ptr<QLockFile> lock;
    QLocalServer *server = nullptr;
};

SingleInstance::SingleInstance(QObject *parent) : QObject(parent), m_platform(std::make_unique<Platform>()) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    QDir().mkpath(runtimeFolder());
    auto &lock = m_platform->lock;
    lock = std::make_unique<QLockFile>(lockPath());
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        QLocalSocket socket;
        socket.connectToServer(serverPath());
        if (socket.waitForConnected(AnswerWaitMs)) {
            socket.write("show\n");
            socket.waitForBytesWritten(AnswerWaitMs);
            socket.disconnectFromServer();
        }
        return false;
    }
    QLocalServer::removeServer(serverPath());
    auto *server = m_platform->server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(serverPath()))
        return true; // still the one instance; only the bring-forward is lost
    connect(server, &QLocalServer::newConnection, this, [this, server] {
        while (QLocalSocket *s = server->nextPendingConnection()) {
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().contains("show"))
                    emit activationRequested();
            });
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    return true;
}

// The request reaches this object; main() hands it to the window.
void SingleInstance::setMainWindow(QWidget *) {}

} // namespace kp33
