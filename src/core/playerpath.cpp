#include "core/playerpath.h"

#include "audio/wasapiplayer.h"
#include "core/audiodatagram.h"
#include "core/controlprotocol.h"
#include "core/hostresolver.h"
#include "core/streamformat.h"
#include "net/linksnapshot.h"
#include "net/udpsocket.h"

#include <QHostInfo>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int latencyIntervalMs = 1000;

} // namespace

PlayerPath::PlayerPath(UdpSocket &helloSocket, QObject *parent)
    : QObject(parent), helloSocket(helloSocket), player(std::make_unique<WasapiPlayer>()),
      audioInSocket(new UdpSocket(this)), serverResolver(new HostResolver(this)),
      helloResolver(new HostResolver(this)), latencyTimer(new QTimer(this))
{
    latencyTimer->setInterval(latencyIntervalMs);
    connect(latencyTimer, &QTimer::timeout, this, &PlayerPath::readPlayout);
    audioInSocket->setReceiveCallback([this](const QByteArray &payload, const QHostAddress &sender,
                                             quint16) { handleDatagram(payload, sender); });
    audioInSocket->bind(ControlProtocol::audioPort);
}

PlayerPath::~PlayerPath() = default;

bool PlayerPath::start(const QString &outputDeviceId, const QString &server)
{
    playing = true;
    acceptedSenders.clear();
    latencyTimer->start();
    if (!server.isEmpty())
        reach(server, *serverResolver, true);
    return switchOutput(outputDeviceId);
}

void PlayerPath::sayHello(const QString &server)
{
    reach(server, *helloResolver, false);
}

void PlayerPath::reach(const QString &server, HostResolver &resolver, bool play)
{
    resolver.resolve(server, [this, server, play](const QList<QHostAddress> &addresses) {
        // A name may resolve to a broadcast or multicast address: never a destination.
        const LinkSnapshot link = LinkSnapshot::ofThisComputer();
        QList<QHostAddress> hosts;
        for (const QHostAddress &address : addresses) {
            if (link.isSingleHost(address))
                hosts.append(address);
        }
        if (hosts.isEmpty()) {
            if (play)
                setResolveError(QStringLiteral("Cannot resolve %1").arg(server));
            return;
        }
        // A direct datagram: the socket's targets (for the stream socket, the phones' audio
        // ports) stay as they are.
        helloSocket.sendTo(ControlProtocol::hello(QHostInfo::localHostName()),
                           hosts.first().toString(), ControlProtocol::controlPort);
        if (play)
            acceptedSenders = hosts;
    });
}

void PlayerPath::setResolveError(const QString &text)
{
    if (text == unresolved)
        return;
    unresolved = text;
    emit resolveErrorChanged();
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

bool PlayerPath::audioPortInUse() const
{
    return audioInSocket->portInUse();
}

bool PlayerPath::isServer(const QString &address) const
{
    return isServer(QHostAddress(address));
}

bool PlayerPath::isServer(const QHostAddress &sender) const
{
    return std::any_of(acceptedSenders.cbegin(), acceptedSenders.cend(),
                       [&sender](const QHostAddress &address) {
                           return sender.isEqual(address, QHostAddress::ConvertV4MappedToIPv4);
                       });
}

void PlayerPath::stop()
{
    playing = false;
    acceptedSenders.clear();
    serverResolver->cancel();
    helloResolver->cancel();
    setResolveError(QString());
    player->stop();
    latencyTimer->stop();
    readPlayout();
}

void PlayerPath::readPlayout()
{
    const JitterBuffer::Stats stats = player->playoutStats();
    // Each start counts afresh.
    if (stats.underruns > underrunsLogged) {
        const JitterBuffer::Stats::Underrun &dry = stats.lastUnderrun;
        qInfo("Player: the output ran dry (%llu since the start): it held %.1f ms at the wake, "
              "had played %.1f ms in the %.1f ms since the wake before, and the next packet was "
              "%.1f ms past due; the target is now %.0f ms",
              static_cast<unsigned long long>(stats.underruns), dry.heldMs, dry.tookMs,
              dry.sinceWakeMs, dry.overdueMs, stats.targetMs);
    }
    underrunsLogged = stats.underruns;
    const int measured = std::max(stats.latencyMs, 0);
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
    if (!isServer(sender))
        return;
    const QByteArrayView opus = AudioDatagram::payload(payload);
    if (opus.isEmpty())
        return;
    player->pushPacket(AudioDatagram::sequenceNumber(payload),
                       reinterpret_cast<const unsigned char *>(opus.data()),
                       std::size_t(opus.size()));
}
