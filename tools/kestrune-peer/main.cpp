#include "cmdcommand.h"
#include "discovercommand.h"
#include "listencommand.h"
#include "sendcommand.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

const char usage[] =
    "Usage: kestrune-peer COMMAND [options]\n"
    "The other side of a KestruneServer, for a second computer or for tests.\n"
    "\n"
    "Commands:\n"
    "  listen    register with a server and receive, decode, record or play its stream\n"
    "  send      stream a tone or a WAV file to a server in player mode\n"
    "  cmd       send one control command (mute, disconnect, quality, hello)\n"
    "  discover  print the presence broadcasts of servers\n"
    "\n"
    "Ports: 8080 audio, 8081 hellos and commands, 8082 presence and volume.\n"
    "'kestrune-peer COMMAND --help' describes a command's options.\n";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(2);

    if (command == QLatin1String("listen"))
        return runListen(rest);
    if (command == QLatin1String("send"))
        return runSend(rest);
    if (command == QLatin1String("cmd"))
        return runCmd(rest);
    if (command == QLatin1String("discover"))
        return runDiscover(rest);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        QTextStream(stdout) << usage;
        return 0;
    }
    QTextStream(stderr) << "kestrune-peer: "
                        << (command.isEmpty() ? QStringLiteral("a command is required")
                                              : QStringLiteral("unknown command '%1'").arg(command))
                        << " (see kestrune-peer --help)\n";
    return CommandLine::exitUsage;
}
