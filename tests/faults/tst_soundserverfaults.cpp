// The sound server under the running program: killed outright and started again, or the
// chosen device unloaded and loaded again, while server mode streams and while player mode
// plays. Whatever the running mode does meanwhile, it must neither crash nor hang the
// window, and once the sound is back the next start must work. The test runs a private
// PulseAudio of its own, so it can kill it.
#include "audio/platform/audioplatform.h"
#include "core/controlprotocol.h"
#include "core/corepeers.h"
#include "core/servercore.h"
#include "e2esupport.h"
#include "support/netns.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace E2e;

namespace {

const QString phoneAddress = QStringLiteral("127.0.0.2");

// What the sound server lists of this process: its record streams (capture) or its
// playback streams.
int ourStreams(const char *kind)
{
    const QString pid = QString::number(QCoreApplication::applicationPid());
    int count = 0;
    for (const QString &block : pactl({"list", kind}).split('#')) {
        if (block.contains("application.process.id = \"" + pid + "\""))
            ++count;
    }
    return count;
}

} // namespace

class TestSoundServerFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void serverKilledWhileStreaming();
    void serverKilledWhilePlaying();
    void capturedDeviceUnloadedAndReloaded();
    void outputDeviceUnloadedAndReloaded();

private:
    bool startServer();
    void killServer();
    // Audio datagrams that reach the phone within the given time.
    static int streamedWithin(Phone &phone, int ms);
    // How long a read of a core property through the event loop takes, in ms; -1 when it
    // did not come within 5 s.
    static qint64 answerMs(ServerCore &core);

    QTemporaryDir directory;
    const QString script = QStringLiteral(KESTRUNE_PRIVATE_PULSE_SCRIPT);
};

void TestSoundServerFaults::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    QVERIFY(directory.isValid());
    qputenv("PULSE_SERVER", QFile::encodeName("unix:" + directory.filePath("native")));
    qputenv("PULSE_CLIENTCONFIG", QFile::encodeName(directory.filePath("client.conf")));
    QVERIFY(startServer());
    AudioPlatform::install(createSystemAudioPlatform());
}

void TestSoundServerFaults::cleanupTestCase()
{
    QProcess::execute(script, {"stop", directory.path()});
}

bool TestSoundServerFaults::startServer()
{
    return QProcess::execute(script, {"start", directory.path()}) == 0;
}

void TestSoundServerFaults::killServer()
{
    QFile pidFile(directory.filePath("pid"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const qint64 pid = pidFile.readAll().trimmed().toLongLong();
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("/proc/%1/cmdline").arg(pid)) ||
                                 QFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).size() == 0,
                             5000);
    // The script cleans up what the killed daemon left and starts afresh next time.
    QProcess::execute(script, {"stop", directory.path()});
}

int TestSoundServerFaults::streamedWithin(Phone &phone, int ms)
{
    const int before = int(phone.audioReceived.size());
    QTest::qWait(ms);
    return int(phone.audioReceived.size()) - before;
}

qint64 TestSoundServerFaults::answerMs(ServerCore &core)
{
    QElapsedTimer clock;
    clock.start();
    qint64 answered = -1;
    QMetaObject::invokeMethod(
        &core, [&] { answered = core.property("isRunning").isValid() ? clock.elapsed() : -1; },
        Qt::QueuedConnection);
    while (answered < 0 && clock.elapsed() < 5000)
        QTest::qWait(1);
    return answered;
}

void TestSoundServerFaults::serverKilledWhileStreaming()
{
    ServerCore core;
    Phone phone(phoneAddress);
    QVERIFY(phone.bound);
    phone.send(ControlProtocol::hello("phone"));
    core.setSelectedDevice("speakers");
    core.startServer();
    QVERIFY(core.isRunning());
    QVERIFY(streamedWithin(phone, 1000) >= 80);

    killServer();
    QTest::qWait(500);
    const int streamedWithoutServer = streamedWithin(phone, 1000);
    const qint64 answer = answerMs(core);
    const bool runningWithoutServer = core.isRunning();
    core.refreshDevices();
    const int devicesWithoutServer = int(core.audioDevices().size());

    QVERIFY(startServer());
    core.refreshDevices();
    const int devicesAgain = int(core.audioDevices().size());
    core.stopServer();
    core.startServer();
    const bool restarted = core.isRunning();
    const int streamedAgain = streamedWithin(phone, 2000);
    qInfo("sound server killed while streaming: isRunning %d, %d datagrams in the next second, "
          "a property read in %lld ms, %d devices listed; after its restart: %d devices, "
          "stop and start gives isRunning %d and %d datagrams in 2 s, %d capture streams",
          runningWithoutServer, streamedWithoutServer, answer, devicesWithoutServer, devicesAgain,
          restarted, streamedAgain, ourStreams("source-outputs"));
    QVERIFY(answer >= 0 && answer < 100);
    QCOMPARE(devicesWithoutServer, 0);
    QCOMPARE(devicesAgain, 2);
    QVERIFY(restarted);
    QVERIFY(streamedAgain >= 150);
    QCOMPARE(ourStreams("source-outputs"), 1);
}

