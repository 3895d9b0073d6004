// The program's ports are open to the whole network, with no authentication. A flood of
// random and malformed datagrams on all three, from hundreds of spoofed senders, must not
// stall the window or its timers, starve the phones that are listening, grow memory, fill
// the log, get more Mutes, bitrate changes or new devices through than their limits allow,
// or let the device table (and with it the stream's destinations) grow without bound.
#include "app/loghandler.h"
#include "core/discovery.h"
#include "core/servercore.h"
#include "e2esupport.h"
#include "floodsender.h"
#include "support/instrumentation.h"
#include "limitcounts.h"
#include "presencelistener.h"
#include "processmemory.h"
#include "responsivenessprobe.h"
#include "speakersfixture.h"
#include "support/netns.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <algorithm>

using namespace E2e;

namespace {

constexpr int datagramsPerPort = 100000;
constexpr int floodMs = 10000;
constexpr int spoofedSenders = 512; // far more than may enter the device table meanwhile
// The time bounds are the program's; a sanitizer slows every thread of it several times, so
// there only a stall well beyond them counts.
const int slowdown = Instrumentation::sanitized() ? 4 : 1;
// A sanitized program reads a fraction of what it reads as shipped, so the same flood would
// make the kernel drop most of the phones' hellos too, and they would expire: a flood as
// heavy for it is one slowed down as much.
const int floodedPerPort = datagramsPerPort / slowdown;

// What a token bucket can have let through in `ms`: its burst, and its rate since.
qint64 bucketBound(int burst, int count, int periodMs, qint64 ms)
{
    return burst + count * ms / periodMs;
}

bool listsAddress(const QVariantList &devices, const QString &address)
{
    for (const QVariant &device : devices) {
        if (device.toMap().value("ip").toString() == address)
            return true;
    }
    return false;
}

} // namespace

class TestFlood : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void floodLeavesTheCoreResponsiveAndTheStreamWhole();

private:
    SpeakersFixture speakers;
};

void TestFlood::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    QVERIFY2(speakers.take(), "the private PulseAudio does not answer");
}

void TestFlood::cleanupTestCase()
{
    speakers.restore();
}

