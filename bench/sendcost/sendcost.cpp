// The instructions of the whole sending path for one 10 ms frame, against those of a bare
// opus_encode of the same frame. Meant to run under callgrind twice (sendcost.sh): once
// collecting only inside StreamSender::onCapturedAudio, where the captured samples enter the
// path (conversion to 16 bits, framing, encoding, the header, the send to one phone), and
// once only inside bareEncode. Both halves always run, with identical encoders fed identical
// frames, so each run does the same work and only what is counted differs.
//   bench_sendcost [FRAMES]

#include "audio/platform/fake/fakeaudioplatform.h"
#include "core/servercore.h"
#include "music.h"
#include "support/netns.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QThread>
#include <QUdpSocket>
#include <cstdio>
#include <functional>
#include <opus.h>

namespace {

constexpr int sampleRate = 48000;
constexpr int frameSize = 480;
constexpr int maxPacket = 4000;

// Kept out of line: callgrind counts from its entry to its return.
__attribute__((noinline)) int bareEncode(OpusEncoder *encoder, const opus_int16 *frame,
                                         unsigned char *packet)
{
    return opus_encode(encoder, frame, frameSize, packet, maxPacket);
}

bool waitFor(const std::function<bool()> &condition)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 100;
    const QString why = TestNetwork::whyNotPrivate();
    if (!why.isEmpty()) {
        std::fprintf(stderr, "refusing to open sockets outside a private network namespace: %s\n",
                     qPrintable(why));
        return 2;
    }

    // The frames as the capture hands them over (float), and as the path turns them into
    // 16-bit samples, which is what the bare encoder gets.
    const std::vector<std::int16_t> source = music();
    std::vector<float> captured(std::size_t(frames) * frameSize * 2);
    std::vector<opus_int16> converted(captured.size());
    for (std::size_t i = 0; i < captured.size(); ++i) {
        captured[i] = float(source[i % source.size()]) / 32768.0f;
        converted[i] = opus_int16(captured[i] * 32767.0f);
    }

    FakeAudioPlatform &platform = FakeAudioPlatform::install();
    const std::shared_ptr<FakeEndpoint> speakers = platform.addEndpoint(L"speakers", L"Speakers");
    ServerCore core;
    // Only the frames fed: under callgrind the capture thread starts slowly enough for
    // continuous capture to stand silence in for the wait, and that is not what is counted.
    core.setContinuousCapture(false);

    // One phone, registered the way a phone does it.
    QUdpSocket phone;
    phone.setProxy(QNetworkProxy::NoProxy);
    if (!phone.bind(QHostAddress("127.0.0.2"), 8080, QUdpSocket::ShareAddress) ||
        phone.writeDatagram("Kestrune-Hello|bench phone", QHostAddress::LocalHost, 8081) < 0 ||
        !waitFor([&] { return core.connectedDevices().size() == 1; })) {
        std::fprintf(stderr, "the phone did not register\n");
        return 1;
    }
    core.setSelectedDevice(QStringLiteral("speakers"));
    core.startServer();
    if (!core.isRunning())
        return 1;
    const std::size_t frameSamples = std::size_t(frameSize) * 2;
    for (std::size_t frame = 0; frame < std::size_t(frames); ++frame)
        speakers->feedFloat(std::vector<float>(captured.begin() + frame * frameSamples,
                                               captured.begin() + (frame + 1) * frameSamples));
    if (!speakers->waitUntilCaptured(600000))
        return 1;
    core.stopServer();
    int sent = 0;
    while (phone.hasPendingDatagrams() && phone.readDatagram(nullptr, 0) >= 0)
        ++sent;

    int error = OPUS_OK;
    OpusEncoder *bare = opus_encoder_create(sampleRate, 2, OPUS_APPLICATION_AUDIO, &error);
    if (error != OPUS_OK)
        return 1;
    opus_encoder_ctl(bare, OPUS_SET_BITRATE(128000));
    unsigned char packet[maxPacket];
    std::size_t bytes = 0;
    for (std::size_t frame = 0; frame < std::size_t(frames); ++frame)
        bytes += std::size_t(bareEncode(bare, converted.data() + frame * frameSamples, packet));
    opus_encoder_destroy(bare);
    std::printf("%d frames through the sending path (%d datagrams received), %zu bytes encoded "
                "bare\n",
                frames, sent, bytes);
    return sent == frames ? 0 : 1;
}
