#include "audio/platform/fake/fakeaudioplatform.h"
#include "core/devicewatcher.h"
#include "core/servercore.h"
#include "corepeers.h"
#include "support/netns.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QProcess>
#include <QTest>
#include <QVariantMap>
#include <memory>

class TestServerCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void surfaceTheWindowBindsTo();
    void freshCore();
    void startAndStopSignals();
    void captureStartFailureStillReportsRunning();
    void selectedDeviceRestartsStreaming();
    void selectedDeviceWhilePlayingOnlyStores();
    void playerModeWhileIdleOnlyStores();
    void playerModeWhilePlayingEndsInServerMode();
    void connectSignals();
    void outputDeviceChangeRestartsThePlayerQuietly();
    void destructionStopsWhatRuns();
    void refreshDevicesRebuildsBothLists();
    void listsFollowTheSoundSystem();

    void registration_data();
    void registration();
    void ownNameAndUnknownDatagramsAreDropped_data();
    void ownNameAndUnknownDatagramsAreDropped();
    void disconnectAndHelloAgainAppends();
    void deviceVolume();
    void muteToggles();
    void silentDevicesExpire();
    void disconnectOrExpiryEndsThePlayerConnection();
    void presenceGoesToEveryUpSubnet();

private:
    ServerCore &makeCore(const ServerCoreTiming &timing = {});
    QVariantMap record(int index) const;
    QStringList connectedAddresses() const;

    FakeAudioPlatform *platform = nullptr;
    std::shared_ptr<FakeEndpoint> speakers;
    std::shared_ptr<FakeEndpoint> cable;
    std::unique_ptr<ServerCore> core;
};

void TestServerCore::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
}

void TestServerCore::init()
{
    platform = &FakeAudioPlatform::install();
    speakers = platform->addEndpoint(L"speakers", L"Speakers");
    cable = platform->addEndpoint(L"cable_input", L"CABLE Input");
}

void TestServerCore::cleanup()
{
    core.reset();
    speakers.reset();
    cable.reset();
}

ServerCore &TestServerCore::makeCore(const ServerCoreTiming &timing)
{
    core = std::make_unique<ServerCore>(timing);
    return *core;
}

QVariantMap TestServerCore::record(int index) const
{
    return core->connectedDevices().value(index).toMap();
}

QStringList TestServerCore::connectedAddresses() const
{
    QStringList addresses;
    for (const QVariant &device : core->connectedDevices())
        addresses.append(device.toMap().value("ip").toString());
    return addresses;
}

// The window binds to these by name and the meta-object order is part of the contract.
void TestServerCore::surfaceTheWindowBindsTo()
{
    const QMetaObject &meta = ServerCore::staticMetaObject;
    QStringList properties;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        properties.append(QString::fromLatin1(meta.property(i).name()));
    QCOMPARE(properties, QStringList({"isRunning",
                                      "audioDevices",
                                      "selectedDevice",
                                      "outputDevices",
                                      "selectedOutputDevice",
                                      "connectedDevices",
                                      "serverName",
                                      "hostname",
                                      "localIp",
                                      "captureLatencyMs",
                                      "playerMode",
                                      "soundSystemState",
                                      "canCreateVirtualMicrophone",
                                      "portConflict",
                                      "askBeforeStreaming",
                                      "pendingDevices",
                                      "resolveError",
                                      "playoutLatencyMs",
                                      "eventSync",
                                      "continuousCapture"}));
    QVERIFY(meta.property(meta.indexOfProperty("hostname")).isConstant());
    QVERIFY(meta.property(meta.indexOfProperty("localIp")).isConstant());
    QVERIFY(meta.property(meta.indexOfProperty("canCreateVirtualMicrophone")).isConstant());

    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        methods.append(QString::fromLatin1(meta.method(i).methodSignature()));
    QCOMPARE(methods, QStringList({"runningChanged()",
                                   "audioDevicesChanged()",
                                   "selectedDeviceChanged()",
                                   "outputDevicesChanged()",
                                   "selectedOutputDeviceChanged()",
                                   "connectedDevicesChanged()",
                                   "captureLatencyMsChanged()",
                                   "playerModeChanged()",
                                   "serverNameChanged()",
                                   "telemetryUpdated(int)",
                                   "soundSystemStateChanged()",
                                   "portConflictChanged()",
                                   "askBeforeStreamingChanged()",
                                   "pendingDevicesChanged()",
                                   "resolveErrorChanged()",
                                   "playoutLatencyMsChanged()",
                                   "eventSyncChanged()",
                                   "continuousCaptureChanged()",
                                   "refreshDevices()",
                                   "startServer()",
                                   "stopServer()",
                                   "connectToAddress(QString)",
                                   "setDeviceVolume(QString,int)",
                                   "createVirtualMicrophone()",
                                   "allowDevice(QString)",
                                   "blockDevice(QString)"}));
}

