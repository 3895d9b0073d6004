#include "core/servercore.h"

#include "audio/platform/audioplatform.h"
#include "core/devicewatcher.h"
#include "core/playerpath.h"
#include "core/streamsender.h"
#include "net/udpsocket.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

ServerCore::ServerCore(QObject *parent) : ServerCore(ServerCoreTiming(), parent) {}

ServerCore::ServerCore(const ServerCoreTiming &timing, QObject *parent)
    : QObject(parent), streamSocket(new UdpSocket(this)),
      sender(std::make_unique<StreamSender>(*streamSocket)), playerPath(new PlayerPath(this)),
      discovery(new Discovery(*streamSocket, timing, this)), deviceWatcher(new DeviceWatcher(this)),
      virtualMicrophone(AudioPlatform::instance().takeOverVirtualMicrophone())
{
    connect(discovery, &Discovery::connectedDevicesChanged, this,
            &ServerCore::connectedDevicesChanged);
    connect(discovery, &Discovery::deviceLeft, this, &ServerCore::endConnectionTo);
    connect(discovery, &Discovery::muteRequested, this, &ServerCore::toggleMute);
    connect(discovery, &Discovery::bitrateRequested, this,
            [this](int bitsPerSecond) { sender->setBitrate(bitsPerSecond); });
    // Watching before the first reading, so that no change falls between the two.
    connect(deviceWatcher, &DeviceWatcher::refreshDue, this, &ServerCore::followDevices);
    connect(playerPath, &PlayerPath::playoutLatencyChanged, this,
            &ServerCore::playoutLatencyMsChanged);
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
    if (runningMode != Mode::server)
        playerPath->stop();
    else
        sender->stop();
    if (runningMode == Mode::player) {
        connectedServer.clear();
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
    if (running && mode == Mode::server) {
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
    if (running && mode == Mode::player)
        playerPath->switchOutput(selectedOutputDeviceId);
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

int ServerCore::playoutLatencyMs() const
{
    return playerPath->playoutLatencyMs();
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

bool ServerCore::canCreateVirtualMicrophone() const
{
    return AudioPlatform::instance().canMakeVirtualMicrophone();
}

void ServerCore::refreshDevices()
{
    DeviceLists::Changes changes = deviceLists.reload();
    changes.audio = changes.output = true; // asked for: told even when nothing changed
    announce(changes);
}

// The selections stay as they are: a device that is back is chosen again, and one that
// went away fails the next start, as a chosen device always did.
void ServerCore::followDevices()
{
    announce(deviceLists.reload());
}

void ServerCore::announce(const DeviceLists::Changes &changes)
{
    if (changes.audio)
        emit audioDevicesChanged();
    if (changes.output)
        emit outputDevicesChanged();
    if (changes.state)
        emit soundSystemStateChanged();
}

void ServerCore::startServer()
{
    if (running && mode == Mode::server)
        return;
    if (running) {
        stopSequence(mode);
        // A receiver of those signals started something again.
        if (running)
            return;
    }
    mode = Mode::server;
    emit playerModeChanged();

    if (mode == Mode::server)
        running = sender->start(selectedDeviceId);
    else // a receiver of playerModeChanged chose another mode meanwhile
        running = playerPath->start(selectedOutputDeviceId);
    emit runningChanged();
}

void ServerCore::stopServer()
{
    stopSequence(mode);
}

void ServerCore::connectToAddress(const QString &ip)
{
    if (mode != Mode::player)
        stopSequence(mode);
    mode = Mode::player;
    emit playerModeChanged();

    PlayerPath::sendHello(ip, *streamSocket);
    if (running)
        return;
    connectedServer = ip;
    emit serverNameChanged();
    running = true;
    playerPath->start(selectedOutputDeviceId, ip);
    discovery->bindBroadcastToDiscoveryPort();
    playerPath->rebindAudioPort();
    emit runningChanged();
}

void ServerCore::setDeviceVolume(const QString &ip, int volume)
{
    discovery->setDeviceVolume(ip, volume);
}

void ServerCore::endConnectionTo(const QString &address)
{
    if (running && mode == Mode::player && connectedServer == address)
        stopSequence(mode);
}

QString ServerCore::createVirtualMicrophone()
{
    // One made before is gone only if the sound server restarted; pressing again while it
    // still exists just makes it anew.
    virtualMicrophone.reset();
    virtualMicrophone = AudioPlatform::instance().makeVirtualMicrophone();
    followDevices();
    return virtualMicrophone ? QString::fromStdWString(virtualMicrophone->outputId()) : QString();
}

void ServerCore::toggleMute()
{
    AudioPlatform::instance().toggleDefaultOutputMute();
}
