#pragma once

#include "core/devicelists.h"
#include "core/discovery.h"

#include <QObject>
#include <QString>
#include <QVariantList>
#include <memory>

class DeviceWatcher;
class PlayerPath;
class StreamSender;
class UdpSocket;
class VirtualMicrophone;

// The intervals of the core's repeating work and the silence after which a device is
// dropped; tests shorten them.
using ServerCoreTiming = Discovery::Timing;

// The one object through which the window drives streaming, discovery and player mode. It
// keeps the mode state and wires the parts that do the work: the sending path of server
// mode, the player path, discovery with the table of devices, the device lists that follow
// the sound system, and the virtual microphone.
class ServerCore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY runningChanged)
    Q_PROPERTY(QVariantList audioDevices READ audioDevices NOTIFY audioDevicesChanged)
    Q_PROPERTY(QString selectedDevice READ selectedDevice WRITE setSelectedDevice NOTIFY
                   selectedDeviceChanged)
    Q_PROPERTY(QVariantList outputDevices READ outputDevices NOTIFY outputDevicesChanged)
    Q_PROPERTY(QString selectedOutputDevice READ selectedOutputDevice WRITE setSelectedOutputDevice
                   NOTIFY selectedOutputDeviceChanged)
    Q_PROPERTY(QVariantList connectedDevices READ connectedDevices NOTIFY connectedDevicesChanged)
    Q_PROPERTY(QString serverName READ serverName NOTIFY serverNameChanged)
    Q_PROPERTY(QString hostname READ hostname CONSTANT)
    Q_PROPERTY(QString localIp READ localIp CONSTANT)
    Q_PROPERTY(int captureLatencyMs READ captureLatencyMs NOTIFY captureLatencyMsChanged)
    Q_PROPERTY(int playerMode READ playerMode WRITE setPlayerMode NOTIFY playerModeChanged)
    // Why the device lists hold what they hold: 0 devices are listed, 1 the sound system
    // answers but has no output devices, 2 it cannot be reached.
    Q_PROPERTY(int soundSystemState READ soundSystemState NOTIFY soundSystemStateChanged)
    Q_PROPERTY(bool canCreateVirtualMicrophone READ canCreateVirtualMicrophone CONSTANT)
    Q_PROPERTY(int playoutLatencyMs READ playoutLatencyMs NOTIFY playoutLatencyMsChanged)

public:
    explicit ServerCore(QObject *parent = nullptr);
    explicit ServerCore(const ServerCoreTiming &timing, QObject *parent = nullptr);
    ~ServerCore() override;

    bool isRunning() const { return running; }
    QVariantList audioDevices() const { return deviceLists.audio(); }
    QString selectedDevice() const { return selectedDeviceId; }
    void setSelectedDevice(const QString &id);
    QVariantList outputDevices() const { return deviceLists.output(); }
    QString selectedOutputDevice() const { return selectedOutputDeviceId; }
    void setSelectedOutputDevice(const QString &id);
    QVariantList connectedDevices() const { return discovery->connectedDevices(); }
    QString serverName() const { return connectedServer; }
    QString hostname() const;
    QString localIp() const;
    int captureLatencyMs() const { return captureLatency; }
    int playerMode() const { return mode; }
    void setPlayerMode(int newMode);
    int soundSystemState() const { return deviceLists.state(); }
    bool canCreateVirtualMicrophone() const;
    // Player mode: from a datagram's arrival to its audio leaving the output device, in ms,
    // updated once a second while playing; 0 while nothing plays.
    int playoutLatencyMs() const;

signals:
    void runningChanged();
    void audioDevicesChanged();
    void selectedDeviceChanged();
    void outputDevicesChanged();
    void selectedOutputDeviceChanged();
    void connectedDevicesChanged();
    void captureLatencyMsChanged();
    void playerModeChanged();
    void serverNameChanged();
    void telemetryUpdated(int captureLatencyMs);
    void soundSystemStateChanged();
    void playoutLatencyMsChanged();

public:
    Q_INVOKABLE void refreshDevices();
    Q_INVOKABLE void startServer();
    Q_INVOKABLE void stopServer();
    Q_INVOKABLE void connectToAddress(const QString &ip);
    Q_INVOKABLE void setDeviceVolume(const QString &ip, int volume);
    // Makes an output device whose sound every program can record as a microphone (where
    // the sound system can), lists it at once and returns its id; empty when it failed. It
    // is removed again when the core goes.
    Q_INVOKABLE QString createVirtualMicrophone();

private:
    // The values of playerMode that mean something; any other value is kept and reported,
    // and behaves as player mode.
    struct Mode
    {
        static constexpr int server = 0;
        static constexpr int player = 1;
    };

    void stopSequence(int runningMode);
    void followDevices();
    void announce(const DeviceLists::Changes &changes);
    void endConnectionTo(const QString &address);
    void toggleMute();

    // Sends the stream to the phones, and the player-mode hello. Its targets are shared by
    // the capture thread (sending) and the GUI thread (phones coming and going), guarded by
    // the socket's own targets lock.
    UdpSocket *streamSocket = nullptr;
    std::unique_ptr<StreamSender> sender;
    PlayerPath *playerPath = nullptr;
    Discovery *discovery = nullptr;
    DeviceWatcher *deviceWatcher = nullptr;

    // GUI thread only.
    QString connectedServer;
    bool running = false;
    int captureLatency = 0;
    QString selectedDeviceId;
    QString selectedOutputDeviceId;
    DeviceLists deviceLists;
    int mode = Mode::server;
    // Made on request, or taken over from a run that ended without removing it.
    std::unique_ptr<VirtualMicrophone> virtualMicrophone;
};
