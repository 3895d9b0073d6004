#include "core/servercore.h"

#include "audio/opuscodec.h"
#include "audio/platform/audioplatform.h"
#include "audio/wasapicapture.h"
#include "audio/wasapiplayer.h"
#include "core/addressform.h"
#include "core/audiodatagram.h"
#include "core/controlprotocol.h"
#include "net/udpsocket.h"

#include <QDateTime>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>
#include <QVariantMap>

using namespace ControlProtocol;

namespace {

QVariantList deviceRecords(const std::vector<DeviceInfo> &endpoints)
{
    QVariantList records;
    for (const DeviceInfo &endpoint : endpoints) {
        records.append(QVariantMap{{QStringLiteral("id"), QString::fromStdWString(endpoint.id)},
                                   {QStringLiteral("name"),
                                    QString::fromStdWString(endpoint.name)}});
    }
    return records;
}

} // namespace

ServerCore::ServerCore(QObject *parent) : ServerCore(ServerCoreTiming(), parent) {}

ServerCore::ServerCore(const ServerCoreTiming &timing, QObject *parent)
    : QObject(parent), capture(std::make_unique<WasapiCapture>()),
      player(std::make_unique<WasapiPlayer>()), encoder(std::make_unique<OpusCodec>()),
      decoder(std::make_unique<OpusCodec>()), devices(timing.silenceLimitMs),
      pendingSamples(std::size_t(channels) * frameSize)
{
    clock.start();
    streamSocket = new UdpSocket(this);
    controlSocket = new UdpSocket(this);
    discoverySocket = new UdpSocket(this);
    audioInSocket = new UdpSocket(this);
    broadcastSocket = new QUdpSocket(this);
    // Broadcasts stay on the local network: no proxy lookup (a libproxy thread on Linux).
    broadcastSocket->setProxy(QNetworkProxy::NoProxy);
    broadcastTimer = new QTimer(this);

    encoder->initEncoder(sampleRate, channels, initialBitrate);
    decoder->initDecoder(sampleRate, channels);
    decodeBuffer.assign(std::size_t(maxDecodeFrameSize) * channels, 0);
    // Sized once here, so that the capture thread allocates nothing of its own per frame.
    packet.resize(OpusCodec::maxPacketSize);
    datagram.reserve(AudioDatagram::headerSize + OpusCodec::maxPacketSize);

    const auto control = [this](const QByteArray &payload, const QHostAddress &sender, quint16) {
        handleControlDatagram(payload, sender);
    };
    controlSocket->setReceiveCallback(control);
    controlSocket->bind(controlPort);
    discoverySocket->setReceiveCallback(control);
    discoverySocket->bind(discoveryPort);
    audioInSocket->setReceiveCallback(
        [this](const QByteArray &payload, const QHostAddress &sender, quint16) {
            handleAudioDatagram(payload, sender);
        });
    audioInSocket->bind(audioPort);

    connect(broadcastTimer, &QTimer::timeout, this, &ServerCore::broadcastPresence);
    broadcastTimer->start(timing.broadcastIntervalMs);
    expiryTimer = new QTimer(this);
    connect(expiryTimer, &QTimer::timeout, this, &ServerCore::expireDevices);
    expiryTimer->start(timing.expiryIntervalMs);

    refreshDevices();
}

ServerCore::~ServerCore()
{
    stopSequence(mode);
}

// Ends whatever runs in the given mode (the current one, except while the mode is being
// changed). Devices, targets and discovery carry on.
void ServerCore::stopSequence(int runningMode)
{
    if (!running)
        return;
    if (runningMode != 0)
        player->stop();
    else
        capture->stop();
    if (runningMode == 1) {
        connectedServer.clear();
        connectedAddress.clear();
        emit serverNameChanged();
    }
    running = false;
    emit runningChanged();
}

void ServerCore::setSelectedDevice(const QString &id)
{
    if (id == selectedDeviceId)
        return;
    selectedDeviceId = id;
    emit selectedDeviceChanged();
    if (running && mode == 0) {
        stopSequence(mode);
        startServer();
    }
}

void ServerCore::setSelectedOutputDevice(const QString &id)
{
    if (id == selectedOutputDeviceId)
        return;
    selectedOutputDeviceId = id;
    emit selectedOutputDeviceChanged();
    if (running && mode == 1) {
        player->stop();
        player->start(selectedOutputDeviceId.toStdWString(), sampleRate, channels);
    }
}

void ServerCore::setPlayerMode(int newMode)
{
    if (newMode == mode)
        return;
    const int previous = mode;
    mode = newMode;
    emit playerModeChanged();
    if (!running)
        return;
    stopSequence(previous);
    startServer();
}

QString ServerCore::hostname() const
{
    return QHostInfo::localHostName();
}

QString ServerCore::localIp() const
{
    const auto addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol &&
            address != QHostAddress(QHostAddress::LocalHost))
            return address.toString();
    }
    return {};
}

void ServerCore::refreshDevices()
{
    audioDeviceList = deviceRecords(WasapiCapture::enumerateDevices());
    outputDeviceList = deviceRecords(WasapiPlayer::enumerateDevices());
    emit audioDevicesChanged();
    emit outputDevicesChanged();
}

