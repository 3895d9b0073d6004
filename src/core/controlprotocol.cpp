#include "core/controlprotocol.h"

#include "core/peername.h"

#include <string>

namespace ControlProtocol {

namespace {

// Prefixes are ASCII, so their length in bytes is their length in characters.
constexpr int length(const char *prefix)
{
    return int(std::char_traits<char>::length(prefix));
}

bool startsWith(const QString &text, const char *prefix)
{
    return text.startsWith(QLatin1String(prefix));
}

Command registration(const QString &text, const char *prefix, const QString &ownName)
{
    Command command;
    const QString name = text.mid(length(prefix));
    if (name == ownName)
        return command;
    command.kind = Command::Kind::Register;
    command.name = PeerName::sanitized(name);
    return command;
}

} // namespace

Command parse(const QByteArray &payload, const QString &ownName)
{
    // Prefix tests, in this order; the first match decides and trailing text after a
    // command without a field does not prevent the match.
    const QString text = QString::fromUtf8(payload);
    Command command;
    if (startsWith(text, helloPrefix))
        return registration(text, helloPrefix, ownName);
    if (startsWith(text, presencePrefix))
        return registration(text, presencePrefix, ownName);
    if (startsWith(text, mutePrefix)) {
        command.kind = Command::Kind::Mute;
    } else if (startsWith(text, qualityPrefix)) {
        bool ok = false;
        const int kbps = text.mid(length(qualityPrefix)).toInt(&ok, 10);
        if (ok && kbps >= 1 && kbps <= maxQualityKbps) {
            command.kind = Command::Kind::Quality;
            command.bitrate = kbps * 1000;
        }
    } else if (startsWith(text, disconnectPrefix)) {
        command.kind = Command::Kind::Disconnect;
    }
    return command;
}

QByteArray presence(const QString &hostName)
{
    return presencePrefix + hostName.toUtf8();
}

QByteArray hello(const QString &hostName)
{
    return helloPrefix + hostName.toUtf8();
}

QByteArray volume(int volume)
{
    return volumePrefix + QByteArray::number(volume, 10);
}

QByteArray mute()
{
    return QByteArray(mutePrefix);
}

QByteArray quality(int kbps)
{
    return qualityPrefix + QByteArray::number(kbps, 10);
}

QByteArray disconnect()
{
    return QByteArray(disconnectPrefix);
}

bool field(const QByteArray &payload, const char *prefix, QString &value)
{
    const QString text = QString::fromUtf8(payload);
    if (!startsWith(text, prefix))
        return false;
    value = text.mid(length(prefix));
    return true;
}

} // namespace ControlProtocol
