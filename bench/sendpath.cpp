// What one 10 ms frame costs on the capture thread: building its datagram, sending it to
// every phone, and encoding it (against a bare libopus call, to price the wrapper); and from
// these, how many phones the sending path can serve within 20 % of the frame period.
// Run through bench/run-sendpath.sh or bench/run; see bench/README.md for what the figures
// mean.
//   bench_sendpath [--quick] [--json FILE]

#include "audio/opuscodec.h"
#include "core/audiodatagram.h"
#include "net/udpsocket.h"
#include "music.h"
#include "resultfile.h"
#include "support/netns.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QUdpSocket>

#include <opus.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int sampleRate = 48000;
constexpr int channels = 2;
constexpr int frameSize = 480;
constexpr int bitrate = 128000;
constexpr quint16 phonePort = 8080;
constexpr int packetSize = 160; // a 10 ms packet at 128 kbit/s
constexpr double framePeriodUs = 10000;
constexpr double sendingBudget = 0.2; // of the frame period

// Fewer repetitions for a smoke run: the figures are then rough.
int repetitionDivisor = 1;
int scaled(int repetitions)
{
    return std::max(3, repetitions / repetitionDivisor) | 1; // odd, for a true median
}

double median(std::vector<double> values)
{
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Nanoseconds per call of `calls` back-to-back calls.
double timePerCall(const std::function<void()> &call, int calls)
{
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i)
        call();
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / calls;
}

// Nanoseconds.
double benchDatagram()
{
    const QByteArray packet(packetSize, 'p');
    QByteArray datagram;
    datagram.reserve(AudioDatagram::headerSize + OpusCodec::maxPacketSize);
    std::uint32_t sequenceNumber = 0;
    std::vector<double> samples;
    for (int batch = 0; batch < scaled(201); ++batch)
        samples.push_back(timePerCall(
            [&] { AudioDatagram::build(datagram, sequenceNumber++, 0, sampleRate, packet); },
            10000));
    const double ns = median(samples);
    std::printf("build one datagram (%d-byte packet):      %8.1f ns\n", packetSize, ns);
    return ns;
}

// The phones: plain sockets on 127.0.0.2, .3, ... that the benchmark empties between
// measurements, so no receive queue fills up and starts dropping.
class Phones
{
public:
    explicit Phones(int count)
    {
        for (int i = 0; i < count; ++i) {
            auto socket = std::make_unique<QUdpSocket>();
            socket->setProxy(QNetworkProxy::NoProxy);
            const QHostAddress address(quint32(0x7F000002 + i)); // 127.0.0.2 on
            if (!socket->bind(address, phonePort))
                qFatal("cannot bind %s", qPrintable(address.toString()));
            addresses.push_back(address);
            sockets.push_back(std::move(socket));
        }
    }
    void drain()
    {
        for (const auto &socket : sockets)
            while (socket->hasPendingDatagrams())
                socket->readDatagram(nullptr, 0);
    }
    std::vector<QHostAddress> addresses;

private:
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
};

struct SendTime
{
    int targets;
    double us; // one sendToTargets
};

std::vector<SendTime> benchSend()
{
    constexpr int sendsPerBatch = 100;
    const std::vector<int> targetCounts = {1, 10, 100, 256};
    Phones phones(targetCounts.back());
    const QByteArray datagram(AudioDatagram::headerSize + packetSize, 'd');

    struct Case
    {
        int targets;
        std::unique_ptr<UdpSocket> endpoint;
        std::vector<double> ours, bare;
    };
    std::vector<Case> cases;
    for (int count : targetCounts) {
        Case c{count, std::make_unique<UdpSocket>(), {}, {}};
        for (int i = 0; i < count; ++i)
            c.endpoint->addTarget(phones.addresses[std::size_t(i)].toString(), phonePort);
        cases.push_back(std::move(c));
    }
    // The same writes with nothing around them: one QUdpSocket, a loop over the addresses.
    QUdpSocket plain;
    plain.setProxy(QNetworkProxy::NoProxy);
    plain.bind(QHostAddress::Any, 0);

    for (int round = 0; round < scaled(41); ++round) {
        for (Case &c : cases) {
            const auto measureOurs = [&] {
                c.ours.push_back(
                    timePerCall([&] { c.endpoint->sendToTargets(datagram); }, sendsPerBatch));
            };
            const auto measureBare = [&] {
                c.bare.push_back(timePerCall(
                    [&] {
                        for (int i = 0; i < c.targets; ++i)
                            plain.writeDatagram(datagram, phones.addresses[std::size_t(i)],
                                                phonePort);
                    },
                    sendsPerBatch));
            };
            // Each runs right after a drain, and first or second in turns.
            phones.drain();
            round % 2 ? measureOurs() : measureBare();
            phones.drain();
            round % 2 ? measureBare() : measureOurs();
        }
    }
    std::vector<SendTime> times;
    for (const Case &c : cases) {
        const double ours = median(c.ours), bare = median(c.bare);
        times.push_back({c.targets, ours / 1000});
        std::printf("sendToTargets, %3d target%s:              %8.2f us  (%.2f us a target; "
                    "bare writes %.2f us, ratio %.3f)\n",
                    c.targets, c.targets == 1 ? " " : "s", ours / 1000, ours / 1000 / c.targets,
                    bare / 1000, ours / bare);
    }
    return times;
}