void TestSoundServerFaults::serverKilledWhilePlaying()
{
    ServerCore core;
    Child sender;
    QVERIFY(sender.start(KESTRUNE_PEER, {"send", "--to", "127.0.0.1", "--bind", phoneAddress,
                                         "--tone", "1000", "--seconds", "30"}));
    core.setSelectedOutputDevice("speakers");
    core.connectToAddress(phoneAddress);
    QVERIFY(core.isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(ourStreams("sink-inputs"), 1, 3000);

    killServer();
    QTest::qWait(1500); // datagrams keep arriving and are decoded for a dead output
    const qint64 answer = answerMs(core);
    const bool connectedWithoutServer = core.isRunning() && core.serverName() == phoneAddress;

    QVERIFY(startServer());
    core.stopServer();
    core.connectToAddress(phoneAddress);
    QElapsedTimer playing;
    playing.start();
    QTRY_COMPARE_WITH_TIMEOUT(ourStreams("sink-inputs"), 1, 3000);
    qInfo("sound server killed while playing: still connected %d, a property read in %lld ms; "
          "after its restart, stop and connect plays again after %lld ms",
          connectedWithoutServer, answer, playing.elapsed());
    QVERIFY(answer >= 0 && answer < 100);
    QVERIFY(core.isRunning());
    sender.terminate();
}

void TestSoundServerFaults::capturedDeviceUnloadedAndReloaded()
{
    int module = loadFlowingNullSink("vanishing", "Vanishing");
    QVERIFY(module >= 0);
    ServerCore core;
    Phone phone(phoneAddress);
    phone.send(ControlProtocol::hello("phone"));
    core.setSelectedDevice("vanishing");
    core.startServer();
    QVERIFY(core.isRunning());
    QVERIFY(streamedWithin(phone, 1000) >= 80);

    QVERIFY(unloadModule(module));
    QTest::qWait(500);
    const int streamedWithoutDevice = streamedWithin(phone, 1000);
    const bool runningWithoutDevice = core.isRunning();
    const qint64 answer = answerMs(core);

    module = loadFlowingNullSink("vanishing", "Vanishing");
    QVERIFY(module >= 0);
    const int streamedBackWithoutRestart = streamedWithin(phone, 1000);
    core.refreshDevices();
    core.stopServer();
    core.startServer();
    const int streamedAgain = streamedWithin(phone, 2000);
    qInfo("captured device unloaded: isRunning %d, %d datagrams in the next second, a property "
          "read in %lld ms; reloaded: %d datagrams in a second without a restart, %d in 2 s "
          "after stop and start",
          runningWithoutDevice, streamedWithoutDevice, answer, streamedBackWithoutRestart,
          streamedAgain);
    QVERIFY(answer >= 0 && answer < 100);
    QVERIFY(core.isRunning());
    QVERIFY(streamedAgain >= 150);
    core.stopServer();
    QVERIFY(unloadModule(module));
}

void TestSoundServerFaults::outputDeviceUnloadedAndReloaded()
{
    int module = loadFlowingNullSink("vanishing", "Vanishing");
    QVERIFY(module >= 0);
    ServerCore core;
    Child sender;
    QVERIFY(sender.start(KESTRUNE_PEER, {"send", "--to", "127.0.0.1", "--bind", phoneAddress,
                                         "--tone", "1000", "--seconds", "30"}));
    core.setSelectedOutputDevice("vanishing");
    core.connectToAddress(phoneAddress);
    QTRY_COMPARE_WITH_TIMEOUT(ourStreams("sink-inputs"), 1, 3000);

    QVERIFY(unloadModule(module));
    // The server ends the stream rather than moving it to another sink.
    QElapsedTimer ending;
    ending.start();
    QTRY_COMPARE_WITH_TIMEOUT(ourStreams("sink-inputs"), 0, 5000);
    const qint64 endedMs = ending.elapsed();
    QTest::qWait(1000);
    const int streamsWithoutDevice = ourStreams("sink-inputs");
    const qint64 answer = answerMs(core);
    const bool connectedWithoutDevice = core.isRunning();

    module = loadFlowingNullSink("vanishing", "Vanishing");
    QVERIFY(module >= 0);
    core.stopServer();
    core.connectToAddress(phoneAddress);
    QTRY_COMPARE_WITH_TIMEOUT(ourStreams("sink-inputs"), 1, 3000);
    qInfo("output device unloaded while playing: its stream ended after %lld ms and %d "
          "playback streams are left a second later (none moved elsewhere), still connected "
          "%d, a property read in %lld ms; reloaded: stop and connect plays into it again",
          endedMs, streamsWithoutDevice, connectedWithoutDevice, answer);
    QVERIFY(answer >= 0 && answer < 100);
    QCOMPARE(streamsWithoutDevice, 0);
    core.stopServer();
    sender.terminate();
    QVERIFY(unloadModule(module));
}

QTEST_GUILESS_MAIN(TestSoundServerFaults)
#include "tst_soundserverfaults.moc"
