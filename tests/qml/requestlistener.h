#pragma once

#include <QObject>
#include <QTcpServer>

// A web server on this machine that serves nothing and counts who comes: text from the
// network must never make the window fetch what it points to.
class RequestListener : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int port READ port CONSTANT)
    Q_PROPERTY(int connections READ connections NOTIFY connectionsChanged)

public:
    explicit RequestListener(QObject *parent = nullptr);

    int port() const { return server.serverPort(); }
    int connections() const { return accepted; }

signals:
    void connectionsChanged();

private:
    QTcpServer server;
    int accepted = 0;
};