void TestServerCore::freshCore()
{
    ServerCore &core = makeCore();
    QCOMPARE(core.isRunning(), false);
    QCOMPARE(core.playerMode(), 0);
    QCOMPARE(core.serverName(), QString());
    QCOMPARE(core.captureLatencyMs(), 0);
    QCOMPARE(core.connectedDevices(), QVariantList());
    const QVariantList endpoints{QVariantMap{{"id", "speakers"}, {"name", "Speakers"}},
                                 QVariantMap{{"id", "cable_input"}, {"name", "CABLE Input"}}};
    QCOMPARE(core.audioDevices(), endpoints);
    QCOMPARE(core.outputDevices(), endpoints);
    QCOMPARE(core.hostname(), QHostInfo::localHostName());
    // Only the loopback interface here.
    QCOMPARE(core.localIp(), QString());
}

void TestServerCore::startAndStopSignals()
{
    ServerCore &core = makeCore();
    SignalLog log(core);

    core.startServer();
    QCOMPARE(log.take(), QStringList({"playerModeChanged", "runningChanged(true)"}));
    QVERIFY(speakers->isCapturing());

    core.startServer();
    QCOMPARE(log.take(), QStringList());

    core.stopServer();
    QCOMPARE(log.take(), QStringList({"runningChanged(false)"}));
    QVERIFY(!speakers->isCapturing());
    core.stopServer();
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(core.captureLatencyMs(), 0);
}

void TestServerCore::captureStartFailureStillReportsRunning()
{
    ServerCore &core = makeCore();
    core.setPlayerMode(1);
    core.setSelectedDevice("gone");
    SignalLog log(core);

    core.startServer();
    QCOMPARE(log.take(), QStringList({"playerModeChanged", "runningChanged(false)"}));
    QCOMPARE(core.isRunning(), false);
    QCOMPARE(core.playerMode(), 0);

    speakers->setStreamStartFails(true);
    core.setSelectedDevice(QString());
    core.startServer();
    QCOMPARE(log.take(),
             QStringList({"selectedDeviceChanged", "playerModeChanged", "runningChanged(false)"}));
}

void TestServerCore::selectedDeviceRestartsStreaming()
{
    ServerCore &core = makeCore();
    core.startServer();
    SignalLog log(core);

    core.setSelectedDevice(QString());
    QCOMPARE(log.take(), QStringList());

    core.setSelectedDevice("cable_input");
    QCOMPARE(log.take(), QStringList({"selectedDeviceChanged", "runningChanged(false)",
                                      "playerModeChanged", "runningChanged(true)"}));
    QVERIFY(cable->isCapturing());
    QVERIFY(!speakers->isCapturing());

    // A device that cannot be opened leaves the core idle.
    core.setSelectedDevice("gone");
    QCOMPARE(log.take(), QStringList({"selectedDeviceChanged", "runningChanged(false)",
                                      "playerModeChanged", "runningChanged(false)"}));
    QVERIFY(!cable->isCapturing());
}

