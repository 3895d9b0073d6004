#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

class QUdpSocket;

// One destination of UdpSocket::sendToTargets.
struct Target
{
    QHostAddress address;
    quint16 port = 0;
};

inline bool operator==(const Target &a, const Target &b)
{
    return a.address == b.address && a.port == b.port;
}

using ReceiveCallback =
    std::function<void(const QByteArray &payload, const QHostAddress &sender, quint16 senderPort)>;

// A UDP socket with one receive callback and a list of destinations that one call sends the
// same datagram to. The socket, the receive loop and the callback belong to the thread that
// created the object; the targets and the send operations may be used from any thread.
class UdpSocket : public QObject
{
    Q_OBJECT

public:
    explicit UdpSocket(QObject *parent = nullptr);
    ~UdpSocket() override;

    // Datagrams one activation hands to the callback at most. The rest stay with the
    // kernel and come in the next turn of the event loop, so that a flood on one socket
    // cannot hold up timers and the other sockets.
    static constexpr int maxDatagramsPerActivation = 64;

    void setReceiveCallback(ReceiveCallback callback);
    // Binds all interfaces of both address families; false when the port cannot be had, and
    // then the socket stays closed: it receives nothing and sends nothing until a later
    // bind succeeds. On Windows the port is held exclusively; on Linux it is shared, so
    // that peers on other loopback addresses of this machine can hold it too.
    bool bind(quint16 port);
    // True when the last bind failed because another socket holds the port.
    bool portInUse() const { return lastBindFoundPortInUse; }
    void abort();

    void addTarget(const QString &address, quint16 port);
    // Removes the address with every port it was added with.
    void removeTarget(const QString &address);
    void clearTargets();
    std::vector<Target> currentTargets() const;

    // One datagram to every target in order; the last write's result, -1 with no targets.
    qint64 sendToTargets(const QByteArray &payload);
    // One datagram to one destination, leaving the targets alone.
    qint64 sendTo(const QByteArray &payload, const QString &address, quint16 port);

private slots:
    void readPendingDatagrams();

private:
    void bindAnyPort();
    // One datagram; the caller holds targetsLock.
    qint64 write(const QByteArray &payload, const QHostAddress &address, quint16 port);

    QUdpSocket *socket;
    std::vector<Target> targets;
    // Guards targets and the socket's datagram traffic: every write (from any thread), every
    // read, and the rebinding that replaces the socket's descriptor, so that a write from
    // another thread never meets the owner thread inside the socket.
    mutable std::mutex targetsLock;
    ReceiveCallback callback;
    // True while the socket holds a port the platform picked because nobody bound it.
    // Owner thread only.
    bool boundToAnyPort = false;
    bool lastBindFoundPortInUse = false; // owner thread only
};
