// A sound server that has stopped answering (stopped with SIGSTOP, as a hung daemon would
// be) while ten thousand Mutes arrive: the Mutes wait for it on a thread of their own and the
// window's event loop answers as always. Once the server answers again, Mutes work again.
// The test runs a private PulseAudio of its own, so that it can stop it.
#include "audio/platform/audioplatform.h"
#include "audio/platform/pulse/pulsecontext.h"
#include "core/corepeers.h"
#include "core/discovery.h"
#include "core/servercore.h"
#include "e2esupport.h"
#include "floodsender.h"
#include "support/instrumentation.h"
#include "limitcounts.h"
#include "responsivenessprobe.h"
#include "support/netns.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace E2e;

class TestHostileSoundServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void muteFloodWhileTheSoundServerIsStopped();

private:
    void signalServer(int signal);

    QTemporaryDir directory;
    const QString script = QStringLiteral(KESTRUNE_PRIVATE_PULSE_SCRIPT);
    bool stopped = false;
};

void TestHostileSoundServer::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    QVERIFY(directory.isValid());
    qputenv("PULSE_SERVER", QFile::encodeName("unix:" + directory.filePath("native")));
    qputenv("PULSE_CLIENTCONFIG", QFile::encodeName(directory.filePath("client.conf")));
    QCOMPARE(QProcess::execute(script, {"start", directory.path()}), 0);
    AudioPlatform::install(createSystemAudioPlatform());
}

void TestHostileSoundServer::cleanupTestCase()
{
    if (stopped)
        signalServer(SIGCONT);
    QProcess::execute(script, {"stop", directory.path()});
}

void TestHostileSoundServer::signalServer(int signal)
{
    QFile pidFile(directory.filePath("pid"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const qint64 pid = pidFile.readAll().trimmed().toLongLong();
    QVERIFY(pid > 0);
    // Should this test hang and be killed, the server still goes on after a while: a
    // stopped daemon would never end.
    if (signal == SIGSTOP) {
        QProcess guard;
        guard.setProgram("sh");
        guard.setArguments({"-c", QStringLiteral("sleep 10; kill -CONT %1").arg(pid)});
        // Nothing of it holds the test's output open, which the test runner waits for.
        guard.setStandardOutputFile(QProcess::nullDevice());
        guard.setStandardErrorFile(QProcess::nullDevice());
        QVERIFY(guard.startDetached());
    }
    QCOMPARE(::kill(pid_t(pid), signal), 0);
    stopped = signal == SIGSTOP;
}

void TestHostileSoundServer::muteFloodWhileTheSoundServerIsStopped()
{
    ServerCore core;
    QSignalSpy admitted(core.findChild<Discovery *>(), &Discovery::muteRequested);
    const bool mutedAtFirst = sinkMuted("speakers");
    // Once the sound server says it listens for device changes, the core reads its device
    // lists again, on this thread: that is over before the server stops.
    QTest::qWait(1000);
    signalServer(SIGSTOP);

    FloodSender flood({8081}, 10000, 1000, 100, FloodSender::repeated("Kestrune-Cmd|Mute"));
    qint64 floodTookMs = -1;
    qint64 slowestMs = 0;
    qint64 medianUs = 0;
    qint64 longestTickMs = 0;
    {
        ResponsivenessProbe probe(core);
        floodTookMs = flood.sendWhileTheEventLoopRuns();
        slowestMs = probe.slowestMs;
        medianUs = probe.medianUs();
        longestTickMs = probe.longestTickMs;
    }
    signalServer(SIGCONT);
    qInfo("10000 Mutes with the sound server stopped: %lld sent in %lld ms, %d admitted (%s); "
          "property reads waited %lld us (median) to %lld ms (slowest), longest wait for a "
          "20 ms timer %lld ms",
          flood.sent(), floodTookMs, int(admitted.count()),
          qPrintable(limitCounts(core.findChild<Discovery *>()->rateLimits())), medianUs, slowestMs,
          longestTickMs);
    QVERIFY(floodTookMs >= 0);
    QVERIFY(flood.sent() >= 9900);
    const int slowdown = Instrumentation::sanitized() ? 4 : 1;
    QVERIFY2(slowestMs <= 100 * slowdown, qPrintable(QString::number(slowestMs)));

    // The toggle that waited for the stopped server gives up or goes through once it
    // answers again; what waited behind it follows at once.
    QTest::qWait(PulseContext::replyTimeoutMs + 1000);
    const bool settled = sinkMuted("speakers");
    Phone phone("127.0.0.2");
    phone.send("Kestrune-Cmd|Mute");
    QTRY_COMPARE_WITH_TIMEOUT(sinkMuted("speakers"), !settled, 5000);
    phone.send("Kestrune-Cmd|Mute");
    QTRY_COMPARE_WITH_TIMEOUT(sinkMuted("speakers"), settled, 5000);
    pactl({"set-sink-mute", "speakers", mutedAtFirst ? "1" : "0"});
}

QTEST_GUILESS_MAIN(TestHostileSoundServer)
#include "tst_hostile_soundserver.moc"
