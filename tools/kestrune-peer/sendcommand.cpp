#include "sendcommand.h"

#include "audio/opuscodec.h"
#include "core/audiodatagram.h"
#include "core/controlprotocol.h"
#include "core/streamformat.h"
#include "stopsignal.h"
#include "tonegenerator.h"
#include "wavreader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <vector>

using CommandLine::exitFailure;

namespace {

constexpr double toneAmplitude = 0.5; // -6 dBFS peak
constexpr double frameMs = 1000.0 * Stream::frameSize / Stream::sampleRate;
static_assert(frameMs == SendSchedule::frameMs);

// Reads the number option name into value, which must lie within [min, max] (and above min
// when min is excluded); an error message or empty.
QString numberOption(const QCommandLineParser &parser, const QString &name, double min,
                     bool minExcluded, double max, double &value)
{
    if (!parser.isSet(name))
        return {};
    const QString text = parser.value(name);
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < min || (minExcluded && number == min) ||
        number > max)
        return QStringLiteral("--%1: '%2' is not a number %3 %4 to %5")
            .arg(name, text, minExcluded ? QStringLiteral("above") : QStringLiteral("from"))
            .arg(min)
            .arg(max);
    value = number;
    return {};
}

} // namespace

ParseResult parseSendArguments(const QStringList &arguments, SendOptions &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Streams audio as 10 ms Opus frames in audio datagrams to port 8080 of a player, at "
        "real-time pace: a tone (440 Hz unless --tone says otherwise) or a WAV file (16-bit, "
        "48000 Hz, mono or stereo)."));
    parser.addOptions({
        {QStringLiteral("to"), QStringLiteral("Address of the player."), QStringLiteral("ADDR")},
        {QStringLiteral("bind"), QStringLiteral("Local address to send from."),
         QStringLiteral("ADDR")},
        {QStringLiteral("wav"), QStringLiteral("Send the audio of FILE."), QStringLiteral("FILE")},
        {QStringLiteral("tone"), QStringLiteral("Send a sine tone of HZ hertz at -6 dBFS."),
         QStringLiteral("HZ")},
        {QStringLiteral("seconds"), QStringLiteral("Stop after S seconds."), QStringLiteral("S")},
        {QStringLiteral("late"),
         QStringLiteral("Hold each datagram back by a random 0 to MS ms, keeping their order, "
                        "as a busy Wi-Fi link does."),
         QStringLiteral("MS")},
        {QStringLiteral("burst"),
         QStringLiteral("Release the datagrams together every MS ms, as Wi-Fi aggregation "
                        "does."),
         QStringLiteral("MS")},
        {QStringLiteral("drift"),
         QStringLiteral("Run the phone's clock PERCENT fast (negative: slow)."),
         QStringLiteral("PERCENT")},
    });
    const ParseResult parsed = CommandLine::parse(parser, QStringLiteral("send"), arguments);
    if (parsed.kind != ParseResult::Kind::Run)
        return parsed;

    QString error =
        CommandLine::peerAddresses(parser, QStringLiteral("to"), options.to, options.bind);
    if (error.isEmpty())
        error = CommandLine::secondsOption(parser, options.seconds);
    if (parser.isSet(QStringLiteral("late")) && parser.isSet(QStringLiteral("burst")))
        error = QStringLiteral("--late and --burst exclude each other");
    SendPattern &pattern = options.pattern;
    if (error.isEmpty())
        error = numberOption(parser, QStringLiteral("late"), 0, true, 1000, pattern.maxLatenessMs);
    if (error.isEmpty())
        error = numberOption(parser, QStringLiteral("burst"), 0, true, 1000, pattern.burstMs);
    double driftPercent = 0;
    if (error.isEmpty())
        error = numberOption(parser, QStringLiteral("drift"), -5, false, 5, driftPercent);
    pattern.clockRate = 1 + driftPercent / 100;
    if (!error.isEmpty())
        return ParseResult::error(error);
    if (!parser.positionalArguments().isEmpty())
        return ParseResult::error(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    if (parser.isSet(QStringLiteral("wav")) && parser.isSet(QStringLiteral("tone")))
        return ParseResult::error(QStringLiteral("--wav and --tone exclude each other"));
    if (parser.isSet(QStringLiteral("wav"))) {
        options.wavPath = parser.value(QStringLiteral("wav"));
        if (options.wavPath.isEmpty())
            return ParseResult::error(QStringLiteral("--wav needs a file name"));
    }
    if (parser.isSet(QStringLiteral("tone"))) {
        const QString text = parser.value(QStringLiteral("tone"));
        bool ok = false;
        const double hz = text.toDouble(&ok);
        // Up to the highest frequency the stream can carry.
        if (!ok || !std::isfinite(hz) || hz <= 0 || hz >= Stream::sampleRate / 2)
            return ParseResult::error(
                QStringLiteral("--tone: '%1' is not a frequency between 0 and %2 Hz")
                    .arg(text)
                    .arg(Stream::sampleRate / 2));
        options.toneHz = hz;
    }
    return ParseResult::run();
}

namespace {

class Sender
{
public:
    explicit Sender(const SendOptions &options) : options(options), schedule(options.pattern) {}

    bool start();
    // Makes every frame that is due by now and sends every datagram whose release has come;
    // false once the audio or the time has run out and everything made has been sent.
    bool sendDue();
    void printSummary() const;

private:
    bool nextFrame();
    bool makeFrame(double releaseMs);