void TestServerCore::selectedDeviceWhilePlayingOnlyStores()
{
    ServerCore &core = makeCore();
    core.connectToAddress("127.0.0.2");
    SignalLog log(core);
    core.setSelectedDevice("cable_input");
    QCOMPARE(log.take(), QStringList({"selectedDeviceChanged"}));
    QVERIFY(!cable->isCapturing());
    QCOMPARE(core.isRunning(), true);
    QCOMPARE(core.playerMode(), 1);
}

void TestServerCore::playerModeWhileIdleOnlyStores()
{
    ServerCore &core = makeCore();
    SignalLog log(core);
    core.setPlayerMode(1);
    QCOMPARE(log.take(), QStringList({"playerModeChanged"}));
    core.setPlayerMode(1);
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(core.isRunning(), false);
    // Any value is stored and reported.
    core.setPlayerMode(7);
    QCOMPARE(core.playerMode(), 7);
}

void TestServerCore::playerModeWhilePlayingEndsInServerMode()
{
    ServerCore &core = makeCore();
    core.setSelectedOutputDevice("cable_input");
    core.connectToAddress("127.0.0.2");
    QVERIFY(cable->isRendering());
    SignalLog log(core);

    core.setPlayerMode(0);
    QCOMPARE(log.take(),
             QStringList({"playerModeChanged", "serverNameChanged", "runningChanged(false)",
                          "playerModeChanged", "runningChanged(true)"}));
    QCOMPARE(core.playerMode(), 0);
    QCOMPARE(core.serverName(), QString());
    QVERIFY(!cable->isRendering());
    QVERIFY(speakers->isCapturing());
}

void TestServerCore::connectSignals()
{
    ServerCore &core = makeCore();
    SignalLog log(core);

    core.connectToAddress("127.0.0.2");
    QCOMPARE(log.take(),
             QStringList({"playerModeChanged", "serverNameChanged", "runningChanged(true)"}));
    QCOMPARE(core.serverName(), QString("127.0.0.2"));

    // Connected already: only the hello goes out.
    core.connectToAddress("127.0.0.3");
    QCOMPARE(log.take(), QStringList({"playerModeChanged"}));
    QCOMPARE(core.serverName(), QString("127.0.0.2"));

    core.stopServer();
    QCOMPARE(log.take(), QStringList({"serverNameChanged", "runningChanged(false)"}));
    QCOMPARE(core.playerMode(), 1);

    core.startServer();
    log.take();
    core.connectToAddress("not an address");
    QCOMPARE(log.take(), QStringList({"runningChanged(false)", "playerModeChanged",
                                      "serverNameChanged", "runningChanged(true)"}));
    QVERIFY(!speakers->isCapturing());
    QCOMPARE(core.serverName(), QString("not an address"));

    // A start ends the player connection and enters server mode.
    core.startServer();
    QCOMPARE(log.take(), QStringList({"serverNameChanged", "runningChanged(false)",
                                      "playerModeChanged", "runningChanged(true)"}));
    QCOMPARE(core.playerMode(), 0);
}

void TestServerCore::outputDeviceChangeRestartsThePlayerQuietly()
{
    ServerCore &core = makeCore();
    core.connectToAddress("127.0.0.2");
    QVERIFY(speakers->isRendering());
    SignalLog log(core);

    core.setSelectedOutputDevice("cable_input");
    QCOMPARE(log.take(), QStringList({"selectedOutputDeviceChanged"}));
    QVERIFY(cable->isRendering());
    QVERIFY(!speakers->isRendering());

    // An output that cannot be opened still counts as connected.
    core.setSelectedOutputDevice("gone");
    QCOMPARE(core.isRunning(), true);
    QVERIFY(!cable->isRendering());
}

void TestServerCore::destructionStopsWhatRuns()
{
    makeCore().startServer();
    SignalLog log(*core);
    core.reset();
    QCOMPARE(log.take(), QStringList({"runningChanged(false)"}));
    QVERIFY(!speakers->isCapturing());

    makeCore().connectToAddress("127.0.0.2");
    SignalLog playing(*core);
    core.reset();
    QCOMPARE(playing.take(), QStringList({"serverNameChanged", "runningChanged(false)"}));
    QVERIFY(!speakers->isRendering());
}

