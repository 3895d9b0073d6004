#include "discovercommand.h"

#include "core/controlprotocol.h"
#include "stopsignal.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

using CommandLine::exitFailure;

ParseResult parseDiscoverArguments(const QStringList &arguments, DiscoverOptions &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints every presence broadcast heard on port 8082 (servers announce themselves "
        "every 2 s): the sender's address and name, one line each."));
    parser.addOptions({
        {QStringLiteral("bind"), QStringLiteral("Local address to listen on (default: all)."),
         QStringLiteral("ADDR")},
        {QStringLiteral("seconds"), QStringLiteral("Stop after S seconds."), QStringLiteral("S")},
    });
    const ParseResult parsed = CommandLine::parse(parser, QStringLiteral("discover"), arguments);
    if (parsed.kind != ParseResult::Kind::Run)
        return parsed;
    QString error = CommandLine::addressOption(parser, QStringLiteral("bind"), false, options.bind);
    if (error.isEmpty())
        error = CommandLine::secondsOption(parser, options.seconds);
    if (error.isEmpty() && !parser.positionalArguments().isEmpty())
        error =
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    return error.isEmpty() ? ParseResult::run() : ParseResult::error(error);
}

int runDiscover(const QStringList &arguments)
{
    DiscoverOptions options;
    const int parsed =
        CommandLine::report(parseDiscoverArguments(arguments, options), QStringLiteral("discover"));
    if (parsed >= 0)
        return parsed;

    QUdpSocket socket;
    const QHostAddress local =
        options.bind.isNull() ? QHostAddress(QHostAddress::Any) : options.bind;
    // Shared, so that it can run on the same machine as a server bound to the port.
    if (!socket.bind(local, ControlProtocol::discoveryPort,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        QTextStream(stderr) << "kestrune-peer discover: cannot listen on " << local.toString()
                            << ':' << ControlProtocol::discoveryPort << ": " << socket.errorString()
                            << '\n';
        return exitFailure;
    }
    QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [&socket] {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            QString name;
            if (ControlProtocol::field(datagram.data(), ControlProtocol::presencePrefix, name))
                QTextStream(stdout)
                    << "presence from=" << CommandLine::addressText(datagram.senderAddress())
                    << " name=" << name << Qt::endl;
        }
    });
    StopSignal stopSignal;
    QObject::connect(&stopSignal, &StopSignal::stopRequested, &stopSignal,
                     [] { QCoreApplication::quit(); });
    if (options.seconds > 0)
        QTimer::singleShot(static_cast<int>(options.seconds * 1000), Qt::PreciseTimer, &stopSignal,
                           [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    return 0;
}