    struct Held
    {
        double releaseMs;
        QByteArray datagram;
    };

    SendOptions options;
    SendSchedule schedule;
    std::deque<Held> held; // made, waiting for their release
    bool exhausted = false;
    QUdpSocket socket;
    OpusCodec encoder;
    std::unique_ptr<ToneGenerator> tone;
    WavReader wav;
    std::vector<std::int16_t> frame =
        std::vector<std::int16_t>(Stream::frameSize * Stream::channels);
    std::vector<unsigned char> packet = std::vector<unsigned char>(OpusCodec::maxPacketSize);
    QByteArray datagram;
    std::uint32_t sequenceNumber = 0;
    std::int64_t framesSent = 0;
    std::int64_t frameLimit = 0; // 0: none
    std::int64_t failedWrites = 0;
    QElapsedTimer clock;
};

bool Sender::start()
{
    QTextStream err(stderr);
    if (!options.wavPath.isEmpty()) {
        if (!wav.open(options.wavPath)) {
            err << "kestrune-peer send: " << wav.errorString() << '\n';
            return false;
        }
        if (wav.sampleRate() != Stream::sampleRate) {
            err << "kestrune-peer send: " << options.wavPath << ": " << wav.sampleRate()
                << " Hz; the stream runs at " << Stream::sampleRate << " Hz\n";
            return false;
        }
    } else {
        tone = std::make_unique<ToneGenerator>(options.toneHz, toneAmplitude, Stream::sampleRate);
    }
    if (!options.bind.isNull() && !socket.bind(options.bind, 0)) {
        err << "kestrune-peer send: cannot bind " << options.bind.toString() << ": "
            << socket.errorString() << '\n';
        return false;
    }
    if (!encoder.initEncoder(Stream::sampleRate, Stream::channels, Stream::bitrate)) {
        err << "kestrune-peer send: the Opus encoder cannot be created\n";
        return false;
    }
    datagram.reserve(AudioDatagram::headerSize + OpusCodec::maxPacketSize);
    frameLimit = std::llround(options.seconds * 1000 / frameMs);
    QTextStream(stdout) << "sending "
                        << (tone ? QStringLiteral("a %1 Hz tone").arg(options.toneHz)
                                 : options.wavPath)
                        << " to " << options.to.toString() << ':' << ControlProtocol::audioPort
                        << Qt::endl;
    clock.start();
    return true;
}

bool Sender::nextFrame()
{
    if (tone) {
        tone->fillStereo(frame.data(), Stream::frameSize);
        return true;
    }
    const int read = wav.readStereo(frame.data(), Stream::frameSize);
    if (read == 0)
        return false;
    // The last frame of a file is padded with silence: a frame is always 10 ms.
    std::fill(frame.begin() + read * Stream::channels, frame.end(), 0);
    return true;
}

bool Sender::sendDue()
{
    // Frames are due on a fixed grid of the phone's clock from the start, so late timer
    // ticks are made up for and the average pace stays exact.
    const double nowMs = double(clock.nsecsElapsed()) / 1e6;
    while (!exhausted && schedule.dueMs(framesSent) <= nowMs)
        exhausted = !makeFrame(schedule.releaseMs(framesSent));
    while (!held.empty() && held.front().releaseMs <= nowMs) {
        if (socket.writeDatagram(held.front().datagram, options.to, ControlProtocol::audioPort) < 0)
            ++failedWrites;
        held.pop_front();
    }
    return !exhausted || !held.empty();
}

// Encodes the next frame into a datagram that leaves at releaseMs; false when there is no
// next frame.
bool Sender::makeFrame(double releaseMs)
{
    if ((frameLimit > 0 && framesSent >= frameLimit) || !nextFrame())
        return false;
    const int length = encoder.encode(frame.data(), Stream::frameSize, packet.data(),
                                      static_cast<int>(packet.size()));
    ++framesSent;
    const QByteArrayView bytes(reinterpret_cast<const char *>(packet.data()), length);
    if (AudioDatagram::build(datagram, sequenceNumber,
                             QDateTime::currentMSecsSinceEpoch() * 1000000, Stream::sampleRate,
                             bytes)) {
        ++sequenceNumber;
        held.push_back({releaseMs, datagram});
    }
    return true;
}

void Sender::printSummary() const
{
    QTextStream(stdout) << "summary: seconds=" << QString::number(clock.elapsed() / 1000.0, 'f', 2)
                        << " datagrams=" << sequenceNumber << " failedwrites=" << failedWrites
                        << Qt::endl;
}

} // namespace

int runSend(const QStringList &arguments)
{
    SendOptions options;
    const int parsed =
        CommandLine::report(parseSendArguments(arguments, options), QStringLiteral("send"));
    if (parsed >= 0)
        return parsed;

    Sender sender(options);
    if (!sender.start())
        return exitFailure;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    bool stopped = false;
    const auto stop = [&] {
        if (stopped)
            return;
        stopped = true;
        pace.stop();
        sender.printSummary();
        QCoreApplication::quit();
    };
    QObject::connect(&pace, &QTimer::timeout, &pace, [&] {
        if (!sender.sendDue())
            stop();
    });
    StopSignal stopSignal;
    QObject::connect(&stopSignal, &StopSignal::stopRequested, &stopSignal, stop);
    if (!sender.sendDue()) {
        sender.printSummary();
        return 0;
    }
    pace.start(1);
    QCoreApplication::exec();
    return 0;
}
