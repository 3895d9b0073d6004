#include "core/streamsender.h"

#include "audio/opuscodec.h"
#include "audio/wasapicapture.h"
#include "core/audiodatagram.h"
#include "core/streamformat.h"
#include "net/udpsocket.h"

#include <QDateTime>

StreamSender::StreamSender(UdpSocket &socket)
    : socket(socket), capture(std::make_unique<WasapiCapture>()),
      encoder(std::make_unique<OpusCodec>()),
      pendingSamples(std::size_t(Stream::channels) * Stream::frameSize),
      latency(Stream::sampleRate, Stream::frameSize), packet(OpusCodec::maxPacketSize)
{
    encoder->initEncoder(Stream::sampleRate, Stream::channels, Stream::bitrate);
    capture->setEventSync(true);
    capture->setContinuousCapture(true);
    datagram.reserve(AudioDatagram::headerSize + OpusCodec::maxPacketSize);
}

StreamSender::~StreamSender() = default;

bool StreamSender::start(const QString &deviceId)
{
    capture->stop();
    // The capture thread does not exist now: these are ours to reset.
    sequenceNumber = 0;
    pendingSamples.clear();
    latency.reset();
    return capture->start(
        deviceId.toStdWString(),
        [this](const float *samples, std::uint64_t frameCount, CaptureClock::time_point mixed) {
            onCapturedAudio(samples, frameCount, mixed);
        });
}

void StreamSender::stop()
{
    capture->stop();
    latency.reset();
}

void StreamSender::setBitrate(int bitsPerSecond)
{
    encoder->initEncoder(Stream::sampleRate, Stream::channels, bitsPerSecond);
}

void StreamSender::setEventSync(bool enabled)
{
    capture->setEventSync(enabled);
}

void StreamSender::setContinuousCapture(bool enabled)
{
    capture->setContinuousCapture(enabled);
}

bool StreamSender::eventSync() const
{
    return capture->eventSyncEnabled();
}

bool StreamSender::continuousCapture() const
{
    return capture->continuousCaptureEnabled();
}

// Capture thread.
void StreamSender::onCapturedAudio(const float *samples, std::uint64_t frameCount,
                                   CaptureClock::time_point mixed)
{
    latency.packetArrived(mixed, pendingSamples.pending() / Stream::channels);
    pendingSamples.push(samples, std::size_t(frameCount) * Stream::channels,
                        [this](const std::int16_t *frame) { sendFrame(frame); });
}

// Capture thread: one frame to one datagram to every phone, in buffers sized at construction.
void StreamSender::sendFrame(const std::int16_t *frame)
{
    const int length = encoder->encode(frame, Stream::frameSize, packet.data(), int(packet.size()));
    if (length > 0) {
        AudioDatagram::build(datagram, sequenceNumber++,
                             QDateTime::currentMSecsSinceEpoch() * 1000000, Stream::sampleRate,
                             QByteArrayView(packet.data(), length));
        socket.sendToTargets(datagram);
    }
    latency.frameDone(CaptureClock::now());
}
