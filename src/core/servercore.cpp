#include "core/servercore.h"

#include "audio/platform/audioplatform.h"
#include "core/capturelatencyreadout.h"
#include "core/controlprotocol.h"
#include "core/devicewatcher.h"
#include "core/playerpath.h"
#include "core/streamsender.h"
#include "net/udpsocket.h"

#include <QHostInfo>

ServerCore::ServerCore(QObject *parent) : ServerCore(ServerCoreTiming(), parent) {}

ServerCore::ServerCore(const ServerCoreTiming &timing, QObject *parent)
    : QObject(parent), streamSocket(new UdpSocket(this)),
      sender(std::make_unique<StreamSender>(*streamSocket)),
      playerPath(new PlayerPath(*streamSocket, this)),
      discovery(new Discovery(*streamSocket, timing, this)), deviceWatcher(new DeviceWatcher(this)),
      captureReadOut(
          new CaptureLatencyReadOut([this] { return sender->captureLatencyMs(); }, 1000, this)),
      virtualMicrophone(AudioPlatform::instance().takeOverVirtualMicrophone())
{
    connect(captureReadOut, &CaptureLatencyReadOut::latencyChanged, this,
            &ServerCore::captureLatencyMsChanged);
    connect(captureReadOut, &CaptureLatencyReadOut::measured, this, &ServerCore::telemetryUpdated);
    connect(discovery, &Discovery::connectedDevicesChanged, this,
            &ServerCore::connectedDevicesChanged);
    connect(discovery, &Discovery::deviceLeft, this, &ServerCore::endConnectionTo);
    connect(discovery, &Discovery::pendingDevicesChanged, this, &ServerCore::pendingDevicesChanged);
    connect(discovery, &Discovery::muteRequested, this, [this] { muteWorker.request(); });
    connect(discovery, &Discovery::bitrateRequested, this,
            [this](int bitsPerSecond) { sender->setBitrate(bitsPerSecond); });
    connect(playerPath, &PlayerPath::resolveErrorChanged, this, &ServerCore::resolveErrorChanged);
    updatePortConflict();
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
    if (runningMode != Mode::server) {
        playerPath->stop();
    } else {
        sender->stop();
        captureReadOut->stop();
    }
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

bool ServerCore::eventSync() const
{
    return sender->eventSync();
}

bool ServerCore::continuousCapture() const
{
    return sender->continuousCapture();
}

void ServerCore::setEventSync(bool enabled)
{
    if (enabled == sender->eventSync())
        return;
    sender->setEventSync(enabled);
    emit eventSyncChanged();
}

void ServerCore::setContinuousCapture(bool enabled)
{
    if (enabled == sender->continuousCapture())
        return;
    sender->setContinuousCapture(enabled);
    emit continuousCaptureChanged();
}

QString ServerCore::hostname() const
{
    return QHostInfo::localHostName();
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

    if (mode == Mode::server) {
        running = sender->start(selectedDeviceId);
        if (running)
            captureReadOut->start();
    } else { // a receiver of playerModeChanged chose another mode meanwhile
        running = playerPath->start(selectedOutputDeviceId);
    }
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

    if (running) {
        playerPath->sayHello(ip);
        return;
    }
    connectedServer = ip;
    emit serverNameChanged();
    running = true;
    playerPath->start(selectedOutputDeviceId, ip);
    discovery->bindBroadcastToDiscoveryPort();
    playerPath->rebindAudioPort();
    updatePortConflict();
    emit runningChanged();
}

void ServerCore::endConnectionTo(const QString &address)
{
    // The server may have been named by a host name: what counts is where it resolved to.
    if (running && mode == Mode::player && playerPath->isServer(address))
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

void ServerCore::setAskBeforeStreaming(bool on)
{
    if (on == discovery->askBeforeStreaming())
        return;
    discovery->setAskBeforeStreaming(on);
    emit askBeforeStreamingChanged();
}

void ServerCore::updatePortConflict()
{
    QList<quint16> ports = discovery->portsInUse();
    if (playerPath->audioPortInUse())
        ports.prepend(ControlProtocol::audioPort);
    if (portConflictLine.update(ports))
        emit portConflictChanged();
}
