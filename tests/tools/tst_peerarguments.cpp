#include "cmdcommand.h"
#include "discovercommand.h"
#include "listencommand.h"
#include "sendcommand.h"

#include <QTest>

// Every way a command line can be wrong ends in one error line before anything is opened.
class TestPeerArguments : public QObject
{
    Q_OBJECT

private slots:
    void badArgumentsAreRefused_data();
    void badArgumentsAreRefused();
    void helpIsOfferedByEveryCommand_data();
    void helpIsOfferedByEveryCommand();
    void listenTakesItsOptions();
    void sendDefaultsToATone();
    void commandsBecomeTheirDatagrams_data();
    void commandsBecomeTheirDatagrams();
    void discoverNeedsNothing();
};

namespace {

ParseResult parseAny(const QString &command, const QStringList &arguments)
{
    if (command == "listen") {
        ListenOptions options;
        return parseListenArguments(arguments, options);
    }
    if (command == "send") {
        SendOptions options;
        return parseSendArguments(arguments, options);
    }
    if (command == "cmd") {
        CmdOptions options;
        return parseCmdArguments(arguments, options);
    }
    DiscoverOptions options;
    return parseDiscoverArguments(arguments, options);
}

} // namespace

void TestPeerArguments::badArgumentsAreRefused_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message"); // a part of the expected message

    const QString srv = "--server=127.0.0.1";
    QTest::newRow("listen without server")
        << "listen" << QStringList{} << "--server ADDR is required";
    QTest::newRow("listen host name")
        << "listen" << QStringList{"--server", "example.org"} << "not an IP address";
    QTest::newRow("listen bad bind")
        << "listen" << QStringList{srv, "--bind", "127.0.0.300"} << "--bind: '127.0.0.300'";
    QTest::newRow("listen mixed families")
        << "listen" << QStringList{srv, "--bind", "::1"} << "address families differ";
    QTest::newRow("listen wav and play")
        << "listen" << QStringList{srv, "--wav", "a.wav", "--play"} << "exclude each other";
    QTest::newRow("listen empty wav") << "listen" << QStringList{srv, "--wav="} << "needs a file";
    QTest::newRow("listen sink without play")
        << "listen" << QStringList{srv, "speakers"} << "unexpected argument 'speakers'";
    QTest::newRow("listen two sinks")
        << "listen" << QStringList{srv, "--play", "a", "b"} << "one output device";
    QTest::newRow("listen zero seconds")
        << "listen" << QStringList{srv, "--seconds", "0"} << "not a positive number";
    QTest::newRow("listen nan seconds")
        << "listen" << QStringList{srv, "--seconds", "nan"} << "not a positive number";
    QTest::newRow("listen unknown option") << "listen" << QStringList{srv, "--loud"} << "loud";
    QTest::newRow("listen value missing") << "listen" << QStringList{"--server"} << "server";

    QTest::newRow("send without to") << "send" << QStringList{"--tone", "440"} << "--to ADDR";
    QTest::newRow("send tone too high")
        << "send" << QStringList{"--to", "::1", "--tone", "24000"} << "not a frequency";
    QTest::newRow("send tone not a number")
        << "send" << QStringList{"--to", "::1", "--tone", "la"} << "not a frequency";
    QTest::newRow("send wav and tone")
        << "send" << QStringList{"--to", "::1", "--tone", "440", "--wav", "a.wav"}
        << "exclude each other";
    QTest::newRow("send late and burst")
        << "send" << QStringList{"--to", "::1", "--late", "5", "--burst", "30"}
        << "--late and --burst exclude each other";
    QTest::newRow("send no lateness")
        << "send" << QStringList{"--to", "::1", "--late", "0"} << "--late: '0' is not a number";
    QTest::newRow("send drift too far")
        << "send" << QStringList{"--to", "::1", "--drift", "-6"} << "--drift: '-6' is not";
    QTest::newRow("send stray argument")
        << "send" << QStringList{"--to", "::1", "x"} << "unexpected argument 'x'";

    const QString to = "--to=127.0.0.1";
    QTest::newRow("cmd nothing") << "cmd" << QStringList{to} << "a command is required";
    QTest::newRow("cmd unknown") << "cmd" << QStringList{to, "volume", "5"}
                                 << "unknown command 'volume'";
    QTest::newRow("cmd mute with argument")
        << "cmd" << QStringList{to, "mute", "now"} << "mute takes 0 arguments, not 1";
    QTest::newRow("cmd quality missing")
        << "cmd" << QStringList{to, "quality"} << "quality takes 1 argument, not 0";
    QTest::newRow("cmd quality zero")
        << "cmd" << QStringList{to, "quality", "0"} << "from 1 to 2147483";
    QTest::newRow("cmd quality too big")
        << "cmd" << QStringList{to, "quality", "2147484"} << "from 1 to 2147483";
    QTest::newRow("cmd quality words") << "cmd" << QStringList{to, "quality", "high"} << "'high'";
    QTest::newRow("cmd hello two names")
        << "cmd" << QStringList{to, "hello", "a", "b"} << "hello takes 1 argument, not 2";
    QTest::newRow("cmd without to") << "cmd" << QStringList{"mute"} << "--to ADDR is required";

    QTest::newRow("discover stray") << "discover" << QStringList{"now"} << "unexpected argument";
    QTest::newRow("discover seconds")
        << "discover" << QStringList{"--seconds", "-1"} << "not a positive number";
}

