#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString socketNameIn(const QString &directory)
{
#ifdef Q_OS_WIN
    // Pipe names are machine-wide: derive one from the user's own directory.
    const QByteArray digest =
        QCryptographicHash::hash(directory.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("KestruneServer-") + QString::fromLatin1(digest.left(32));
#else
    return QDir(directory).filePath(QStringLiteral("KestruneServer.socket"));
#endif
}

} // namespace

SingleInstance::SingleInstance(const QString &directory, QObject *parent)
    : QObject(parent), socketName(socketNameIn(directory)),
      lock(QDir(directory).filePath(QStringLiteral("KestruneServer.lock")))
{
    // The program runs for days: a lock is stale only once its process is gone, never
    // because of its age.
    lock.setStaleLockTime(0);
    QDir().mkpath(directory);
}

QString SingleInstance::userDirectory()
{
#ifdef Q_OS_WIN
    return QDir::tempPath();
#else
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
}

bool SingleInstance::claim()
{
    if (lock.tryLock(0)) {
        listen();
        return true;
    }
    // A directory we cannot write is no reason to refuse to run; only a lock held by
    // another copy is.
    if (lock.error() != QLockFile::LockFailedError)
        return true;
    knock();
    return false;
}

void SingleInstance::listen()
{
    // Holding the lock, whatever socket is there was left by a copy that ended abruptly.
    QLocalServer::removeServer(socketName);
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, [this] {
        emit activationRequested();
        // Closing the connection tells the later start that it has been heard.
        while (QLocalSocket *peer = server.nextPendingConnection())
            delete peer;
    });
    // Without the socket the program still runs; later starts then just go away.
    server.listen(socketName);
}

void SingleInstance::knock()
{
#ifdef Q_OS_WIN
    // Only the process the user just started may hand the foreground to another one.
    AllowSetForegroundWindow(ASFW_ANY);
#endif
    // The running copy may have taken the lock a moment ago and not listen yet.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketName);
        if (socket.waitForConnected(500)) {
            socket.waitForDisconnected(2000);
            return;
        }
        QThread::msleep(100);
    }
}
