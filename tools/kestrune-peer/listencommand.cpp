#include "listencommand.h"

#include "audio/opuscodec.h"
#include "audio/platform/audioplatform.h"
#include "audio/wasapiplayer.h"
#include "core/audiodatagram.h"
#include "core/controlprotocol.h"
#include "core/streamformat.h"
#include "stopsignal.h"
#include "streamstats.h"
#include "wavwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>
#include <memory>
#include <vector>

using CommandLine::exitFailure;
using CommandLine::exitUsage;

ParseResult parseListenArguments(const QStringList &arguments, ListenOptions &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Registers with a server as a phone does (a hello to its port 8081 every 2 s), "
        "receives its audio stream on port 8080, decodes it and prints statistics once a "
        "second. Stops after --seconds or on Ctrl+C, then sends a Disconnect."));
    parser.addOptions({
        {QStringLiteral("server"), QStringLiteral("Address of the server."),
         QStringLiteral("ADDR")},
        {QStringLiteral("name"), QStringLiteral("Name to register with (default kestrune-peer)."),
         QStringLiteral("N")},
        {QStringLiteral("bind"),
         QStringLiteral("Local address to send from and receive on (default: all)."),
         QStringLiteral("ADDR")},
        {QStringLiteral("wav"),
         QStringLiteral("Write the decoded audio to FILE (16-bit stereo, 48000 Hz)."),
         QStringLiteral("FILE")},
        {QStringLiteral("play"),
         QStringLiteral("Play the decoded audio on the output device SINK (an id or a name), "
                        "or on the default output.")},
        {QStringLiteral("seconds"), QStringLiteral("Stop after S seconds."), QStringLiteral("S")},
    });
    parser.addPositionalArgument(QStringLiteral("SINK"),
                                 QStringLiteral("With --play: the output device."),
                                 QStringLiteral("[SINK]"));
    const ParseResult parsed = CommandLine::parse(parser, QStringLiteral("listen"), arguments);
    if (parsed.kind != ParseResult::Kind::Run)
        return parsed;

    QString error =
        CommandLine::peerAddresses(parser, QStringLiteral("server"), options.server, options.bind);
    if (error.isEmpty())
        error = CommandLine::secondsOption(parser, options.seconds);
    if (!error.isEmpty())
        return ParseResult::error(error);

    if (parser.isSet(QStringLiteral("name")))
        options.name = parser.value(QStringLiteral("name"));
    options.play = parser.isSet(QStringLiteral("play"));
    if (parser.isSet(QStringLiteral("wav"))) {
        if (options.play)
            return ParseResult::error(QStringLiteral("--wav and --play exclude each other"));
        options.wavPath = parser.value(QStringLiteral("wav"));
        if (options.wavPath.isEmpty())
            return ParseResult::error(QStringLiteral("--wav needs a file name"));
    }
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty() && !options.play)
        return ParseResult::error(
            QStringLiteral("unexpected argument '%1'").arg(positional.first()));
    if (positional.size() > 1)
        return ParseResult::error(
            QStringLiteral("--play takes one output device, not %1").arg(positional.size()));
    if (!positional.isEmpty())
        options.sink = positional.first();
    return ParseResult::run();
}

namespace {

constexpr int helloIntervalMs = 2000;

// The output device named by id or by friendly name, or why there is none.
bool findOutputDevice(const QString &sink, std::wstring &id, QString &error)
{
    const std::vector<DeviceInfo> devices = WasapiPlayer::enumerateDevices();
    QStringList known;
    for (const DeviceInfo &device : devices) {
        const QString deviceId = QString::fromStdWString(device.id);
        const QString name = QString::fromStdWString(device.name);
        if (sink == deviceId || sink == name) {
            id = device.id;
            return true;
        }
        known << QStringLiteral("%1 (%2)").arg(deviceId, name);
    }
    error = QStringLiteral("no output device '%1'; there are: %2")
                .arg(sink, known.isEmpty() ? QStringLiteral("none") : known.join(", "));
    return false;
}

class Listener
{
public:
    explicit Listener(const ListenOptions &options) : options(options) {}

    // False with a message on the terminal when it cannot start.
    bool start(std::unique_ptr<WasapiPlayer> output);
    // Says goodbye to the server, closes the file and prints the summary; the exit code.
    int finish();

private:
    void sendHello();
    void readAudio();
    void readVolume();
    void printInterval();
    void printLine(const QString &line);