void TestPeerArguments::badArgumentsAreRefused()
{
    QFETCH(QString, command);
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const ParseResult result = parseAny(command, arguments);
    QCOMPARE(result.kind, ParseResult::Kind::Error);
    QVERIFY2(result.text.contains(message), qPrintable(result.text));
    QVERIFY(!result.text.contains('\n'));
    QCOMPARE(CommandLine::report(result, command), CommandLine::exitUsage);
}

void TestPeerArguments::helpIsOfferedByEveryCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("listen") << "listen" << QStringList{"--help"};
    QTest::newRow("send, with others") << "send" << QStringList{"--to", "bad", "--help"};
    QTest::newRow("cmd") << "cmd" << QStringList{"-h"};
    QTest::newRow("discover") << "discover" << QStringList{"--help-all"};
}

void TestPeerArguments::helpIsOfferedByEveryCommand()
{
    QFETCH(QString, command);
    QFETCH(QStringList, arguments);
    const ParseResult result = parseAny(command, arguments);
    QCOMPARE(result.kind, ParseResult::Kind::Help);
    QVERIFY2(result.text.startsWith("Usage: kestrune-peer " + command + " [options]"),
             qPrintable(result.text));
}

void TestPeerArguments::listenTakesItsOptions()
{
    ListenOptions options;
    QCOMPARE(parseListenArguments({"--server", "127.0.0.1", "--bind", "127.0.0.2", "--name",
                                   "Pixel 7|work", "--play", "CABLE Input", "--seconds", "2.5"},
                                  options)
                 .kind,
             ParseResult::Kind::Run);
    QCOMPARE(options.server, QHostAddress("127.0.0.1"));
    QCOMPARE(options.bind, QHostAddress("127.0.0.2"));
    QCOMPARE(options.name, QString("Pixel 7|work"));
    QVERIFY(options.play);
    QCOMPARE(options.sink, QString("CABLE Input"));
    QCOMPARE(options.seconds, 2.5);

    ListenOptions defaults;
    QCOMPARE(parseListenArguments({"--server", "fe80::1"}, defaults).kind, ParseResult::Kind::Run);
    QVERIFY(defaults.bind.isNull());
    QVERIFY(!defaults.play);
    QVERIFY(defaults.wavPath.isEmpty());
    QCOMPARE(defaults.seconds, 0.0);
    // Never the host name: a server drops hellos that carry its own name.
    QCOMPARE(defaults.name, QString("kestrune-peer"));
}

void TestPeerArguments::sendDefaultsToATone()
{
    SendOptions options;
    QCOMPARE(parseSendArguments({"--to", "127.0.0.1"}, options).kind, ParseResult::Kind::Run);
    QCOMPARE(options.toneHz, 440.0);
    QVERIFY(options.wavPath.isEmpty());

    QCOMPARE(parseSendArguments({"--to", "127.0.0.1", "--tone", "1000.5"}, options).kind,
             ParseResult::Kind::Run);
    QCOMPARE(options.toneHz, 1000.5);
    QCOMPARE(options.pattern.clockRate, 1.0);
    QCOMPARE(options.pattern.maxLatenessMs, 0.0);

    // The network and the phone's clock as the options make them.
    QCOMPARE(
        parseSendArguments({"--to", "127.0.0.1", "--late", "20", "--drift", "-0.1"}, options).kind,
        ParseResult::Kind::Run);
    QCOMPARE(options.pattern.maxLatenessMs, 20.0);
    QCOMPARE(options.pattern.clockRate, 0.999);
    QCOMPARE(parseSendArguments({"--to", "127.0.0.1", "--burst", "30"}, options).kind,
             ParseResult::Kind::Run);
    QCOMPARE(options.pattern.burstMs, 30.0);
}

void TestPeerArguments::commandsBecomeTheirDatagrams_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("mute") << QStringList{"mute"} << QByteArray("Kestrune-Cmd|Mute");
    QTest::newRow("disconnect") << QStringList{"disconnect"}
                                << QByteArray("Kestrune-Cmd|Disconnect");
    QTest::newRow("quality") << QStringList{"quality", "64"}
                             << QByteArray("Kestrune-Cmd|Quality|64");
    QTest::newRow("quality largest")
        << QStringList{"quality", "2147483"} << QByteArray("Kestrune-Cmd|Quality|2147483");
    QTest::newRow("hello UTF-8") << QStringList{"hello", "Téléphone|2"}
                                 << QByteArray("Kestrune-Hello|T\xc3\xa9l\xc3\xa9phone|2");
    QTest::newRow("hello empty") << QStringList{"hello", ""} << QByteArray("Kestrune-Hello|");
}

void TestPeerArguments::commandsBecomeTheirDatagrams()
{
    QFETCH(QStringList, words);
    QFETCH(QByteArray, datagram);
    CmdOptions options;
    const ParseResult result =
        parseCmdArguments(QStringList{"--to", "127.0.0.1", "--bind", "127.0.0.3"} + words, options);
    QCOMPARE(result.kind, ParseResult::Kind::Run);
    QCOMPARE(options.message, datagram);
    QCOMPARE(options.to, QHostAddress("127.0.0.1"));
    QCOMPARE(options.bind, QHostAddress("127.0.0.3"));
}

void TestPeerArguments::discoverNeedsNothing()
{
    DiscoverOptions options;
    QCOMPARE(parseDiscoverArguments({}, options).kind, ParseResult::Kind::Run);
    QVERIFY(options.bind.isNull());
    QCOMPARE(options.seconds, 0.0);
}

QTEST_GUILESS_MAIN(TestPeerArguments)
#include "tst_peerarguments.moc"
