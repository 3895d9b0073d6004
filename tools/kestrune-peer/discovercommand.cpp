#include "discovercommand.h"

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
    if (!socket.bind(local, CommandLine::discoveryPort,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        QTextStream(stderr) << "kestrune-peer discover: cannot listen on " << local.toString()
                            << ':' << CommandLine::discoveryPort << ": " << socket.errorString()
                            << '\n';
        return exitFailure;
    }
    static const QString prefix = QStringLiteral("Kestrune-Server|");
    QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [&socket] {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            const QString text = QString::fromUtf8(datagram.data());
            if (text.startsWith(prefix))
                QTextStream(stdout)
                    << "presence from=" << CommandLine::addressText(datagram.senderAddress())
                    << " name=" << text.mid(prefix.size()) << Qt::endl;
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