void TestServerCore::refreshDevicesRebuildsBothLists()
{
    ServerCore &core = makeCore();
    const QVariantList before = core.audioDevices();
    SignalLog log(core);
    core.setSelectedDevice("cable_input");
    platform->removeEndpoint(L"cable_input");
    core.refreshDevices();
    QCOMPARE(log.take(),
             QStringList({"selectedDeviceChanged", "audioDevicesChanged", "outputDevicesChanged"}));
    QCOMPARE(core.audioDevices(), before.mid(0, 1));
    QCOMPARE(core.outputDevices(), before.mid(0, 1));
    QCOMPARE(core.selectedDevice(), QString("cable_input"));

    platform->setListFails(true);
    core.refreshDevices();
    QCOMPARE(log.take(), QStringList({"audioDevicesChanged", "outputDevicesChanged",
                                      "soundSystemStateChanged"}));
    QCOMPARE(core.audioDevices(), QVariantList());
}

// Devices that come and go show in both lists without a refresh being asked for; what is
// chosen stays chosen, and a chosen device that goes while streaming is left to fail as it
// always did. Reports that change nothing say nothing.
void TestServerCore::listsFollowTheSoundSystem()
{
    ServerCore &core = makeCore();
    core.setSelectedDevice("cable_input");
    core.setSelectedOutputDevice("cable_input");
    core.startServer();
    SignalLog log(core);

    platform->addEndpoint(L"usb", L"USB Speakers");
    QTRY_COMPARE_WITH_TIMEOUT(core.outputDevices().size(), 3, 1000);
    QCOMPARE(core.audioDevices(), core.outputDevices());
    QCOMPARE(core.audioDevices().last().toMap().value("name").toString(), QString("USB Speakers"));
    QCOMPARE(log.take(), QStringList({"audioDevicesChanged", "outputDevicesChanged"}));

    platform->setDefaultEndpoint(L"usb");
    platform->announceDevicesChanged();
    QTest::qWait(2 * DeviceWatcher::minimumGapMs);
    QCOMPARE(log.take(), QStringList());

    platform->removeEndpoint(L"cable_input");
    QTRY_COMPARE_WITH_TIMEOUT(core.audioDevices().size(), 2, 1000);
    QCOMPARE(core.selectedDevice(), QString("cable_input"));
    QCOMPARE(core.selectedOutputDevice(), QString("cable_input"));
    QVERIFY(core.isRunning());
    QCOMPARE(log.take(), QStringList({"audioDevicesChanged", "outputDevicesChanged"}));
}

void TestServerCore::registration_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<quint16>("port");

    QTest::newRow("hello on 8081") << QByteArray("Kestrune-Hello|") << quint16(8081);
    QTest::newRow("hello on 8082") << QByteArray("Kestrune-Hello|") << quint16(8082);
    QTest::newRow("presence on 8082") << QByteArray("Kestrune-Server|") << quint16(8082);
    QTest::newRow("presence on 8081") << QByteArray("Kestrune-Server|") << quint16(8081);
}

void TestServerCore::registration()
{
    QFETCH(QByteArray, prefix);
    QFETCH(quint16, port);

    ServerCore &core = makeCore();
    Phone phone("127.0.0.2");
    Phone nameless("127.0.0.3");
    QVERIFY(phone.bound && nameless.bound);
    SignalLog log(core);

    phone.send(prefix + "Phone", port);
    QTRY_COMPARE(core.connectedDevices().size(), 1);
    QCOMPARE(log.take(), QStringList({"connectedDevicesChanged"}));
    // The dual-stack socket reports ::ffff:127.0.0.2; the table keys it as dotted IPv4.
    QCOMPARE(
        record(0),
        (QVariantMap{{"name", "Phone"}, {"ip", "127.0.0.2"}, {"volume", 100}, {"latency", 0}}));

    // A repeat refreshes silently and keeps the first name; an empty name is a name.
    phone.send(prefix + "Other name", port);
    nameless.send(prefix, port);
    QTRY_COMPARE(core.connectedDevices().size(), 2);
    QCOMPARE(log.take(), QStringList({"connectedDevicesChanged"}));
    QCOMPARE(record(0).value("name").toString(), QString("Phone"));
    QCOMPARE(record(1).value("name").toString(), QString());
    QCOMPARE(record(1).value("ip").toString(), QString("127.0.0.3"));
}