    ListenOptions options;
    QUdpSocket audioSocket;
    QUdpSocket volumeSocket;
    QTimer helloTimer;
    QTimer statsTimer;
    QElapsedTimer clock;
    double intervalStartMs = 0;
    int secondsReported = 0;

    OpusCodec decoder;
    std::vector<std::int16_t> decodeBuffer =
        std::vector<std::int16_t>(Stream::maxDecodeFrameSize * Stream::channels);
    std::unique_ptr<WavWriter> wav;
    bool wavFailed = false;
    std::unique_ptr<WasapiPlayer> player;
    StreamStats stats;
    std::int64_t undecodable = 0;
    std::uint64_t framesDecoded = 0;
};

bool Listener::start(std::unique_ptr<WasapiPlayer> output)
{
    QTextStream err(stderr);
    player = std::move(output);
    decoder.initDecoder(Stream::sampleRate, Stream::channels);
    const QHostAddress local =
        options.bind.isNull() ? CommandLine::anyAddressFor(options.server) : options.bind;
    // Address reuse lets the peer sit next to a server bound to the same ports on all
    // addresses of this machine; datagrams go to the most specific binding.
    const auto mode = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    if (!audioSocket.bind(local, ControlProtocol::audioPort, mode)) {
        err << "kestrune-peer listen: cannot receive on " << local.toString() << ':'
            << ControlProtocol::audioPort << ": " << audioSocket.errorString() << '\n';
        return false;
    }
    // The server sends its volume command to port 8082; seeing it is a bonus.
    if (volumeSocket.bind(local, ControlProtocol::discoveryPort, mode))
        QObject::connect(&volumeSocket, &QUdpSocket::readyRead, &volumeSocket,
                         [this] { readVolume(); });

    if (!options.wavPath.isEmpty()) {
        wav = std::make_unique<WavWriter>(Stream::sampleRate, Stream::channels);
        if (!wav->open(options.wavPath)) {
            err << "kestrune-peer listen: cannot write " << options.wavPath << ": "
                << wav->errorString() << '\n';
            return false;
        }
    }

    QObject::connect(&audioSocket, &QUdpSocket::readyRead, &audioSocket, [this] { readAudio(); });
    QObject::connect(&helloTimer, &QTimer::timeout, &helloTimer, [this] { sendHello(); });
    QObject::connect(&statsTimer, &QTimer::timeout, &statsTimer, [this] { printInterval(); });
    clock.start();
    statsTimer.setTimerType(Qt::PreciseTimer);
    helloTimer.start(helloIntervalMs);
    statsTimer.start(1000);
    printLine(QStringLiteral("listening on %1:%2, hello to %3:%4 as '%5'")
                  .arg(local.toString())
                  .arg(ControlProtocol::audioPort)
                  .arg(options.server.toString())
                  .arg(ControlProtocol::controlPort)
                  .arg(options.name));
    sendHello();
    return true;
}

void Listener::sendHello()
{
    audioSocket.writeDatagram(ControlProtocol::hello(options.name), options.server,
                              ControlProtocol::controlPort);
}

void Listener::readAudio()
{
    while (audioSocket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = audioSocket.receiveDatagram();
        const double arrivalMs = clock.nsecsElapsed() / 1e6;
        const QByteArray bytes = datagram.data();
        const QByteArrayView packet = AudioDatagram::payload(bytes);
        if (packet.isEmpty()) {
            stats.malformedArrived();
            continue;
        }
        const std::uint32_t sequence = AudioDatagram::sequenceNumber(bytes);
        stats.datagramArrived(
            sequence, qFromLittleEndian<qint64>(bytes.constData() + AudioDatagram::timestampOffset),
            arrivalMs, static_cast<int>(packet.size()));

        const int frames = decoder.decode(reinterpret_cast<const unsigned char *>(packet.data()),
                                          static_cast<int>(packet.size()), decodeBuffer.data(),
                                          Stream::maxDecodeFrameSize);
        if (frames < 1) {
            ++undecodable;
            continue;
        }
        framesDecoded += static_cast<std::uint64_t>(frames);
        const auto samples = static_cast<std::size_t>(frames) * Stream::channels;
        if (wav && !wavFailed && !wav->write(decodeBuffer.data(), samples)) {
            wavFailed = true;
            QTextStream(stderr) << "kestrune-peer listen: writing " << options.wavPath
                                << " failed: " << wav->errorString() << '\n';
        }
        // The output keeps its own jitter buffer and decodes in its turn.
        if (player)
            player->pushPacket(sequence, reinterpret_cast<const unsigned char *>(packet.data()),
                               std::size_t(packet.size()));
    }
}

void Listener::readVolume()
{
    while (volumeSocket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = volumeSocket.receiveDatagram();
        QString volume;
        if (ControlProtocol::field(datagram.data(), ControlProtocol::volumePrefix, volume))
            printLine(QStringLiteral("volume=%1 from=%2")
                          .arg(volume, CommandLine::addressText(datagram.senderAddress())));
    }
}

void Listener::printInterval()
{
    const double nowMs = clock.nsecsElapsed() / 1e6;
    const StreamStats::Interval interval = stats.takeInterval((nowMs - intervalStartMs) / 1000);
    intervalStartMs = nowMs;
    ++secondsReported;
    printLine(QStringLiteral("t=%1 datagrams=%2 lost=%3 kbps=%4 jitter=%5ms")
                  .arg(secondsReported)
                  .arg(interval.datagrams)
                  .arg(interval.lost)
                  .arg(interval.kbps, 0, 'f', 1)
                  .arg(interval.jitterMs, 0, 'f', 2));
}

int Listener::finish()
{
    helloTimer.stop();
    statsTimer.stop();
    audioSocket.writeDatagram(ControlProtocol::disconnect(), options.server,
                              ControlProtocol::controlPort);
    if (player)
        player->stop();
    bool ok = !wavFailed;
    if (wav && !wav->finish()) {
        QTextStream(stderr) << "kestrune-peer listen: finishing " << options.wavPath << " failed\n";
        ok = false;
    }
    const StreamStats::Totals totals = stats.totals();
    const double spanSeconds = (totals.lastArrivalMs - totals.firstArrivalMs) / 1000;
    const double kbps = spanSeconds > 0 ? totals.payloadBytes * 8 / spanSeconds / 1000 : 0.0;
    const QStringList fields{
        QStringLiteral("seconds=%1").arg(clock.elapsed() / 1000.0, 0, 'f', 2),
        QStringLiteral("datagrams=%1").arg(totals.datagrams),
        QStringLiteral("rate=%1").arg(totals.rate(), 0, 'f', 1),
        QStringLiteral("lost=%1").arg(totals.lost),
        QStringLiteral("largestgap=%1").arg(totals.largestGap),
        QStringLiteral("restarts=%1").arg(totals.restarts),
        QStringLiteral("malformed=%1").arg(totals.malformed),
        QStringLiteral("undecodable=%1").arg(undecodable),
        QStringLiteral("kbps=%1").arg(kbps, 0, 'f', 1),
        QStringLiteral("jitter=%1ms").arg(totals.jitterMs, 0, 'f', 2),
        QStringLiteral("longestpause=%1ms").arg(totals.longestPauseMs, 0, 'f', 0),
        QStringLiteral("frames=%1").arg(framesDecoded),
    };
    printLine(QStringLiteral("summary: ") + fields.join(' '));
    return ok ? 0 : exitFailure;
}

void Listener::printLine(const QString &line)
{
    QTextStream(stdout) << line << Qt::endl;
}

} // namespace

