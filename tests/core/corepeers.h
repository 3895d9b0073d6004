#pragma once

#include "core/servercore.h"

#include <QMetaMethod>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QObject>
#include <QStringList>
#include <QUdpSocket>

#include <memory>

// A phone on a loopback address of its own, with the three ports every peer uses, bound
// next to the core's wildcard sockets. It keeps every datagram it receives.
class Phone
{
public:
    explicit Phone(const QString &address) : address(address)
    {
        bind(audio, 8080, audioReceived);
        bind(control, 8081, controlReceived);
        bind(discovery, 8082, discoveryReceived);
    }

    // From the phone's own port of that number to the same port of the core.
    void send(const QByteArray &payload, quint16 port = 8081)
    {
        QUdpSocket &from = port == 8080 ? audio : port == 8081 ? control : discovery;
        from.writeDatagram(payload, QHostAddress(QHostAddress::LocalHost), port);
    }

    const QString address;
    bool bound = true;
    QList<QNetworkDatagram> audioReceived;
    QList<QNetworkDatagram> controlReceived;
    QList<QNetworkDatagram> discoveryReceived;

private:
    void bind(QUdpSocket &socket, quint16 port, QList<QNetworkDatagram> &received)
    {
        QObject::connect(&socket, &QUdpSocket::readyRead, [&socket, &received] {
            while (socket.hasPendingDatagrams())
                received.append(socket.receiveDatagram(-1));
        });
        socket.setProxy(QNetworkProxy::NoProxy);
        bound = socket.bind(QHostAddress(address), port,
                            QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint) &&
                bound;
    }

    QUdpSocket audio;
    QUdpSocket control;
    QUdpSocket discovery;
};

// Every signal of a core, in order, by name; runningChanged carries the new state.
class SignalLog : public QObject
{
    Q_OBJECT

public:
    explicit SignalLog(ServerCore &core) : core(core)
    {
        const QMetaObject &meta = ServerCore::staticMetaObject;
        const QMetaMethod record = metaObject()->method(metaObject()->indexOfSlot("record()"));
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            if (meta.method(i).methodType() == QMetaMethod::Signal)
                connect(&core, meta.method(i), this, record);
        }
    }

    QStringList take()
    {
        QStringList taken;
        taken.swap(names);
        return taken;
    }

private slots:
    void record()
    {
        QString name = QString::fromLatin1(
            ServerCore::staticMetaObject.method(senderSignalIndex()).name());
        if (name == QLatin1String("runningChanged"))
            name += core.isRunning() ? QLatin1String("(true)") : QLatin1String("(false)");
        names.append(name);
    }

private:
    ServerCore &core;
    QStringList names;
};