void TestServerCore::ownNameAndUnknownDatagramsAreDropped_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<quint16>("port");

    const QByteArray own = QHostInfo::localHostName().toUtf8();
    QTest::newRow("own presence on 8082") << "Kestrune-Server|" + own << quint16(8082);
    QTest::newRow("own presence on 8081") << "Kestrune-Server|" + own << quint16(8081);
    QTest::newRow("own hello") << "Kestrune-Hello|" + own << quint16(8081);
    QTest::newRow("lower-case hello") << QByteArray("kestrune-hello|Phone") << quint16(8081);
    QTest::newRow("volume echo") << QByteArray("Kestrune-Cmd|Volume|20") << quint16(8082);
    QTest::newRow("garbage") << QByteArray("\xff\xfe garbage") << quint16(8081);
}

void TestServerCore::ownNameAndUnknownDatagramsAreDropped()
{
    QFETCH(QByteArray, payload);
    QFETCH(quint16, port);

    ServerCore &core = makeCore();
    Phone phone("127.0.0.2");
    QVERIFY(phone.bound);
    SignalLog log(core);
    phone.send(payload, port);
    // A hello behind it shows that the first datagram has been handled.
    phone.send("Kestrune-Hello|fence", port);
    QTRY_COMPARE(core.connectedDevices().size(), 1);
    QCOMPARE(record(0).value("name").toString(), QString("fence"));
    QCOMPARE(log.take(), QStringList({"connectedDevicesChanged"}));
    QCOMPARE(platform->muteToggles(), 0);
}

void TestServerCore::disconnectAndHelloAgainAppends()
{
    ServerCore &core = makeCore();
    Phone first("127.0.0.2");
    Phone second("127.0.0.3");
    first.send("Kestrune-Hello|first");
    QTRY_COMPARE(core.connectedDevices().size(), 1);
    second.send("Kestrune-Hello|second");
    QTRY_COMPARE(core.connectedDevices().size(), 2);
    core.setDeviceVolume("127.0.0.2", 40);
    SignalLog log(core);

    first.send("Kestrune-Cmd|Disconnect");
    QTRY_COMPARE(connectedAddresses(), QStringList({"127.0.0.3"}));
    QCOMPARE(log.take(), QStringList({"connectedDevicesChanged"}));

    // Disconnect of an address that is not registered: nothing.
    first.send("Kestrune-Cmd|Disconnect");
    first.send("Kestrune-Hello|first again");
    QTRY_COMPARE(connectedAddresses(), QStringList({"127.0.0.3", "127.0.0.2"}));
    QCOMPARE(log.take(), QStringList({"connectedDevicesChanged"}));
    QCOMPARE(record(1).value("volume").toInt(), 100);
    QCOMPARE(record(1).value("name").toString(), QString("first again"));
}

void TestServerCore::deviceVolume()
{
    ServerCore &core = makeCore();
    Phone phone("127.0.0.2");
    Phone stranger("127.0.0.3");
    phone.send("Kestrune-Hello|Phone");
    QTRY_COMPARE(core.connectedDevices().size(), 1);
    SignalLog log(core);

    core.setDeviceVolume("127.0.0.2", 150);
    QTRY_COMPARE(phone.discoveryReceived.size(), 1);
    const QNetworkDatagram sent = phone.discoveryReceived.first();
    QCOMPARE(sent.data(), QByteArray("Kestrune-Cmd|Volume|150"));
    QCOMPARE(sent.senderPort(), 8081);
    QCOMPARE(record(0).value("volume").toInt(), 150);
    QCOMPARE(log.take(), QStringList());

    // Unregistered: the command still goes out, the table stays as it is.
    core.setDeviceVolume("127.0.0.3", 7);
    QTRY_COMPARE(stranger.discoveryReceived.size(), 1);
    QCOMPARE(stranger.discoveryReceived.first().data(), QByteArray("Kestrune-Cmd|Volume|7"));
    QCOMPARE(core.connectedDevices().size(), 1);
    core.setDeviceVolume("not an address", 3);

    QTest::qWait(50);
    QCOMPARE(phone.discoveryReceived.size(), 1);
    QCOMPARE(phone.controlReceived.size() + phone.audioReceived.size(), 0);
}