int runListen(const QStringList &arguments)
{
    ListenOptions options;
    const int parsed =
        CommandLine::report(parseListenArguments(arguments, options), QStringLiteral("listen"));
    if (parsed >= 0)
        return parsed;

    std::unique_ptr<WasapiPlayer> player;
    if (options.play) {
        AudioPlatform::install(createSystemAudioPlatform());
        std::wstring deviceId;
        QString error;
        if (!options.sink.isEmpty() && !findOutputDevice(options.sink, deviceId, error)) {
            QTextStream(stderr) << "kestrune-peer listen: " << error << '\n';
            return exitUsage;
        }
        player = std::make_unique<WasapiPlayer>();
        if (!player->start(deviceId, Stream::sampleRate, Stream::channels)) {
            QTextStream(stderr) << "kestrune-peer listen: cannot open the output device\n";
            return exitFailure;
        }
    }

    Listener listener(options);
    if (!listener.start(std::move(player)))
        return exitFailure;
    int code = 0;
    bool stopped = false;
    const auto stop = [&] {
        if (stopped)
            return;
        stopped = true;
        code = listener.finish();
        QCoreApplication::exit(code);
    };
    StopSignal stopSignal;
    QObject::connect(&stopSignal, &StopSignal::stopRequested, &stopSignal, stop);
    if (options.seconds > 0)
        QTimer::singleShot(static_cast<int>(options.seconds * 1000), Qt::PreciseTimer, &stopSignal,
                           stop);
    QCoreApplication::exec();
    return code;
}