struct EncodeTime
{
    double us;          // the streaming path's call, into the caller's buffer
    bool within = true; // the wrapper within its budget
};

EncodeTime benchEncode()
{
    const int repetitions = scaled(10000);
    const std::vector<std::int16_t> pcm = music();
    const int framesInPcm = int(pcm.size()) / (frameSize * channels);

    // Three encoders fed the same frames in the same order, so each does the same work.
    OpusCodec ours;
    OpusCodec oursIntoBuffer;
    ours.initEncoder(sampleRate, channels, bitrate);
    oursIntoBuffer.initEncoder(sampleRate, channels, bitrate);
    int error = OPUS_OK;
    OpusEncoder *bare = opus_encoder_create(sampleRate, channels, OPUS_APPLICATION_AUDIO, &error);
    if (error != OPUS_OK)
        qFatal("opus_encoder_create failed");
    opus_encoder_ctl(bare, OPUS_SET_BITRATE(bitrate));

    unsigned char packet[OpusCodec::maxPacketSize];
    std::size_t bytes = 0; // keeps the results alive
    std::vector<double> oursTimes, bufferTimes, bareTimes;
    for (int rep = 0; rep < repetitions; ++rep) {
        const std::int16_t *frame = pcm.data() + (rep % framesInPcm) * frameSize * channels;
        double oursTime = 0, bufferTime = 0, bareTime = 0;
        const auto measure = [&](int which) {
            const auto start = Clock::now();
            if (which == 0)
                bytes += ours.encode(frame, frameSize).size();
            else if (which == 1)
                bytes += std::size_t(
                    oursIntoBuffer.encode(frame, frameSize, packet, OpusCodec::maxPacketSize));
            else
                bytes += std::size_t(
                    opus_encode(bare, frame, frameSize, packet, OpusCodec::maxPacketSize));
            const double ns =
                std::chrono::duration<double, std::nano>(Clock::now() - start).count();
            (which == 0 ? oursTime : which == 1 ? bufferTime : bareTime) = ns;
        };
        // Interleaved, in an order that turns every repetition, so that neither drift nor
        // going first or last favours one of them.
        for (int k = 0; k < 3; ++k)
            measure((rep + k) % 3);
        oursTimes.push_back(oursTime);
        bufferTimes.push_back(bufferTime);
        bareTimes.push_back(bareTime);
    }
    opus_encoder_destroy(bare);

    const double oursMedian = median(oursTimes), bufferMedian = median(bufferTimes),
                 bareMedian = median(bareTimes);
    const double ratio = oursMedian / bareMedian;
    std::printf("encode one 10 ms stereo frame, %d kbit/s (%zu bytes in all):\n", bitrate / 1000,
                bytes);
    std::printf("  bare opus_encode:                        %8.2f us\n", bareMedian / 1000);
    std::printf("  OpusCodec::encode (packet vector):       %8.2f us  ratio %.4f\n",
                oursMedian / 1000, ratio);
    std::printf("  OpusCodec::encode (caller's buffer):     %8.2f us  ratio %.4f\n",
                bufferMedian / 1000, bufferMedian / bareMedian);
    const bool within = ratio <= 1.02;
    std::printf("  wrapper overhead %+.2f%%: %s the 2%% budget\n", (ratio - 1) * 100,
                within ? "within" : "OVER");
    return {bufferMedian / 1000, within};
}

// How many phones the whole sending path serves within the budget: sendToTargets costs a
// fixed part and a part per phone, fitted through the two largest counts measured, on top
// of one encode and one datagram build a frame.
double phonesWithinBudget(const std::vector<SendTime> &send, double encodeUs, double buildUs)
{
    const SendTime &low = send[send.size() - 2], &high = send.back();
    const double perPhone = (high.us - low.us) / (high.targets - low.targets);
    const double fixed = low.us - perPhone * low.targets;
    return (sendingBudget * framePeriodUs - encodeUs - buildUs - fixed) / perPhone;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString why = TestNetwork::whyNotPrivate();
    if (!why.isEmpty()) {
        std::fprintf(stderr,
                     "refusing to open sockets outside a private network namespace: %s\n"
                     "run bench/run-sendpath.sh\n",
                     qPrintable(why));
        return 2;
    }
    const QStringList arguments = app.arguments();
    if (arguments.contains("--quick"))
        repetitionDivisor = 20;
    const int jsonAt = arguments.indexOf("--json");
    const double buildUs = benchDatagram() / 1000;
    const std::vector<SendTime> send = benchSend();
    const EncodeTime encode = benchEncode();
    const double phones = phonesWithinBudget(send, encode.us, buildUs);
    std::printf("phones served within %.0f%% of the %.0f ms frame period (encode, build, send): "
                "%.0f\n",
                sendingBudget * 100, framePeriodUs / 1000, phones);

    if (jsonAt > 0 && jsonAt + 1 < arguments.size()) {
        QJsonObject perCount;
        for (const SendTime &time : send)
            perCount.insert(QString::number(time.targets), time.us);
        const QJsonObject results{{"send_us", perCount},
                                  {"encode_us", encode.us},
                                  {"build_us", buildUs},
                                  {"phones_within_20_percent", phones}};
        if (!ResultFile::write(arguments.at(jsonAt + 1), {{"fan_out", results}}))
            return 1;
    }
    return encode.within ? 0 : 1;
}