void ServerCore::startServer()
{
    if (running && mode == 0)
        return;
    if (running) {
        stopSequence(mode);
        // A receiver of those signals started something again.
        if (running)
            return;
    }
    mode = 0;
    emit playerModeChanged();

    // The capture thread does not exist yet: these are ours to reset.
    sequenceNumber = 0;
    pendingSamples.clear();
    if (mode == 0) {
        running = capture->start(selectedDeviceId.toStdWString(),
                                 [this](const float *samples, std::uint64_t frameCount) {
                                     onCapturedAudio(samples, frameCount);
                                 });
    } else {
        // A receiver of playerModeChanged chose another mode meanwhile.
        running = player->start(selectedOutputDeviceId.toStdWString(), sampleRate, channels);
    }
    emit runningChanged();
}

void ServerCore::stopServer()
{
    stopSequence(mode);
}

void ServerCore::connectToAddress(const QString &ip)
{
    if (mode != 1)
        stopSequence(mode);
    mode = 1;
    emit playerModeChanged();

    // A direct datagram: the stream's targets (the phones' audio ports) stay as they are.
    streamSocket->sendTo(hello(QHostInfo::localHostName()), ip, controlPort);

    if (running)
        return;
    connectedServer = ip;
    connectedAddress = QHostAddress(ip);
    emit serverNameChanged();
    running = true;
    player->start(selectedOutputDeviceId.toStdWString(), sampleRate, channels);
    if (broadcastSocket->state() == QAbstractSocket::UnconnectedState)
        broadcastSocket->bind(QHostAddress::Any, discoveryPort, QAbstractSocket::ShareAddress);
    audioInSocket->bind(audioPort);
    emit runningChanged();
}

void ServerCore::setDeviceVolume(const QString &ip, int volume)
{
    controlSocket->sendTo(ControlProtocol::volume(volume), ip, discoveryPort);
    devices.setVolume(ip, volume);
}

void ServerCore::handleControlDatagram(const QByteArray &payload, const QHostAddress &sender)
{
    const Command command = parse(payload, QHostInfo::localHostName());
    switch (command.kind) {
    case Command::Kind::Register:
        registerDevice(addressForm(sender), command.name);
        break;
    case Command::Kind::Mute:
        AudioPlatform::instance().toggleDefaultOutputMute();
        break;
    case Command::Kind::Quality:
        encoder->initEncoder(sampleRate, channels, command.bitrate);
        break;
    case Command::Kind::Disconnect:
        unregisterDevice(addressForm(sender));
        break;
    case Command::Kind::Ignored:
        break;
    }
}

void ServerCore::broadcastPresence()
{
    const QByteArray message = presence(QHostInfo::localHostName());
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            const QHostAddress subnet = entry.broadcast();
            if (!subnet.isNull())
                broadcastSocket->writeDatagram(message, subnet, discoveryPort);
        }
    }
    broadcastSocket->writeDatagram(message, QHostAddress(QHostAddress::Broadcast), discoveryPort);
}

void ServerCore::registerDevice(const QString &address, const QString &name)
{
    if (devices.registerDevice(address, name, clock.elapsed()) !=
        DeviceTable::Registration::Added)
        return;
    streamSocket->addTarget(address, audioPort);
    emit connectedDevicesChanged();
}

void ServerCore::unregisterDevice(const QString &address)
{
    if (devices.unregisterDevice(address)) {
        streamSocket->removeTarget(address);
        emit connectedDevicesChanged();
    }
    endConnectionTo(address);
}

void ServerCore::expireDevices()
{
    const QStringList expired = devices.expire(clock.elapsed());
    for (const QString &address : expired) {
        streamSocket->removeTarget(address);
        endConnectionTo(address);
    }
    if (!expired.isEmpty())
        emit connectedDevicesChanged();
}

void ServerCore::endConnectionTo(const QString &address)
{
    if (running && mode == 1 && connectedServer == address)
        stopSequence(mode);
}

// Capture thread.
void ServerCore::onCapturedAudio(const float *samples, std::uint64_t frameCount)
{
    pendingSamples.push(samples, std::size_t(frameCount) * channels,
                        [this](const std::int16_t *frame) { sendAudioFrame(frame); });
}

// Capture thread: one frame to one datagram to every phone, in buffers sized at construction.
void ServerCore::sendAudioFrame(const std::int16_t *frame)
{
    const int length = encoder->encode(frame, frameSize, packet.data(), int(packet.size()));
    if (length <= 0)
        return;
    AudioDatagram::build(datagram, sequenceNumber++,
                         QDateTime::currentMSecsSinceEpoch() * 1000000, sampleRate,
                         QByteArrayView(packet.data(), length));
    streamSocket->sendToTargets(datagram);
}

// GUI thread, every datagram that reaches port 8080.
void ServerCore::handleAudioDatagram(const QByteArray &payload, const QHostAddress &sender)
{
    if (!running || mode == 0)
        return;
    // Only the device connected to may speak into the output.
    if (!connectedAddress.isNull() &&
        !sender.isEqual(connectedAddress, QHostAddress::ConvertV4MappedToIPv4))
        return;
    const QByteArrayView opus = AudioDatagram::payload(payload);
    if (opus.isEmpty())
        return;
    const int decoded =
        decoder->decode(reinterpret_cast<const unsigned char *>(opus.data()), int(opus.size()),
                        decodeBuffer.data(), maxDecodeFrameSize);
    if (decoded < 1)
        return;
    player->pushSamples(decodeBuffer.data(), std::size_t(decoded) * channels);
}
