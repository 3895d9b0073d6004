#include "core/controlprotocol.h"

namespace ControlProtocol {

namespace {

const QString helloPrefix = QStringLiteral("Kestrune-Hello|");
const QString presencePrefix = QStringLiteral("Kestrune-Server|");
const QString mutePrefix = QStringLiteral("Kestrune-Cmd|Mute");
const QString qualityPrefix = QStringLiteral("Kestrune-Cmd|Quality|");
const QString disconnectPrefix = QStringLiteral("Kestrune-Cmd|Disconnect");
const QString volumePrefix = QStringLiteral("Kestrune-Cmd|Volume|");

Command registration(const QString &text, const QString &prefix, const QString &ownName)
{
    Command command;
    const QString name = text.mid(prefix.size());
    if (name == ownName)
        return command;
    command.kind = Command::Kind::Register;
    command.name = name;
    return command;
}

} // namespace

Command parse(const QByteArray &payload, const QString &ownName)
{
    // Prefix tests, in this order; the first match decides and trailing text after a
    // command without a field does not prevent the match.
    const QString text = QString::fromUtf8(payload);
    Command command;
    if (text.startsWith(helloPrefix))
        return registration(text, helloPrefix, ownName);
    if (text.startsWith(presencePrefix))
        return registration(text, presencePrefix, ownName);
    if (text.startsWith(mutePrefix)) {
        command.kind = Command::Kind::Mute;
    } else if (text.startsWith(qualityPrefix)) {
        bool ok = false;
        const int kbps = text.mid(qualityPrefix.size()).toInt(&ok, 10);
        if (ok && kbps >= 1 && kbps <= maxQualityKbps) {
            command.kind = Command::Kind::Quality;
            command.bitrate = kbps * 1000;
        }
    } else if (text.startsWith(disconnectPrefix)) {
        command.kind = Command::Kind::Disconnect;
    }
    return command;
}

QByteArray presence(const QString &hostName)
{
    return (presencePrefix + hostName).toUtf8();
}

QByteArray hello(const QString &hostName)
{
    return (helloPrefix + hostName).toUtf8();
}

QByteArray volume(int volume)
{
    return (volumePrefix + QString::number(volume, 10)).toUtf8();
}

} // namespace ControlProtocol
