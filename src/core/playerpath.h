#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class OpusCodec;
class UdpSocket;
class WasapiPlayer;

// Player mode's audio: the datagrams that reach port 8080 from the device connected to,
// decoded and played on an output device. Everything here runs on the GUI thread; decoded
// audio reaches the output engine's render thread through its own pending-samples lock.
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

private:
    void handleDatagram(const QByteArray &payload, const QHostAddress &sender);

    // The engine's pushSamples crosses to the render thread under the engine's own lock.
    std::unique_ptr<WasapiPlayer> player;
    std::unique_ptr<OpusCodec> decoder;
    UdpSocket *audioInSocket = nullptr; // bound to the audio port for the core's whole life

    // GUI thread only.
    bool playing = false;
    QHostAddress acceptedSender; // null: any sender
    std::vector<std::int16_t> decodeBuffer;
};
