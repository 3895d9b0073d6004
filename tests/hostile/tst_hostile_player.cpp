// Player mode with a host name: the name is resolved without blocking the window, the hello
// goes to what it resolves to, and only audio from there is played; another sender is not
// heard. A name that resolves to nothing leaves the player connected but silent, and says so.
// The test runs with a hosts file of its own (with-hosts-file.sh) in which "test-phone" is
// 127.0.0.2.
#include "audio/opuscodec.h"
#include "audio/platform/fake/fakeaudioplatform.h"
#include "core/corepeers.h"
#include "core/playeraudio.h"
#include "core/servercore.h"
#include "support/netns.h"

#include <QHostInfo>
#include <QSignalSpy>
#include <QTest>

class TestHostilePlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void hostNameIsResolvedAndOnlyItsAddressIsPlayed();
    void unresolvableNameIsConnectedButSilent();

private:
    // Lets the core take what was sent and the output play what it was given.
    void settle();

    FakeAudioPlatform *platform = nullptr;
    std::shared_ptr<FakeEndpoint> cable;
    std::unique_ptr<ServerCore> core;
    OpusCodec encoder;
};

void TestHostilePlayer::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    QCOMPARE(QHostInfo::fromName("test-phone").addresses().value(0), QHostAddress("127.0.0.2"));
    QVERIFY(encoder.initEncoder(48000, 2, 128000));
}

void TestHostilePlayer::init()
{
    platform = &FakeAudioPlatform::install();
    cable = platform->addEndpoint(L"cable_input", L"CABLE Input");
    core = std::make_unique<ServerCore>();
    core->setSelectedOutputDevice("cable_input");
}

void TestHostilePlayer::cleanup()
{
    core.reset();
    cable.reset();
}

void TestHostilePlayer::settle()
{
    QTest::qWait(50);
    QVERIFY(cable->waitForRenderCycles(cable->renderCycles() + 2, 2000));
}

void TestHostilePlayer::hostNameIsResolvedAndOnlyItsAddressIsPlayed()
{
    Phone phone("127.0.0.2");
    Phone stranger("127.0.0.3");
    QVERIFY(phone.bound && stranger.bound);
    core->connectToAddress("test-phone");
    QCOMPARE(core->serverName(), QString("test-phone"));
    QVERIFY(core->isRunning());
    QTRY_COMPARE(phone.controlReceived.size(), 1);
    QCOMPARE(phone.controlReceived.first().data(),
             "Kestrune-Hello|" + QHostInfo::localHostName().toUtf8());
    QCOMPARE(core->resolveError(), QString());

    cable->clearRendered();
    stranger.send(audioDatagram(encodedTone(encoder, 0)), 8080);
    settle();
    QVERIFY(allSilent(cable->renderedInt16()));
    phone.send(audioDatagram(encodedTone(encoder, 1)), 8080);
    QTRY_VERIFY(!allSilent(cable->renderedInt16()));
    QVERIFY(stranger.controlReceived.isEmpty());

    // The server's Disconnect ends the connection, a stranger's does not.
    stranger.send("Kestrune-Cmd|Disconnect");
    QTest::qWait(100);
    QVERIFY(core->isRunning());
    phone.send("Kestrune-Cmd|Disconnect");
    QTRY_VERIFY(!core->isRunning());
    QCOMPARE(core->serverName(), QString());
}

void TestHostilePlayer::unresolvableNameIsConnectedButSilent()
{
    Phone stranger("127.0.0.3");
    QVERIFY(stranger.bound);
    QSignalSpy errorChanged(core.get(), &ServerCore::resolveErrorChanged);
    core->connectToAddress("no-such-phone.invalid");
    QVERIFY(core->isRunning());
    QCOMPARE(core->serverName(), QString("no-such-phone.invalid"));
    QTRY_COMPARE(core->resolveError(), QString("Cannot resolve no-such-phone.invalid"));
    QCOMPARE(errorChanged.count(), 1);

    cable->clearRendered();
    stranger.send(audioDatagram(encodedTone(encoder, 0)), 8080);
    settle();
    QVERIFY(allSilent(cable->renderedInt16()));

    // Ending the connection clears the message; a name that resolves connects as usual.
    core->stopServer();
    QCOMPARE(core->resolveError(), QString());
    QCOMPARE(errorChanged.count(), 2);
    Phone phone("127.0.0.2");
    core->connectToAddress("test-phone");
    QTRY_COMPARE(phone.controlReceived.size(), 1);
    QCOMPARE(core->resolveError(), QString());
}

QTEST_GUILESS_MAIN(TestHostilePlayer)
#include "tst_hostile_player.moc"
