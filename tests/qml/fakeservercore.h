#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

// Stands in for ServerCore behind the same properties, signals and invokables. It does
// nothing by itself: tests put it into a state with stage() and read back, in order, every
// writer and invokable the pages called (writers are logged even when the value is unchanged).
class FakeServerCore : public QObject
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
    Q_PROPERTY(int soundSystemState READ soundSystemState NOTIFY soundSystemStateChanged)
    Q_PROPERTY(bool canCreateVirtualMicrophone READ canCreateVirtualMicrophone CONSTANT)
    Q_PROPERTY(QString portConflict READ portConflict NOTIFY portConflictChanged)
    Q_PROPERTY(bool askBeforeStreaming READ askBeforeStreaming WRITE setAskBeforeStreaming NOTIFY
                   askBeforeStreamingChanged)
    Q_PROPERTY(QVariantList pendingDevices READ pendingDevices NOTIFY pendingDevicesChanged)
    Q_PROPERTY(QString resolveError READ resolveError NOTIFY resolveErrorChanged)
    Q_PROPERTY(int playoutLatencyMs READ playoutLatencyMs NOTIFY playoutLatencyMsChanged)
    Q_PROPERTY(bool eventSync READ eventSync WRITE setEventSync NOTIFY eventSyncChanged)
    Q_PROPERTY(bool continuousCapture READ continuousCapture WRITE setContinuousCapture NOTIFY
                   continuousCaptureChanged)
    Q_PROPERTY(QStringList calls READ calls NOTIFY callsChanged)

public:
    explicit FakeServerCore(QObject *parent = nullptr);

    bool isRunning() const { return running; }
    QVariantList audioDevices() const { return audioDeviceList; }
    QString selectedDevice() const { return selectedDeviceId; }
    void setSelectedDevice(const QString &id);
    QVariantList outputDevices() const { return outputDeviceList; }
    QString selectedOutputDevice() const { return selectedOutputDeviceId; }
    void setSelectedOutputDevice(const QString &id);
    QVariantList connectedDevices() const { return connectedDeviceList; }
    QString serverName() const { return connectedServer; }
    QString hostname() const { return QStringLiteral("studio-pc"); }
    QString localIp() const { return QStringLiteral("192.168.1.20"); }
    int captureLatencyMs() const { return captureLatency; }
    int playerMode() const { return mode; }
    void setPlayerMode(int newMode);
    int soundSystemState() const { return soundState; }
    // Constant on the real core: stage it before the page is made.
    bool canCreateVirtualMicrophone() const { return virtualMicrophoneSupported; }
    QString portConflict() const { return portConflictLine; }
    bool askBeforeStreaming() const { return asking; }
    void setAskBeforeStreaming(bool on);
    QVariantList pendingDevices() const { return pendingDeviceList; }
    QString resolveError() const { return unresolved; }
    int playoutLatencyMs() const { return playoutLatency; }
    bool eventSync() const { return eventSyncOn; }
    void setEventSync(bool on);
    bool continuousCapture() const { return continuousCaptureOn; }
    void setContinuousCapture(bool on);
    QStringList calls() const { return callLog; }

    Q_INVOKABLE void refreshDevices();
    Q_INVOKABLE void startServer();
    Q_INVOKABLE void stopServer();
    Q_INVOKABLE void connectToAddress(const QString &ip);
    Q_INVOKABLE void setDeviceVolume(const QString &ip, int volume);
    // Lists the staged "virtualMicrophone" device at once and returns its id, as the core
    // does; empty when none is staged.
    Q_INVOKABLE QString createVirtualMicrophone();
    Q_INVOKABLE void allowDevice(const QString &ip);
    Q_INVOKABLE void blockDevice(const QString &ip);

    // Test controls, not part of the core's surface.
    Q_INVOKABLE void stage(const QVariantMap &state);
    Q_INVOKABLE void clearCalls();
    Q_INVOKABLE void reset();

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
    void callsChanged();

private:
    void record(const QString &call);

    QStringList callLog;
    QString connectedServer;
    bool running = false;
    int captureLatency = 0;
    QString selectedDeviceId;
    QString selectedOutputDeviceId;
    QVariantList audioDeviceList;
    QVariantList outputDeviceList;
    QVariantList connectedDeviceList;
    int mode = 0;
    int soundState = 0;
    bool virtualMicrophoneSupported = false;
    QVariantMap virtualMicrophone; // the device createVirtualMicrophone lists
    QString portConflictLine;
    bool asking = false;
    QVariantList pendingDeviceList;
    QString unresolved;
    int playoutLatency = 0;
    bool eventSyncOn = true;
    bool continuousCaptureOn = true;
};
