#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class HostResolver;
class QTimer;
class UdpSocket;
class WasapiPlayer;

// Player mode's audio: the datagrams that reach port 8080 from the device connected to,
// played on an output device. The device is named by the user, as an IP address or a host
// name that is resolved without blocking. Everything here runs on the GUI thread; the packets
// reach the output engine's jitter buffer under its own lock, and its render thread decodes
// them.
class PlayerPath : public QObject
{
    Q_OBJECT

public:
    // helloSocket sends our hellos; its owner keeps it alive.
    explicit PlayerPath(UdpSocket &helloSocket, QObject *parent = nullptr);
    ~PlayerPath() override;

    // Plays the audio of the server into the output device with this id (empty: the
    // default output). Our hello goes to the first address the server resolves to, and
    // only audio from its addresses is played; until it is resolved, and when it resolves
    // to nothing (resolveError then says so), or with no server, nothing is. False when the
    // output cannot start; arriving audio is then dropped until another output starts.
    bool start(const QString &outputDeviceId, const QString &server = QString());
    // Asks another server for its audio with our hello; what is played stays as it is.
    void sayHello(const QString &server);
    // Moves the output to another device; the server stays.
    bool switchOutput(const QString &outputDeviceId);
    // Takes the audio port again if it was lost (a failed bind at construction).
    void rebindAudioPort();
    // True when another program holds the audio port.
    bool audioPortInUse() const;
    // Silences the output, forgets the server and drops every datagram until the next start.
    void stop();
    // True when the address form is one of the addresses the server being played resolved
    // to: its Disconnect or silence ends the connection.
    bool isServer(const QString &address) const;
    // "Cannot resolve NAME" while the server being played does not resolve; else empty.
    QString resolveError() const { return unresolved; }

    // Time from a datagram's arrival to its audio leaving the output device, in ms, as the
    // output last measured it over a second of playing; 0 while nothing plays.
    int playoutLatencyMs() const { return latencyMs; }

signals:
    void resolveErrorChanged();
    // At most once a second while playing, and when playing ends.
    void playoutLatencyChanged();

private:
    // Resolves the server and says hello to it; with play, also plays its audio.
    void reach(const QString &server, HostResolver &resolver, bool play);
    void setResolveError(const QString &text);
    bool isServer(const QHostAddress &sender) const;
    void handleDatagram(const QByteArray &payload, const QHostAddress &sender);
    // The latency read-out, and a line in the log for each time the output ran dry.
    void readPlayout();

    UdpSocket &helloSocket;
    // Packets cross to the render thread under the engine's own jitter-buffer lock.
    std::unique_ptr<WasapiPlayer> player;
    UdpSocket *audioInSocket = nullptr;     // bound to the audio port for the core's whole life
    HostResolver *serverResolver = nullptr; // the server being played
    HostResolver *helloResolver = nullptr;  // servers that only get a hello
    QTimer *latencyTimer = nullptr;         // reads the output's playout while playing

    // GUI thread only.
    bool playing = false;
    QList<QHostAddress> acceptedSenders; // the server's addresses; empty: nobody
    QString unresolved;
    int latencyMs = 0;
    std::uint64_t underrunsLogged = 0;
};
