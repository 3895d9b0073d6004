// Days in the tray with phones coming and going: eight peers join, leave, fall silent and
// expire, change the bitrate, toggle the mute and have their volume set, at random, while
// the core streams. Nothing may crash or wedge, the device table must end up as the peers
// left it, every peer that is there must get the stream, and memory must stay flat.
// KESTRUNE_SOAK_SECONDS sets the length: 120 by default, 1800 for a run by hand.
#include "core/servercore.h"
#include "support/instrumentation.h"
#include "processmemory.h"
#include "speakersfixture.h"
#include "soakpeer.h"
#include "support/netns.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int peerCount = 8;
constexpr int warmUpMs = 10000;

QSet<QString> connectedAddresses(const ServerCore &core)
{
    QSet<QString> addresses;
    for (const QVariant &device : core.connectedDevices())
        addresses.insert(device.toMap().value("ip").toString());
    return addresses;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void peersComeAndGoAtRandom();

private:
    SpeakersFixture speakers;
};

void TestSoak::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    QVERIFY2(speakers.take(), "the private PulseAudio does not answer");
}

void TestSoak::cleanupTestCase()
{
    speakers.restore();
}

void TestSoak::peersComeAndGoAtRandom()
{
    const int seconds = qEnvironmentVariableIsSet("KESTRUNE_SOAK_SECONDS")
                            ? qEnvironmentVariableIntValue("KESTRUNE_SOAK_SECONDS")
                            : 120;
    ServerCore core;
    core.setSelectedDevice("speakers");
    core.startServer();
    QVERIFY(core.isRunning());
    std::vector<std::unique_ptr<SoakPeer>> peers;
    for (int i = 0; i < peerCount; ++i) {
        peers.push_back(std::make_unique<SoakPeer>(QStringLiteral("127.0.0.%1").arg(10 + i)));
        QVERIFY(peers.back()->bound());
    }

    std::mt19937 random(20261209);
    const auto below = [&random](int n) { return int(random() % unsigned(n)); };
    QMap<QString, int> actions;
    const auto act = [&] {
        SoakPeer &peer = *peers[std::size_t(below(peerCount))];
        const int roll = below(100);
        if (roll < 25) {
            peer.join();
            ++actions["join"];
        } else if (roll < 35) {
            peer.leave();
            ++actions["leave"];
        } else if (roll < 45) {
            peer.fallSilent();
            ++actions["fall silent"];
        } else if (roll < 75) {
            // Mostly bitrates the encoder takes, now and then one the parser must refuse.
            const QByteArray kbps =
                below(10) ? QByteArray::number(6 + below(505)) : QByteArray("-1");
            peer.send("Kestrune-Cmd|Quality|" + kbps);
            ++actions["quality"];
        } else if (roll < 78) {
            peer.send("Kestrune-Cmd|Mute");
            ++actions["mute"];
        } else if (roll < 90) {
            core.setDeviceVolume(peer.address, below(101));
            ++actions["volume"];
        }
    };

    qint64 residentAfterWarmUp = -1;
    qint64 residentLowest = 0;
    qint64 residentHighest = 0;
    const auto sample = [&] {
        const qint64 resident = ProcessMemory::residentBytes();
        if (residentAfterWarmUp < 0) {
            residentAfterWarmUp = residentLowest = residentHighest = resident;
            return;
        }
        residentLowest = std::min(residentLowest, resident);
        residentHighest = std::max(residentHighest, resident);
    };

    QEventLoop loop;
    QTimer actor;
    QObject::connect(&actor, &QTimer::timeout, &loop, act);
    actor.start(100);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &loop, sample);
    QTimer::singleShot(std::min(warmUpMs, seconds * 1000 / 5), &loop, [&] {
        sample();
        sampler.start(5000);
    });
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    actor.stop();
    sampler.stop();
    sample();
    QVERIFY(core.isRunning());

    // Half the peers stay, two leave, two fall silent and must be expired.
    QSet<QString> staying;
    for (int i = 0; i < peerCount; ++i) {
        SoakPeer &peer = *peers[std::size_t(i)];
        if (i < peerCount / 2) {
            peer.join();
            staying.insert(peer.address);
        } else if (i < peerCount * 3 / 4) {
            peer.leave();
        } else {
            peer.fallSilent();
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(connectedAddresses(core), staying, 12000);
    std::vector<qint64> before;
    for (const auto &peer : peers)
        before.push_back(peer->datagrams());
    QTest::qWait(1000);
    QStringList lastSecond;
    for (std::size_t i = 0; i < peers.size(); ++i)
        lastSecond << QString::number(peers[i]->datagrams() - before[i]);

    QStringList done;
    for (auto action = actions.cbegin(); action != actions.cend(); ++action)
        done << QStringLiteral("%1 %2").arg(action.value()).arg(action.key());
    qint64 total = 0;
    for (const auto &peer : peers)
        total += peer->datagrams();
    qInfo("soak of %d s: %s; %lld audio datagrams received; resident memory after warm-up "
          "%.1f MB, lowest %.1f MB, highest %.1f MB, at the end %.1f MB; datagrams per peer "
          "in the last second: %s",
          seconds, qPrintable(done.join(", ")), total, residentAfterWarmUp / 1e6,
          residentLowest / 1e6, residentHighest / 1e6, ProcessMemory::residentBytes() / 1e6,
          qPrintable(lastSecond.join(' ')));
    // Under valgrind the capture thread cannot keep real time; the stream still has to flow.
    const int leastPerSecond = Instrumentation::underValgrind() ? 1 : 80;
    for (std::size_t i = 0; i < peers.size(); ++i) {
        const qint64 got = lastSecond[int(i)].toLongLong();
        if (staying.contains(peers[i]->address))
            QVERIFY2(got >= leastPerSecond, qPrintable(peers[i]->address));
        else
            QVERIFY2(got == 0, qPrintable(peers[i]->address));
    }
    if (Instrumentation::residentSetTracksTheProgram())
        QVERIFY(residentHighest - residentAfterWarmUp < 5 * 1000 * 1000);
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
