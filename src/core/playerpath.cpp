#include "core/playerpath.h"

#include "audio/wasapiplayer.h"
#include "core/audiodatagram.h"
#include "core/controlprotocol.h"
#include "core/streamformat.h"
#include "net/udpsocket.h"

#include <QHostInfo>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int latencyIntervalMs = 1000;

} // namespace

PlayerPath::PlayerPath(QObject *parent)
    : QObject(parent), player(std::make_unique<WasapiPlayer>()), audioInSocket(new UdpSocket(this)),
      latencyTimer(new QTimer(this))
{
    latencyTimer->setInterval(latencyIntervalMs);
    connect(latencyTimer, &QTimer::timeout, this, &PlayerPath::updateLatency);
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
    latencyTimer->start();
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
    latencyTimer->stop();
    updateLatency();
}

void PlayerPath::updateLatency()
{
    const int measured = std::max(player->playoutStats().latencyMs, 0);
    if (measured == latencyMs)
        return;
    latencyMs = measured;
    emit playoutLatencyChanged();
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
    player->pushPacket(AudioDatagram::sequenceNumber(payload),
                       reinterpret_cast<const unsigned char *>(opus.data()),
                       std::size_t(opus.size()));
}
