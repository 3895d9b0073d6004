#pragma once

#include "core/capturelatencyreadout.h"
#include "core/devicelists.h"
#include "core/discovery.h"
#include "core/muteworker.h"
#include "core/playerpath.h"
#include "core/portconflict.h"
#include "net/localaddress.h"

#include <QObject>
#include <QString>
#include <QVariantList>
#include <memory>

class DeviceWatcher;
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
    // One line naming the ports another program holds; empty when all are ours.
    Q_PROPERTY(QString portConflict READ portConflict NOTIFY portConflictChanged)
    // While true, a new phone waits among pendingDevices until the user allows it.
    Q_PROPERTY(bool askBeforeStreaming READ askBeforeStreaming WRITE setAskBeforeStreaming NOTIFY
                   askBeforeStreamingChanged)
    Q_PROPERTY(QVariantList pendingDevices READ pendingDevices NOTIFY pendingDevicesChanged)
    // "Cannot resolve NAME" while the server connected to by name does not resolve.
    Q_PROPERTY(QString resolveError READ resolveError NOTIFY resolveErrorChanged)
    Q_PROPERTY(int playoutLatencyMs READ playoutLatencyMs NOTIFY playoutLatencyMsChanged)
    Q_PROPERTY(bool eventSync READ eventSync WRITE setEventSync NOTIFY eventSyncChanged)
    Q_PROPERTY(bool continuousCapture READ continuousCapture WRITE setContinuousCapture NOTIFY
                   continuousCaptureChanged)

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
    QString localIp() const { return localIPv4Address(); }
    int captureLatencyMs() const { return captureReadOut->latencyMs(); }
    int playerMode() const { return mode; }
    void setPlayerMode(int newMode);
    int soundSystemState() const { return deviceLists.state(); }
    bool canCreateVirtualMicrophone() const;
    QString portConflict() const { return portConflictLine.text(); }
    bool askBeforeStreaming() const { return discovery->askBeforeStreaming(); }
    void setAskBeforeStreaming(bool on);
    QVariantList pendingDevices() const { return discovery->pendingDevices(); }
    QString resolveError() const { return playerPath->resolveError(); }
    // Player mode: from a datagram's arrival to its audio leaving the output device, in ms,
    // updated once a second while playing; 0 while nothing plays.
    int playoutLatencyMs() const { return playerPath->playoutLatencyMs(); }
    // The capture wakes when audio is ready instead of polling every 10 ms.
    bool eventSync() const;
    void setEventSync(bool enabled);
    // A device that delivers nothing while streaming is stood in for by silence.
    bool continuousCapture() const;
    void setContinuousCapture(bool enabled);

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
    void portConflictChanged();
    void askBeforeStreamingChanged();
    void pendingDevicesChanged();
    void resolveErrorChanged();
    void playoutLatencyMsChanged();
    void eventSyncChanged();
    void continuousCaptureChanged();

public:
    Q_INVOKABLE void refreshDevices();
    Q_INVOKABLE void startServer();
    Q_INVOKABLE void stopServer();
    Q_INVOKABLE void connectToAddress(const QString &ip);
    Q_INVOKABLE void setDeviceVolume(const QString &ip, int volume)
    {
        discovery->setDeviceVolume(ip, volume);
    }
    // Makes an output device whose sound every program can record as a microphone (where
    // the sound system can), lists it at once and returns its id; empty when it failed. It
    // is removed again when the core goes.
    Q_INVOKABLE QString createVirtualMicrophone();
    Q_INVOKABLE void allowDevice(const QString &ip) { discovery->allowDevice(ip); }
    Q_INVOKABLE void blockDevice(const QString &ip) { discovery->blockDevice(ip); }

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
    void updatePortConflict();

    // Sends the stream to the phones, and the player-mode hello. Its targets are shared by
    // the capture thread (sending) and the GUI thread (phones coming and going), guarded by
    // the socket's own targets lock.
    UdpSocket *streamSocket = nullptr;
    std::unique_ptr<StreamSender> sender;
    PlayerPath *playerPath = nullptr;
    Discovery *discovery = nullptr;
    DeviceWatcher *deviceWatcher = nullptr;
    // Mutes from the network wait for the sound server on its thread, never on this one.
    MuteWorker muteWorker;
    CaptureLatencyReadOut *captureReadOut = nullptr;

    // GUI thread only.
    QString connectedServer;
    bool running = false;
    QString selectedDeviceId;
    QString selectedOutputDeviceId;
    DeviceLists deviceLists;
    int mode = Mode::server;
    // Made on request, or taken over from a run that ended without removing it.
    std::unique_ptr<VirtualMicrophone> virtualMicrophone;
    PortConflictLine portConflictLine;
};
