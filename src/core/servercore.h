#pragma once

#include "core/discovery.h"

#include <QObject>
#include <QString>
#include <QVariantList>
#include <memory>

class PlayerPath;
class StreamSender;
class UdpSocket;

// The intervals of the core's repeating work and the silence after which a device is
// dropped; tests shorten them.
using ServerCoreTiming = Discovery::Timing;

// The one object through which the window drives streaming, discovery and player mode. It
// keeps the mode state and wires the parts that do the work: the sending path of server
// mode, the player path, and discovery with the table of devices.
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

public:
    explicit ServerCore(QObject *parent = nullptr);
    explicit ServerCore(const ServerCoreTiming &timing, QObject *parent = nullptr);
    ~ServerCore() override;

    bool isRunning() const { return running; }
    QVariantList audioDevices() const { return audioDeviceList; }
    QString selectedDevice() const { return selectedDeviceId; }
    void setSelectedDevice(const QString &id);
    QVariantList outputDevices() const { return outputDeviceList; }
    QString selectedOutputDevice() const { return selectedOutputDeviceId; }
    void setSelectedOutputDevice(const QString &id);
    QVariantList connectedDevices() const { return discovery->connectedDevices(); }
    QString serverName() const { return connectedServer; }
    QString hostname() const;
    QString localIp() const;
    int captureLatencyMs() const { return captureLatency; }
    int playerMode() const { return mode; }
    void setPlayerMode(int newMode);

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

public:
    Q_INVOKABLE void refreshDevices();
    Q_INVOKABLE void startServer();
    Q_INVOKABLE void stopServer();
    Q_INVOKABLE void connectToAddress(const QString &ip);
    Q_INVOKABLE void setDeviceVolume(const QString &ip, int volume);

private:
    // The values of playerMode that mean something; any other value is kept and reported,
    // and behaves as player mode.
    struct Mode
    {
        static constexpr int server = 0;
        static constexpr int player = 1;
    };

    void stopSequence(int runningMode);
    void endConnectionTo(const QString &address);
    void toggleMute();

    // Sends the stream to the phones, and the player-mode hello. Its targets are shared by
    // the capture thread (sending) and the GUI thread (phones coming and going), guarded by
    // the socket's own targets lock.
    UdpSocket *streamSocket = nullptr;
    std::unique_ptr<StreamSender> sender;
    PlayerPath *playerPath = nullptr;
    Discovery *discovery = nullptr;

    // GUI thread only.
    QString connectedServer;
    bool running = false;
    int captureLatency = 0;
    QString selectedDeviceId;
    QString selectedOutputDeviceId;
    QVariantList audioDeviceList;
    QVariantList outputDeviceList;
    int mode = Mode::server;
};
