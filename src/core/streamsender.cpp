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
      packet(OpusCodec::maxPacketSize)
{
    encoder->initEncoder(Stream::sampleRate, Stream::channels, Stream::bitrate);
    datagram.reserve(AudioDatagram::headerSize + OpusCodec::maxPacketSize);
}

StreamSender::~StreamSender() = default;

bool StreamSender::start(const QString &deviceId)
{
    capture->stop();
    // The capture thread does not exist now: these are ours to reset.
    sequenceNumber = 0;
    pendingSamples.clear();
    return capture->start(deviceId.toStdWString(),
                          [this](const float *samples, std::uint64_t frameCount) {
                              onCapturedAudio(samples, frameCount);
                          });
}

void StreamSender::stop()
{
    capture->stop();
}

void StreamSender::setBitrate(int bitsPerSecond)
{
    encoder->initEncoder(Stream::sampleRate, Stream::channels, bitsPerSecond);
}

// Capture thread.
void StreamSender::onCapturedAudio(const float *samples, std::uint64_t frameCount)
{
    pendingSamples.push(samples, std::size_t(frameCount) * Stream::channels,
                        [this](const std::int16_t *frame) { sendFrame(frame); });
}

// Capture thread: one frame to one datagram to every phone, in buffers sized at construction.
void StreamSender::sendFrame(const std::int16_t *frame)
{
    const int length = encoder->encode(frame, Stream::frameSize, packet.data(), int(packet.size()));
    if (length <= 0)
        return;
    AudioDatagram::build(datagram, sequenceNumber++, QDateTime::currentMSecsSinceEpoch() * 1000000,
                         Stream::sampleRate, QByteArrayView(packet.data(), length));
    socket.sendToTargets(datagram);
}