void TestFlood::floodLeavesTheCoreResponsiveAndTheStreamWhole()
{
    // A test subnet on an interface (an empty bridge) of this namespace only, so that the
    // presence broadcasts have somewhere to go and can be heard.
    const auto ip = [](const QStringList &arguments) {
        return QProcess::execute("ip", arguments) == 0;
    };
    QVERIFY(ip({"link", "add", "kt0", "type", "bridge"}) &&
            ip({"addr", "add", "10.213.0.1/24", "dev", "kt0"}) && ip({"link", "set", "kt0", "up"}));
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    PresenceListener presence("10.213.0.255");
    QVERIFY(presence.listening());

    ServerCore core;
    core.setSelectedDevice("speakers");
    core.startServer();
    QVERIFY(core.isRunning());
    const Discovery &discovery = *core.findChild<Discovery *>();
    QSignalSpy mutes(&discovery, &Discovery::muteRequested);
    QSignalSpy bitrates(&discovery, &Discovery::bitrateRequested);

    const QStringList peerAddresses{"127.0.0.2", "127.0.0.3"};
    // Long enough to outlast the flood however slowly the phones start (a sanitizer build on
    // a busy machine): a phone that ends sends a Disconnect and leaves the table.
    const double peerSeconds = (1000 + floodMs + 6000) / 1000.0;
    Child peers[2];
    for (int i = 0; i < 2; ++i) {
        QVERIFY(
            peers[i].start(KESTRUNE_PEER, {"listen", "--bind", peerAddresses[i], "--server",
                                           "127.0.0.1", "--name", QStringLiteral("phone-%1").arg(i),
                                           "--seconds", QString::number(peerSeconds)}));
    }
    QTRY_COMPARE_WITH_TIMEOUT(core.connectedDevices().size(), 2, 5000);
    QTest::qWait(1000); // the stream flows to both before the flood starts
    const qint64 residentBefore = ProcessMemory::residentBytes();

    // A phone that says hello once, as the flood starts, and then falls silent: the expiry
    // sweep, every 2000 ms, removes it between 6000 and 8000 ms later.
    QUdpSocket silent;
    silent.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(silent.bind(QHostAddress("127.0.0.4")));
    QElapsedTimer silence;
    qint64 silentGoneMs = -1;
    QObject::connect(&core, &ServerCore::connectedDevicesChanged, &core, [&] {
        if (silentGoneMs < 0 && silence.isValid() &&
            !listsAddress(core.connectedDevices(), "127.0.0.4"))
            silentGoneMs = silence.elapsed();
    });
    silent.writeDatagram("Kestrune-Hello|silent", QHostAddress(QHostAddress::LocalHost), 8081);
    QTRY_VERIFY(listsAddress(core.connectedDevices(), "127.0.0.4"));
    silence.start();
    mutes.clear();
    bitrates.clear();

    // The program's own log handler, with a data location of its own, for the flood's
    // duration.
    QTemporaryDir dataDirectory;
    QVERIFY(dataDirectory.isValid());
    const QByteArray previousData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataDirectory.path()));
    const QtMessageHandler previousHandler = installLogHandler();

    FloodSender flood({8080, 8081, 8082}, floodedPerPort, floodMs, spoofedSenders,
                      FloodSender::hostileMix(20261209));
    {
        ResponsivenessProbe probe(core);
        const qint64 floodTookMs = flood.sendWhileTheEventLoopRuns();
        qInstallMessageHandler(previousHandler);
        qputenv("XDG_DATA_HOME", previousData);
        QVERIFY(floodTookMs >= 0);

        const QFileInfo log(dataDirectory.filePath("tst_flood/Logs/debug.log"));
        const qint64 logBytes = log.exists() ? log.size() : 0;
        const qint64 residentAfter = ProcessMemory::residentBytes();
        const std::vector<qint64> intervals = presence.intervalsMs();
        const auto [shortest, longest] = std::minmax_element(intervals.begin(), intervals.end());
        qInfo("flood: %lld datagrams in %lld ms; property reads waited %lld us (median) to "
              "%lld ms (slowest of %d), longest wait for a 20 ms timer %lld ms; presence every "
              "%lld to %lld ms (%d intervals); a silent phone gone after %lld ms; admitted %d "
              "Mutes, %d bitrate changes; largest device table %d; resident memory %+.1f MB; "
              "log %+lld bytes",
              flood.sent(), floodTookMs, probe.medianUs(), probe.slowestMs, probe.answers,
              probe.longestTickMs, intervals.empty() ? -1 : *shortest,
              intervals.empty() ? -1 : *longest, int(intervals.size()), silentGoneMs,
              int(mutes.count()), int(bitrates.count()), probe.largestTable,
              (residentAfter - residentBefore) / 1e6, logBytes);
        qInfo("limits admitted/dropped since the core started: %s",
              qPrintable(limitCounts(discovery.rateLimits())));
        QVERIFY(flood.sent() >= 0.99 * 3 * floodedPerPort);
        QVERIFY2(floodTookMs < floodMs + 2000, "the flood could not be sent in time");
        QVERIFY(probe.answers >= 10);
        QVERIFY(probe.slowestMs <= 100 * slowdown);
        // The timers keep their time: the presence broadcast its 2000 ms cadence, the sweep
        // its turn.
        QVERIFY(intervals.size() >= std::size_t(floodMs / 2000 - 1));
        QVERIFY2(*shortest >= 2000 - 150 * slowdown && *longest <= 2000 + 150 * slowdown,
                 "the presence broadcast lost its cadence");
        QVERIFY2(silentGoneMs > 6000 && silentGoneMs <= 8000 + 150 * slowdown,
                 "the expiry sweep came late");
        // Every limit held: its burst, and its rate since.
        const qint64 floodingMs = floodTookMs + 300;
        QVERIFY(mutes.count() <= bucketBound(5, 5, 1000, floodingMs));
        QVERIFY(bitrates.count() <= bucketBound(4, 4, 1000, floodingMs));
        QVERIFY(probe.largestTable <= 3 + bucketBound(16, 16, 10000, floodingMs));
        if (Instrumentation::residentSetTracksTheProgram())
            QVERIFY(residentAfter - residentBefore < 10 * 1000 * 1000);
        QCOMPARE(logBytes, 0);
    }
    // The phones registered before the flood are still there, and were served throughout.
    const QVariantList devices = core.connectedDevices();
    QVERIFY(listsAddress(devices, peerAddresses[0]) && listsAddress(devices, peerAddresses[1]));
    QVERIFY(core.isRunning());
    for (Child &peer : peers) {
        QVERIFY(peer.finish(15000));
        const QMap<QString, QString> summary = fields(peer.waitForLine("summary:", 0));
        qInfo() << "peer:" << peer.lines.last();
        QVERIFY(summary.value("datagrams").toInt() >= 100 * (floodMs / 1000));
        QVERIFY(summary.value("longestpause").remove("ms").toDouble() <= 50 * slowdown);
        QCOMPARE(summary.value("malformed"), "0");
    }
}

QTEST_GUILESS_MAIN(TestFlood)
#include "tst_flood.moc"
