// Runs the server side without the window, for the end-to-end tests: a streaming core with
// the system's audio platform, driven by its arguments and then by commands read line by
// line from stdin:
//   select [ID]    selectedDevice (no ID: the default output)
//   output [ID]    selectedOutputDevice
//   start | stop   startServer, stopServer
//   connect ADDR   connectToAddress
//   vmic           createVirtualMicrophone, printing "vmic ID" (no ID when it failed)
//   eventsync 0|1  eventSync
//   continuous 0|1 continuousCapture
//   state          prints the state
//   devices        prints the device lists (see below)
//   quit           exits
// Every command is answered "ok COMMAND MS" once it has returned, MS being how long the
// core took; changes of isRunning are printed as "event running=0|1 at=MS", each change
// of a device list or of the sound system's state as
// "event devices state=N audio=ID,ID,... output=ID,ID,... at=MS", changes of eventSync as
// "event eventsync=0|1 at=MS", and every latency read-out as "event latency=MS at=MS".

#include "audio/platform/audioplatform.h"
#include "core/servercore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QVariantMap>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    QTextStream(stdout) << line << Qt::endl;
}

QString ids(const QVariantList &devices)
{
    QStringList list;
    for (const QVariant &device : devices)
        list << device.toMap().value("id").toString();
    return list.join(',');
}

QString deviceLists(const ServerCore &core)
{
    return QStringLiteral("devices state=%1 audio=%2 output=%3")
        .arg(core.soundSystemState())
        .arg(ids(core.audioDevices()), ids(core.outputDevices()));
}

class Driver
{
public:
    explicit Driver(ServerCore &core) : core(core) { clock.start(); }

    void execute(const QString &line);
    qint64 now() const { return clock.elapsed(); }

private:
    ServerCore &core;
    QElapsedTimer clock;
};

void Driver::execute(const QString &line)
{
    const QString command = line.section(' ', 0, 0);
    const QString argument = line.section(' ', 1);
    QElapsedTimer took;
    took.start();
    if (command == "select") {
        core.setSelectedDevice(argument);
    } else if (command == "output") {
        core.setSelectedOutputDevice(argument);
    } else if (command == "start") {
        core.startServer();
    } else if (command == "stop") {
        core.stopServer();
    } else if (command == "connect") {
        core.connectToAddress(argument);
    } else if (command == "vmic") {
        say("vmic " + core.createVirtualMicrophone());
    } else if (command == "eventsync") {
        core.setEventSync(argument == "1");
    } else if (command == "continuous") {
        core.setContinuousCapture(argument == "1");
    } else if (command == "state") {
        say(QStringLiteral("state running=%1 mode=%2 server=%3 devices=%4 selected=%5 "
                           "outputselected=%6 latency=%7")
                .arg(core.isRunning() ? 1 : 0)
                .arg(core.playerMode())
                .arg(core.serverName())
                .arg(core.connectedDevices().size())
                .arg(core.selectedDevice(), core.selectedOutputDevice())
                .arg(core.playoutLatencyMs()));
    } else if (command == "devices") {
        say(deviceLists(core));
    } else if (command == "quit") {
        QCoreApplication::quit();
    } else if (!command.isEmpty()) {
        say(QStringLiteral("error unknown command '%1'").arg(command));
        return;
    } else {
        return;
    }
    say(QStringLiteral("ok %1 %2").arg(command).arg(took.elapsed()));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    AudioPlatform::install(createSystemAudioPlatform());

    QCommandLineParser parser;
    parser.addOptions({
        {"device", "selectedDevice", "ID"},
        {"output", "selectedOutputDevice", "ID"},
        {"start", "startServer"},
        {"connect", "connectToAddress", "ADDR"},
        {"eventsync", "eventSync (default 1)", "0|1"},
        {"continuous", "continuousCapture (default 1)", "0|1"},
        {"seconds", "exit after S seconds", "S"},
    });
    parser.process(application);

    ServerCore core;
    Driver driver(core);
    QObject::connect(&core, &ServerCore::runningChanged, &core, [&] {
        say(QStringLiteral("event running=%1 at=%2")
                .arg(core.isRunning() ? 1 : 0)
                .arg(driver.now()));
    });
    const auto reportDevices = [&] {
        say(QStringLiteral("event %1 at=%2").arg(deviceLists(core)).arg(driver.now()));
    };
    QObject::connect(&core, &ServerCore::audioDevicesChanged, &core, reportDevices);
    QObject::connect(&core, &ServerCore::outputDevicesChanged, &core, reportDevices);
    QObject::connect(&core, &ServerCore::soundSystemStateChanged, &core, reportDevices);
    QObject::connect(&core, &ServerCore::eventSyncChanged, &core, [&] {
        say(QStringLiteral("event eventsync=%1 at=%2")
                .arg(core.eventSync() ? 1 : 0)
                .arg(driver.now()));
    });
    QObject::connect(&core, &ServerCore::telemetryUpdated, &core, [&](int ms) {
        say(QStringLiteral("event latency=%1 at=%2").arg(ms).arg(driver.now()));
    });
    for (const char *option : {"eventsync", "continuous"}) {
        if (parser.isSet(option))
            driver.execute(QStringLiteral("%1 %2").arg(option, parser.value(option)));
    }
    if (parser.isSet("device"))
        driver.execute("select " + parser.value("device"));
    if (parser.isSet("output"))
        driver.execute("output " + parser.value("output"));
    if (parser.isSet("start"))
        driver.execute("start");
    if (parser.isSet("connect"))
        driver.execute("connect " + parser.value("connect"));
    if (parser.isSet("seconds"))
        QTimer::singleShot(static_cast<int>(parser.value("seconds").toDouble() * 1000),
                           Qt::PreciseTimer, &core, [] { QCoreApplication::quit(); });

    // Commands from stdin; its end (the test closed it) ends the driver.
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &core, [&] {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            if (!parser.isSet("seconds"))
                QCoreApplication::quit();
            return;
        }
        pending.append(buffer, got);
        for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
            driver.execute(QString::fromUtf8(pending.left(end)).trimmed());
    });

    say("ready");
    return QCoreApplication::exec();
}