void TestServerCore::muteToggles()
{
    makeCore();
    Phone phone("127.0.0.2");
    phone.send("Kestrune-Cmd|Mute");
    QTRY_COMPARE(platform->muteToggles(), 1);
    QVERIFY(platform->isMuted());
    phone.send("Kestrune-Cmd|Mute and more", 8082);
    QTRY_COMPARE(platform->muteToggles(), 2);
    QVERIFY(!platform->isMuted());

    // A mute state that cannot be read is left alone.
    platform->setMuteReadable(false);
    phone.send("Kestrune-Cmd|Mute");
    phone.send("Kestrune-Hello|fence");
    QTRY_COMPARE(core->connectedDevices().size(), 1);
    QCOMPARE(platform->muteToggles(), 2);
    QVERIFY(!platform->isMuted());
}

// Scaled down twenty times: a sweep every 100 ms removes devices silent for more than
// 300 ms, so a device that falls silent goes between 300 and about 400 ms later.
static ServerCoreTiming quickExpiry()
{
    ServerCoreTiming timing;
    timing.expiryIntervalMs = 100;
    timing.silenceLimitMs = 300;
    return timing;
}

void TestServerCore::silentDevicesExpire()
{
    ServerCore &core = makeCore(quickExpiry());
    Phone first("127.0.0.2");
    Phone second("127.0.0.3");
    Phone talkative("127.0.0.4");
    // Both hellos are handled in one go, so both devices fall silent together.
    first.send("Kestrune-Hello|first");
    second.send("Kestrune-Hello|second");
    QElapsedTimer silence;
    silence.start();
    talkative.send("Kestrune-Hello|talkative");
    QTRY_COMPARE(core.connectedDevices().size(), 3);
    SignalLog log(core);

    // One device keeps talking every 200 ms and stays.
    QElapsedTimer talk;
    talk.start();
    while (core.connectedDevices().size() == 3) {
        QTest::qWait(5);
        if (talk.elapsed() >= 200) {
            talkative.send("Kestrune-Hello|talkative");
            talk.restart();
        }
        QVERIFY2(silence.elapsed() < 2000, "silent devices never expired");
    }
    const qint64 gone = silence.elapsed();
    QVERIFY2(gone > 300 && gone < 600, qPrintable(QString::number(gone)));
    QCOMPARE(connectedAddresses(), QStringList({"127.0.0.4"}));
    QCOMPARE(log.take(), QStringList({"connectedDevicesChanged"}));
    // The talkative one goes too once it stops; how soon depends on the sweep
    // and on how busy the machine is, so only that it goes is checked.
    QTRY_COMPARE_WITH_TIMEOUT(connectedAddresses(), QStringList(), 2000);
}

