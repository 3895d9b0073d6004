#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <memory>

class QTimer;
class UdpSocket;
class WasapiPlayer;

// Player mode's audio: the datagrams that reach port 8080 from the device connected to,
// played on an output device. Everything here runs on the GUI thread; the packets reach the
// output engine's jitter buffer under its own lock, and its render thread decodes them.
class PlayerPath : public QObject
{
    Q_OBJECT

public:
    explicit PlayerPath(QObject *parent = nullptr);
    ~PlayerPath() override;

    // Asks the device at address to send us its audio: our hello, through socket, to its
    // control port.
    static void sendHello(const QString &address, UdpSocket &socket);
    // Plays what arrives from sender (any sender when it is not an IP address) into the
    // output device with this id (empty: the default output). False when the output cannot
    // start; arriving audio is then dropped until another output starts.
    bool start(const QString &outputDeviceId, const QString &sender = QString());
    // Moves the output to another device; the sender stays.
    bool switchOutput(const QString &outputDeviceId);
    // Takes the audio port again if it was lost (a failed bind at construction).
    void rebindAudioPort();
    // Silences the output and drops every datagram until the next start.
    void stop();

    // Time from a datagram's arrival to its audio leaving the output device, in ms, as the
    // output last measured it over a second of playing; 0 while nothing plays.
    int playoutLatencyMs() const { return latencyMs; }

signals:
    // At most once a second while playing, and when playing ends.
    void playoutLatencyChanged();

private:
    void handleDatagram(const QByteArray &payload, const QHostAddress &sender);
    void updateLatency();

    // Packets cross to the render thread under the engine's own jitter-buffer lock.
    std::unique_ptr<WasapiPlayer> player;
    UdpSocket *audioInSocket = nullptr; // bound to the audio port for the core's whole life
    QTimer *latencyTimer = nullptr;     // reads the output's latency while playing

    // GUI thread only.
    bool playing = false;
    QHostAddress acceptedSender; // null: any sender
    int latencyMs = 0;
};
