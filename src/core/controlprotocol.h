#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The text datagrams exchanged with the devices on the local network, and the ports every
// peer uses. Parsing and building only: the sockets and what a command does live in
// ServerCore.
namespace ControlProtocol {

constexpr quint16 audioPort = 8080;     // audio datagrams
constexpr quint16 controlPort = 8081;   // hellos and commands
constexpr quint16 discoveryPort = 8082; // presence broadcasts and the volume command

// The largest Quality value whose bitrate (value x 1000 bit/s) still fits in an int.
constexpr int maxQualityKbps = 2147483;

// Every datagram is UTF-8 text recognised by its prefix; a field, where the kind has one,
// runs from the prefix to the end of the datagram.
inline constexpr char presencePrefix[] = "Kestrune-Server|";   // + host name, broadcast
inline constexpr char helloPrefix[] = "Kestrune-Hello|";       // + name, registers the sender
inline constexpr char volumePrefix[] = "Kestrune-Cmd|Volume|"; // + decimal volume, to a phone
inline constexpr char mutePrefix[] = "Kestrune-Cmd|Mute";
inline constexpr char qualityPrefix[] = "Kestrune-Cmd|Quality|"; // + decimal kbit/s
inline constexpr char disconnectPrefix[] = "Kestrune-Cmd|Disconnect";

struct Command
{
    enum class Kind
    {
        Ignored,    // unknown, malformed, a Volume echo, or our own presence or hello
        Register,   // Presence or Hello: register or refresh the sender under `name`
        Mute,       // toggle the mute of the default output device
        Quality,    // re-create the stream encoder at `bitrate`
        Disconnect, // unregister the sender
    };

    Kind kind = Kind::Ignored;
    QString name;    // Register only; may be empty, made safe to keep by PeerName
    int bitrate = 0; // Quality only, in bit/s, always 1000 or more
};

// Reads one received datagram. A Presence or Hello that carries ownName is our own
// broadcast coming back (or a device bearing our name) and is ignored.
Command parse(const QByteArray &payload, const QString &ownName);

QByteArray presence(const QString &hostName);
QByteArray hello(const QString &hostName);
QByteArray volume(int volume);
QByteArray mute();
QByteArray quality(int kbps);
QByteArray disconnect();

// What a datagram that starts with prefix carries after it; false when it does not start
// with it. For the phone's side, which reads the presence and volume datagrams.
bool field(const QByteArray &payload, const char *prefix, QString &value);

} // namespace ControlProtocol