void TestServerCore::disconnectOrExpiryEndsThePlayerConnection()
{
    ServerCore &core = makeCore(quickExpiry());
    Phone phone("127.0.0.2");
    Phone other("127.0.0.3");
    phone.send("Kestrune-Hello|Phone");
    QTRY_COMPARE(core.connectedDevices().size(), 1);

    core.connectToAddress("127.0.0.2");
    SignalLog log(core);
    // Not from the connected address: the connection stays.
    other.send("Kestrune-Cmd|Disconnect");
    other.send("Kestrune-Hello|fence");
    QTRY_COMPARE(core.connectedDevices().size(), 2);
    QCOMPARE(core.isRunning(), true);
    log.take();

    phone.send("Kestrune-Cmd|Disconnect");
    QTRY_COMPARE(core.isRunning(), false);
    QCOMPARE(log.take(), QStringList({"connectedDevicesChanged", "serverNameChanged",
                                      "runningChanged(false)"}));
    QCOMPARE(core.serverName(), QString());
    QCOMPARE(core.playerMode(), 1);
    QVERIFY(!speakers->isRendering());

    // The connected device falls silent: its expiry ends the connection. The fence goes
    // first, so the phone's expiry is the only change in the table that follows.
    QTRY_COMPARE_WITH_TIMEOUT(core.connectedDevices().size(), 0, 2000);
    phone.send("Kestrune-Hello|Phone");
    QTRY_COMPARE(core.connectedDevices().size(), 1);
    core.connectToAddress("127.0.0.2");
    QCOMPARE(core.isRunning(), true);
    log.take();
    QTRY_COMPARE_WITH_TIMEOUT(core.connectedDevices().size(), 0, 2000);
    QCOMPARE(log.take(), QStringList({"serverNameChanged", "runningChanged(false)",
                                      "connectedDevicesChanged"}));
    QCOMPARE(core.playerMode(), 1);

    // A connection to a device that was never registered ends by Disconnect all the same.
    core.connectToAddress("127.0.0.2");
    phone.send("Kestrune-Cmd|Disconnect");
    QTRY_COMPARE(core.isRunning(), false);
    QCOMPARE(core.playerMode(), 1);
}

static bool runIp(const QStringList &arguments)
{
    return QProcess::execute("ip", arguments) == 0;
}

void TestServerCore::presenceGoesToEveryUpSubnet()
{
    // Test subnets on interfaces (empty bridges) that exist only in this network namespace;
    // the last one is down.
    if (!runIp({"link", "add", "kt0", "type", "bridge"}) ||
        !runIp({"addr", "add", "10.213.0.1/24", "dev", "kt0"}) ||
        !runIp({"addr", "add", "10.213.1.1/24", "dev", "kt0"}) ||
        !runIp({"link", "set", "kt0", "up"}) ||
        // Without a default route the limited broadcast has nowhere to go.
        !runIp({"route", "add", "255.255.255.255/32", "dev", "kt0"}) ||
        !runIp({"link", "add", "kt1", "type", "bridge"}) ||
        !runIp({"addr", "add", "10.214.0.1/24", "dev", "kt1"}))
        QSKIP("test interfaces cannot be made here");
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();

    ServerCoreTiming timing;
    timing.broadcastIntervalMs = 50;
    ServerCore &core = makeCore(timing);
    QCOMPARE(core.localIp(), QString("10.213.0.1"));

    QUdpSocket listener;
    listener.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(listener.bind(QHostAddress::AnyIPv4, 8082,
                          QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    QList<QNetworkDatagram> heard;
    connect(&listener, &QUdpSocket::readyRead, [&] {
        while (listener.hasPendingDatagrams())
            heard.append(listener.receiveDatagram(-1));
    });
    QTRY_VERIFY(heard.size() >= 9);
    QSet<QString> destinations;
    for (const QNetworkDatagram &datagram : heard) {
        QCOMPARE(datagram.data(), "Kestrune-Server|" + QHostInfo::localHostName().toUtf8());
        QCOMPARE(datagram.destinationPort(), 8082);
        destinations.insert(datagram.destinationAddress().toString());
    }
    QCOMPARE(destinations, QSet<QString>({"10.213.0.255", "10.213.1.255", "255.255.255.255"}));
    // The core hears its own broadcasts too, and drops them.
    QCOMPARE(core.connectedDevices(), QVariantList());

    QProcess::execute("ip", {"link", "del", "kt0"});
    QProcess::execute("ip", {"link", "del", "kt1"});
}

QTEST_GUILESS_MAIN(TestServerCore)
#include "tst_servercore.moc"
