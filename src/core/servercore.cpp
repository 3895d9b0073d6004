#include "core/servercore.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

// The streaming side (engines, sockets, protocol) is wired in as its layers land; until
// then the object offers the complete surface the window binds to.

ServerCore::ServerCore(QObject *parent) : QObject(parent)
{
    refreshDevices();
}

ServerCore::~ServerCore() = default;

void ServerCore::setSelectedDevice(const QString &id)
{
    if (id == selectedDeviceId)
        return;
    selectedDeviceId = id;
    emit selectedDeviceChanged();
}

void ServerCore::setSelectedOutputDevice(const QString &id)
{
    if (id == selectedOutputDeviceId)
        return;
    selectedOutputDeviceId = id;
    emit selectedOutputDeviceChanged();
}

void ServerCore::setPlayerMode(int newMode)
{
    if (newMode == mode)
        return;
    mode = newMode;
    emit playerModeChanged();
}

QString ServerCore::hostname() const
{
    return QHostInfo::localHostName();
}

QString ServerCore::localIp() const
{
    const auto addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol &&
            address != QHostAddress(QHostAddress::LocalHost))
            return address.toString();
    }
    return {};
}

void ServerCore::refreshDevices()
{
    emit audioDevicesChanged();
    emit outputDevicesChanged();
}

void ServerCore::startServer() {}
void ServerCore::stopServer() {}
void ServerCore::connectToAddress(const QString &) {}
void ServerCore::setDeviceVolume(const QString &, int) {}
