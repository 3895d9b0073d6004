#include "cmdcommand.h"

#include "core/controlprotocol.h"

#include <QTextStream>
#include <QUdpSocket>

using CommandLine::exitFailure;

namespace {

using ControlProtocol::maxQualityKbps;

// The datagram for the command words, or an error message.
QString buildMessage(const QStringList &words, QByteArray &message)
{
    if (words.isEmpty())
        return QStringLiteral("a command is required: mute, disconnect, quality KBPS or "
                              "hello NAME");
    const QString verb = words.first();
    const QStringList rest = words.mid(1);
    const auto expect = [&](int count) {
        return rest.size() == count ? QString()
                                    : QStringLiteral("%1 takes %2 argument%3, not %4")
                                          .arg(verb)
                                          .arg(count)
                                          .arg(count == 1 ? "" : "s")
                                          .arg(rest.size());
    };
    QString error;
    if (verb == QLatin1String("mute")) {
        if ((error = expect(0)).isEmpty())
            message = ControlProtocol::mute();
    } else if (verb == QLatin1String("disconnect")) {
        if ((error = expect(0)).isEmpty())
            message = ControlProtocol::disconnect();
    } else if (verb == QLatin1String("quality")) {
        if ((error = expect(1)).isEmpty()) {
            bool ok = false;
            const int kbps = rest.first().toInt(&ok);
            if (!ok || kbps < 1 || kbps > maxQualityKbps)
                return QStringLiteral("quality: '%1' is not a bitrate in kbit/s from 1 to %2")
                    .arg(rest.first())
                    .arg(maxQualityKbps);
            message = ControlProtocol::quality(kbps);
        }
    } else if (verb == QLatin1String("hello")) {
        if ((error = expect(1)).isEmpty())
            message = ControlProtocol::hello(rest.first());
    } else {
        error = QStringLiteral("unknown command '%1'; use mute, disconnect, quality or hello")
                    .arg(verb);
    }
    return error;
}

} // namespace

ParseResult parseCmdArguments(const QStringList &arguments, CmdOptions &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends one control datagram to port 8081 of a server: mute toggles the mute of its "
        "default output device, disconnect unregisters this address, quality sets the "
        "stream's bitrate in kbit/s, hello registers this address under a name."));
    parser.addOptions({
        {QStringLiteral("to"), QStringLiteral("Address of the server."), QStringLiteral("ADDR")},
        {QStringLiteral("bind"), QStringLiteral("Local address to send from."),
         QStringLiteral("ADDR")},
    });
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("mute, disconnect, quality KBPS or hello NAME."),
                                 QStringLiteral("mute|disconnect|quality KBPS|hello NAME"));
    const ParseResult parsed = CommandLine::parse(parser, QStringLiteral("cmd"), arguments);
    if (parsed.kind != ParseResult::Kind::Run)
        return parsed;

    QString error =
        CommandLine::peerAddresses(parser, QStringLiteral("to"), options.to, options.bind);
    if (error.isEmpty())
        error = buildMessage(parser.positionalArguments(), options.message);
    return error.isEmpty() ? ParseResult::run() : ParseResult::error(error);
}

int runCmd(const QStringList &arguments)
{
    CmdOptions options;
    const int parsed =
        CommandLine::report(parseCmdArguments(arguments, options), QStringLiteral("cmd"));
    if (parsed >= 0)
        return parsed;

    QTextStream err(stderr);
    QUdpSocket socket;
    if (!options.bind.isNull() && !socket.bind(options.bind, 0)) {
        err << "kestrune-peer cmd: cannot bind " << options.bind.toString() << ": "
            << socket.errorString() << '\n';
        return exitFailure;
    }
    if (socket.writeDatagram(options.message, options.to, ControlProtocol::controlPort) !=
        options.message.size()) {
        err << "kestrune-peer cmd: sending to " << options.to.toString()
            << " failed: " << socket.errorString() << '\n';
        return exitFailure;
    }
    QTextStream(stdout) << "sent '" << QString::fromUtf8(options.message) << "' to "
                        << options.to.toString() << ':' << ControlProtocol::controlPort << Qt::endl;
    return 0;
}
