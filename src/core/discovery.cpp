#include "core/discovery.h"

#include "core/addressform.h"
#include "core/controlprotocol.h"
#include "net/udpsocket.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>

using namespace ControlProtocol;

Discovery::Discovery(UdpSocket &streamSocket, const Timing &timing, QObject *parent)
    : QObject(parent), streamSocket(streamSocket), controlSocket(new UdpSocket(this)),
      discoverySocket(new UdpSocket(this)), broadcastSocket(new QUdpSocket(this)),
      broadcastTimer(new QTimer(this)), expiryTimer(new QTimer(this)),
      devices(timing.silenceLimitMs)
{
    clock.start();
    // Broadcasts stay on the local network: no proxy lookup (a libproxy thread on Linux).
    broadcastSocket->setProxy(QNetworkProxy::NoProxy);

    const auto control = [this](const QByteArray &payload, const QHostAddress &sender, quint16) {
        handleDatagram(payload, sender);
    };
    controlSocket->setReceiveCallback(control);
    controlSocket->bind(controlPort);
    discoverySocket->setReceiveCallback(control);
    discoverySocket->bind(discoveryPort);

    connect(broadcastTimer, &QTimer::timeout, this, &Discovery::broadcastPresence);
    broadcastTimer->start(timing.broadcastIntervalMs);
    connect(expiryTimer, &QTimer::timeout, this, &Discovery::expireDevices);
    expiryTimer->start(timing.expiryIntervalMs);
}

void Discovery::setDeviceVolume(const QString &address, int volume)
{
    controlSocket->sendTo(ControlProtocol::volume(volume), address, discoveryPort);
    devices.setVolume(address, volume);
}

void Discovery::bindBroadcastToDiscoveryPort()
{
    if (broadcastSocket->state() == QAbstractSocket::UnconnectedState)
        broadcastSocket->bind(QHostAddress::Any, discoveryPort, QAbstractSocket::ShareAddress);
}

void Discovery::handleDatagram(const QByteArray &payload, const QHostAddress &sender)
{
    const Command command = parse(payload, QHostInfo::localHostName());
    switch (command.kind) {
    case Command::Kind::Register:
        registerDevice(addressForm(sender), command.name);
        break;
    case Command::Kind::Mute:
        emit muteRequested();
        break;
    case Command::Kind::Quality:
        emit bitrateRequested(command.bitrate);
        break;
    case Command::Kind::Disconnect:
        unregisterDevice(addressForm(sender));
        break;
    case Command::Kind::Ignored:
        break;
    }
}

void Discovery::broadcastPresence()
{
    const QByteArray message = presence(QHostInfo::localHostName());
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            const QHostAddress subnet = entry.broadcast();
            if (!subnet.isNull())
                broadcastSocket->writeDatagram(message, subnet, discoveryPort);
        }
    }
    broadcastSocket->writeDatagram(message, QHostAddress(QHostAddress::Broadcast), discoveryPort);
}

void Discovery::registerDevice(const QString &address, const QString &name)
{
    if (devices.registerDevice(address, name, clock.elapsed()) != DeviceTable::Registration::Added)
        return;
    streamSocket.addTarget(address, audioPort);
    emit connectedDevicesChanged();
}

void Discovery::unregisterDevice(const QString &address)
{
    if (devices.unregisterDevice(address)) {
        streamSocket.removeTarget(address);
        emit connectedDevicesChanged();
    }
    emit deviceLeft(address);
}

// The table changes before any deviceLeft, and connectedDevicesChanged comes once, last.
void Discovery::expireDevices()
{
    const QStringList expired = devices.expire(clock.elapsed());
    for (const QString &address : expired) {
        streamSocket.removeTarget(address);
        emit deviceLeft(address);
    }
    if (!expired.isEmpty())
        emit connectedDevicesChanged();
}
