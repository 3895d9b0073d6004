#include "requestlistener.h"

#include <QTcpSocket>

RequestListener::RequestListener(QObject *parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *peer = server.nextPendingConnection()) {
            delete peer;
            ++accepted;
        }
        emit connectionsChanged();
    });
    server.listen(QHostAddress::LocalHost);
}
