#include "mainwindow/singleinstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace kp33 {

namespace {
const QString InstanceName = QStringLiteral("KP33-ZNK-847");
constexpr int AnswerWaitMs = 1000;
} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/') +
           InstanceName + QStringLiteral(".lock");
}

QString SingleInstance::serverPath()
{
    // A full path in the user's own runtime folder: a bare name would land in
    // the shared temporary folder, where another user's instance could block it.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/') + InstanceName;
}

bool SingleInstance::acquire()
{
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    m_lock = std::make_unique<QLockFile>(lockPath());
    // The lock file tells a live first instance from one that crashed.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
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
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(serverPath()))
        return true; // still the one instance; only the bring-forward is lost
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *s = m_server->nextPendingConnection()) {
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().contains("show"))
                    emit activationRequested();
            });
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    return true;
}

} // namespace kp33
