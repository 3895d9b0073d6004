#include "core/discovery.h"

#include "core/addressform.h"
#include "core/controlprotocol.h"
#include "core/streamformat.h"
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
      devices(timing.silenceLimitMs), approval(timing.silenceLimitMs), limits(Stream::bitrate)
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

    // Coarse timers may move each timeout by 5 % (100 ms here) to save wake-ups; phones
    // count on the 2000 ms cadence and on silence being measured on time.
    broadcastTimer->setTimerType(Qt::PreciseTimer);
    expiryTimer->setTimerType(Qt::PreciseTimer);
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

QList<quint16> Discovery::portsInUse() const
{
    QList<quint16> ports;
    if (controlSocket->portInUse())
        ports.append(controlPort);
    if (discoverySocket->portInUse())
        ports.append(discoveryPort);
    return ports;
}

void Discovery::setAskBeforeStreaming(bool on)
{
    if (approval.setAsking(on, devices.addresses()))
        emit pendingDevicesChanged();
}

void Discovery::allowDevice(const QString &address)
{
    const std::optional<QString> name = approval.allow(address);
    if (!name)
        return;
    emit pendingDevicesChanged();
    registerDevice(address, *name, clock.elapsed());
}

void Discovery::blockDevice(const QString &address)
{
    if (approval.block(address))
        emit pendingDevicesChanged();
    // Registered, it leaves as if it had said Disconnect.
    if (devices.addresses().contains(address))
        unregisterDevice(address);
}

void Discovery::handleDatagram(const QByteArray &payload, const QHostAddress &sender)
{
    // Beyond the local link nobody is heard, and nobody learns that. So no broadcast,
    // multicast or unspecified address ever becomes one of the stream's destinations.
    if (!link.isOnLink(sender, clock.elapsed()))
        return;
    // Timed after the check, which now and then reads the interfaces again: a hello is
    // seen when it is handled, as the one handled right after it is.
    const qint64 now = clock.elapsed();
    const Command command = parse(payload, QHostInfo::localHostName());
    if (command.kind == Command::Kind::Ignored)
        return;
    const QString address = addressForm(sender);
    if (command.kind == Command::Kind::Register) {
        hello(address, command.name, now);
        return;
    }
    if (!approval.acceptsCommandsFrom(address))
        return;
    switch (command.kind) {
    case Command::Kind::Mute:
        if (limits.admitMute(sender, now))
            emit muteRequested();
        break;
    case Command::Kind::Quality:
        if (limits.admitQuality(command.bitrate, now))
            emit bitrateRequested(command.bitrate);
        break;
    case Command::Kind::Disconnect:
        unregisterDevice(address);
        break;
    case Command::Kind::Register:
    case Command::Kind::Ignored:
        break;
    }
}

void Discovery::hello(const QString &address, const QString &name, qint64 now)
{
    switch (approval.verdict(address)) {
    case ApprovalGate::Verdict::Ignore:
        return;
    case ApprovalGate::Verdict::Ask:
        if (!approval.refreshPending(address, now)) {
            approval.addPending(address, name, now);
            emit pendingDevicesChanged();
        }
        return;
    case ApprovalGate::Verdict::Register:
        // Known devices are refreshed whatever the rate of newcomers.
        if (!devices.refresh(address, now) && limits.admitNewcomer(now))
            registerDevice(address, name, now);
        return;
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

void Discovery::registerDevice(const QString &address, const QString &name, qint64 now)
{
    if (devices.registerDevice(address, name, now) != DeviceTable::Registration::Added)
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
    const qint64 now = clock.elapsed();
    if (approval.expire(now))
        emit pendingDevicesChanged();
    const QStringList expired = devices.expire(now);
    for (const QString &address : expired) {
        streamSocket.removeTarget(address);
        emit deviceLeft(address);
    }
    if (!expired.isEmpty())
        emit connectedDevicesChanged();
}
