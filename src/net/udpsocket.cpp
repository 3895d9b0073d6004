#include "net/udpsocket.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QUdpSocket>
#include <algorithm>

UdpSocket::UdpSocket(QObject *parent) : QObject(parent), socket(new QUdpSocket(this))
{
    // Peers are on the local network, so datagrams go straight to them. Without this every
    // bind asks the system for a proxy (a libproxy thread on Linux) and a SOCKS5 one would
    // carry the stream.
    socket->setProxy(QNetworkProxy::NoProxy);
    connect(socket, &QUdpSocket::readyRead, this, &UdpSocket::readPendingDatagrams);
    bindAnyPort();
}

UdpSocket::~UdpSocket() = default;

void UdpSocket::setReceiveCallback(ReceiveCallback newCallback)
{
    callback = std::move(newCallback);
}

// A QUdpSocket that is written to while unbound binds itself inside the write, creating its
// socket engine and read notifier in the writing thread, which for the stream socket is the
// capture thread: objects of the wrong thread, and a race with everything the owner thread
// does with the socket. So a socket nobody has bound (and one after an abort) holds a port
// the platform picks, bound here on the owner thread, which is what the first write would
// have given it anyway. A socket whose bind failed is closed instead, and writes skip it.
void UdpSocket::bindAnyPort()
{
    boundToAnyPort = socket->bind(QHostAddress::Any, 0);
}

bool UdpSocket::bind(quint16 port)
{
    std::lock_guard<std::mutex> lock(targetsLock);
    // A second bind cannot take a bound socket elsewhere; the first binding stays.
    if (socket->state() == QAbstractSocket::BoundState && !boundToAnyPort)
        return false;
    socket->abort();
    boundToAnyPort = false;
#ifdef Q_OS_WIN
    // SO_EXCLUSIVEADDRUSE and no SO_REUSEADDR: otherwise any other process could bind the
    // same port and take the hellos, commands and audio meant for this one.
    const auto mode = QAbstractSocket::DontShareAddress;
#else
    // SO_REUSEADDR, which on Linux lets a socket bound to one address (the tests' phones on
    // 127.0.0.x) share the port with this wildcard one; a socket that did not ask to share
    // still keeps us out.
    const auto mode = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
#endif
    const bool bound = socket->bind(QHostAddress::Any, port, mode);
    // Windows reports a port held exclusively by someone else as an access error.
    lastBindFoundPortInUse = !bound && (socket->error() == QAbstractSocket::AddressInUseError ||
                                        socket->error() == QAbstractSocket::SocketAccessError);
    // A failed bind leaves the socket closed: no stray port of the platform's choosing
    // that would still hear datagrams and obey commands.
    if (!bound)
        socket->abort();
    return bound;
}

void UdpSocket::abort()
{
    std::lock_guard<std::mutex> lock(targetsLock);
    socket->abort();
    bindAnyPort();
}

void UdpSocket::addTarget(const QString &address, quint16 port)
{
    const Target target{QHostAddress(address), port};
    std::lock_guard<std::mutex> lock(targetsLock);
    if (std::find(targets.begin(), targets.end(), target) == targets.end())
        targets.push_back(target);
}

void UdpSocket::removeTarget(const QString &address)
{
    const QHostAddress removed(address);
    std::lock_guard<std::mutex> lock(targetsLock);
    targets.erase(std::remove_if(targets.begin(), targets.end(),
                                 [&](const Target &target) { return target.address == removed; }),
                  targets.end());
}

void UdpSocket::clearTargets()
{
    std::lock_guard<std::mutex> lock(targetsLock);
    targets.clear();
}

std::vector<Target> UdpSocket::currentTargets() const
{
    std::lock_guard<std::mutex> lock(targetsLock);
    return targets;
}

qint64 UdpSocket::sendToTargets(const QByteArray &payload)
{
    std::lock_guard<std::mutex> lock(targetsLock);
    qint64 result = -1;
    for (const Target &target : targets)
        result = write(payload, target.address, target.port);
    return result;
}

qint64 UdpSocket::sendTo(const QByteArray &payload, const QString &address, quint16 port)
{
    const QHostAddress destination(address);
    std::lock_guard<std::mutex> lock(targetsLock);
    return write(payload, destination, port);
}

qint64 UdpSocket::write(const QByteArray &payload, const QHostAddress &address, quint16 port)
{
    // Address text that did not parse is a failed write. Handed to the socket, the null
    // address goes out as the all-zeros address, which Linux delivers to this very host.
    if (address.isNull())
        return -1;
    // A socket whose bind failed (or that the platform refused even a free port) is
    // closed: writing would make it bind itself on this thread.
    if (socket->state() != QAbstractSocket::BoundState)
        return -1;
    return socket->writeDatagram(payload.constData(), payload.size(), address, port);
}

void UdpSocket::readPendingDatagrams()
{
    // The read notifier fires again on the next turn while datagrams are pending.
    for (int handled = 0; handled < maxDatagramsPerActivation; ++handled) {
        QNetworkDatagram datagram;
        {
            std::lock_guard<std::mutex> lock(targetsLock);
            if (!socket->hasPendingDatagrams())
                return;
            // No size limit: the datagram is read whole, however large.
            datagram = socket->receiveDatagram(-1);
        }
        // A read that failed has no sender; the read notifier is armed again, so whatever
        // is still pending comes back with the next activation instead of spinning here.
        if (!datagram.isValid())
            return;
        // The lock is free here, so the callback may change the targets or send.
        if (callback)
            callback(datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}
