#include "core/playerpath.h"

#include "audio/opuscodec.h"
#include "audio/wasapiplayer.h"
#include "core/audiodatagram.h"
#include "core/controlprotocol.h"
#include "core/streamformat.h"
#include "net/udpsocket.h"

#include <QHostInfo>

PlayerPath::PlayerPath(QObject *parent)
    : QObject(parent), player(std::make_unique<WasapiPlayer>()),
      decoder(std::make_unique<OpusCodec>()), audioInSocket(new UdpSocket(this)),
      decodeBuffer(std::size_t(Stream::maxDecodeFrameSize) * Stream::channels, 0)
{
    decoder->initDecoder(Stream::sampleRate, Stream::channels);
    audioInSocket->setReceiveCallback([this](const QByteArray &payload, const QHostAddress &sender,
                                             quint16) { handleDatagram(payload, sender); });
    audioInSocket->bind(ControlProtocol::audioPort);
}

PlayerPath::~PlayerPath() = default;

void PlayerPath::sendHello(const QString &address, UdpSocket &socket)
{
    // A direct datagram: the socket's targets (for the stream socket, the phones' audio
    // ports) stay as they are.
    socket.sendTo(ControlProtocol::hello(QHostInfo::localHostName()), address,
                  ControlProtocol::controlPort);
}

bool PlayerPath::start(const QString &outputDeviceId, const QString &sender)
{
    acceptedSender = QHostAddress(sender);
    playing = true;
    return switchOutput(outputDeviceId);
}

bool PlayerPath::switchOutput(const QString &outputDeviceId)
{
    player->stop();
    return player->start(outputDeviceId.toStdWString(), Stream::sampleRate, Stream::channels);
}

void PlayerPath::rebindAudioPort()
{
    audioInSocket->bind(ControlProtocol::audioPort);
}

void PlayerPath::stop()
{
    playing = false;
    acceptedSender.clear();
    player->stop();
}

void PlayerPath::handleDatagram(const QByteArray &payload, const QHostAddress &sender)
{
    if (!playing)
        return;
    // Only the device connected to may speak into the output.
    if (!acceptedSender.isNull() &&
        !sender.isEqual(acceptedSender, QHostAddress::ConvertV4MappedToIPv4))
        return;
    const QByteArrayView opus = AudioDatagram::payload(payload);
    if (opus.isEmpty())
        return;
    const int decoded =
        decoder->decode(reinterpret_cast<const unsigned char *>(opus.data()), int(opus.size()),
                        decodeBuffer.data(), Stream::maxDecodeFrameSize);
    if (decoded < 1)
        return;
    player->pushSamples(decodeBuffer.data(), std::size_t(decoded) * Stream::channels);
}
