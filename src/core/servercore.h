#pragma once

#include "core/devicetable.h"
#include "core/frameassembler.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <memory>
#include <vector>

class OpusCodec;
class QTimer;
class QUdpSocket;
class UdpSocket;
class WasapiCapture;
class WasapiPlayer;

// The intervals of the core's repeating work and the silence after which a device is
// dropped; tests shorten them.
struct ServerCoreTiming
{
    int broadcastIntervalMs = 2000;
    int expiryIntervalMs = 2000;
    qint64 silenceLimitMs = DeviceTable::defaultExpiryMs;
};

// The one object through which the window drives streaming, discovery and player mode.
class ServerCore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY runningChanged)
    Q_PROPERTY(QVariantList audioDevices READ audioDevices NOTIFY audioDevicesChanged)
    Q_PROPERTY(QString selectedDevice READ selectedDevice WRITE setSelectedDevice NOTIFY
                   selectedDeviceChanged)
    Q_PROPERTY(QVariantList outputDevices READ outputDevices NOTIFY outputDevicesChanged)
    Q_PROPERTY(QString selectedOutputDevice READ selectedOutputDevice WRITE
                   setSelectedOutputDevice NOTIFY selectedOutputDeviceChanged)
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
    QVariantList connectedDevices() const { return devices.toVariantList(); }
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
    // The one stream format, end to end.
    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;
    static constexpr int frameSize = 480;           // samples per channel in 10 ms
    static constexpr int maxDecodeFrameSize = 5760; // samples per channel in 120 ms
    static constexpr int initialBitrate = 128000;   // bit/s until a quality command

    void stopSequence(int runningMode);
    void handleControlDatagram(const QByteArray &payload, const QHostAddress &sender);
    void handleAudioDatagram(const QByteArray &payload, const QHostAddress &sender);
    void broadcastPresence();
    void registerDevice(const QString &address, const QString &name);
    void unregisterDevice(const QString &address);
    void expireDevices();
    void endConnectionTo(const QString &address);
    void onCapturedAudio(const float *samples, std::uint64_t frameCount);
    void sendAudioFrame(const std::int16_t *frame);

    std::unique_ptr<WasapiCapture> capture;
    // Decoded audio reaches its render thread through pushSamples, under the engine's own
    // pending-samples lock.
    std::unique_ptr<WasapiPlayer> player;
    // Shared by the capture thread (encode) and the GUI thread (a quality command
    // re-creates it); serialised by the codec's own encoder lock.
    std::unique_ptr<OpusCodec> encoder;
    std::unique_ptr<OpusCodec> decoder; // GUI thread only
    // Its targets are shared by the capture thread (sending) and the GUI thread (devices
    // coming and going), guarded by the socket's own targets lock.
    UdpSocket *streamSocket = nullptr;
    UdpSocket *controlSocket = nullptr;
    UdpSocket *discoverySocket = nullptr;
    UdpSocket *audioInSocket = nullptr;
    QUdpSocket *broadcastSocket = nullptr;
    QTimer *broadcastTimer = nullptr;
    QTimer *expiryTimer = nullptr;

    // GUI thread only.
    QElapsedTimer clock; // measures silence; immune to changes of the wall clock
    DeviceTable devices;
    QString connectedServer;
    QHostAddress connectedAddress; // connectedServer when it is an IP address, else null
    bool running = false;
    int captureLatency = 0;
    QString selectedDeviceId;
    QString selectedOutputDeviceId;
    QVariantList audioDeviceList;
    QVariantList outputDeviceList;
    int mode = 0;
    std::vector<std::int16_t> decodeBuffer;

    // Capture thread only while capture runs; reset by startServer before it starts.
    FrameAssembler pendingSamples;
    std::uint32_t sequenceNumber = 0;
    std::vector<unsigned char> packet; // one encoded frame
    QByteArray datagram;                // header and packet, reused for every frame
};
