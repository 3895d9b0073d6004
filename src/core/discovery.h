#pragma once

#include "core/devicetable.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QVariantList>

class QTimer;
class QUdpSocket;
class UdpSocket;

// Discovery and registration: announces this computer on the local network, keeps the
// table of devices that say hello (each also a target of the stream socket, at its audio
// port) until they leave or fall silent, and turns their commands into signals. Everything
// here runs on the GUI thread.
class Discovery : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        int broadcastIntervalMs = 2000;
        int expiryIntervalMs = 2000;
        qint64 silenceLimitMs = DeviceTable::defaultExpiryMs;
    };

    // streamSocket's targets follow the table; its owner keeps it alive.
    Discovery(UdpSocket &streamSocket, const Timing &timing, QObject *parent = nullptr);

    // One record per device, in order of registration.
    QVariantList connectedDevices() const { return devices.toVariantList(); }
    // Tells a device its volume and keeps it in its record; nothing is emitted.
    void setDeviceVolume(const QString &address, int volume);
    // From now on the presence broadcast leaves from the discovery port, shared.
    void bindBroadcastToDiscoveryPort();

signals:
    void connectedDevicesChanged();
    // A device left the table, by Disconnect or by silence, or said Disconnect while it had
    // no record.
    void deviceLeft(const QString &address);
    void muteRequested();
    void bitrateRequested(int bitsPerSecond);

private:
    void handleDatagram(const QByteArray &payload, const QHostAddress &sender);
    void broadcastPresence();
    void registerDevice(const QString &address, const QString &name);
    void unregisterDevice(const QString &address);
    void expireDevices();

    UdpSocket &streamSocket; // targets guarded by the socket's own targets lock
    UdpSocket *controlSocket = nullptr;
    UdpSocket *discoverySocket = nullptr;
    QUdpSocket *broadcastSocket = nullptr;
    QTimer *broadcastTimer = nullptr;
    QTimer *expiryTimer = nullptr;
    QElapsedTimer clock; // measures silence; immune to changes of the wall clock
    DeviceTable devices;
};
