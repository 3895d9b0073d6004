#pragma once

#include "core/approvalgate.h"
#include "core/devicetable.h"
#include "core/ratelimits.h"
#include "net/linkwatcher.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

class QTimer;
class QUdpSocket;
class UdpSocket;

// Discovery and registration: announces this computer on the local network, keeps the
// table of devices that say hello (each also a target of the stream socket, at its audio
// port) until they leave or fall silent, and turns their commands into signals. Only hosts
// on the local link are heard; commands and new addresses are rate-limited, and while the
// user wants to be asked, a new phone waits as pending until allowed. Everything here runs
// on the GUI thread.
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
    // The control and discovery ports that another program holds, in ascending order.
    QList<quint16> portsInUse() const;
    // What the limits let through and refused so far.
    const RateLimits &rateLimits() const { return limits; }

    bool askBeforeStreaming() const { return approval.isAsking(); }
    // Devices registered at this moment keep their place.
    void setAskBeforeStreaming(bool on);
    // One map per device waiting for the user, oldest first, with "name" and "ip".
    QVariantList pendingDevices() const { return approval.pendingList(); }
    // Registers a pending device at once, and lets it in for the rest of the run.
    void allowDevice(const QString &address);
    // Ignores the address for the rest of the run; a registered device leaves.
    void blockDevice(const QString &address);

signals:
    void connectedDevicesChanged();
    void pendingDevicesChanged();
    // A device left the table, by Disconnect or by silence, or said Disconnect while it had
    // no record.
    void deviceLeft(const QString &address);
    void muteRequested();
    void bitrateRequested(int bitsPerSecond);

private:
    void handleDatagram(const QByteArray &payload, const QHostAddress &sender);
    void hello(const QString &address, const QString &name, qint64 now);
    void broadcastPresence();
    void registerDevice(const QString &address, const QString &name, qint64 now);
    void unregisterDevice(const QString &address);
    void expireDevices();

    UdpSocket &streamSocket; // targets guarded by the socket's own targets lock
    UdpSocket *controlSocket = nullptr;
    UdpSocket *discoverySocket = nullptr;
    QUdpSocket *broadcastSocket = nullptr;
    QTimer *broadcastTimer = nullptr;
    QTimer *expiryTimer = nullptr;
    QElapsedTimer clock; // measures silence and rates; immune to changes of the wall clock
    DeviceTable devices;
    LinkWatcher link;
    ApprovalGate approval;
    RateLimits limits;
};
