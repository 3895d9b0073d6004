#include "audio/playout/jitterbuffer.h"

#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

// Runs at a low rate, mono, so that minutes of audio simulate in a fraction of a second.
constexpr int rate = 8000;
constexpr std::uint32_t period = rate / 100;        // the device plays 10 ms per wake
constexpr std::uint32_t deviceCapacity = rate / 10; // and holds up to 100 ms
constexpr std::int64_t ms = 1'000'000;
constexpr std::int16_t audio = 1000;     // every sample the sender sends
constexpr std::int16_t concealed = -777; // what stands in for a lost packet

// Packets that are plain 16-bit samples: what comes out shows exactly what went in.
class PcmDecoder final : public PacketDecoder
{
public:
    int packetFrames(const unsigned char *, std::size_t length) const override
    {
        return int(length / 2);
    }
    int decode(const unsigned char *packet, std::size_t length, std::int16_t *pcm,
               int capacity) override
    {
        const int frames = std::min(int(length / 2), capacity);
        std::memcpy(pcm, packet, std::size_t(frames) * 2);
        return frames;
    }
    int conceal(std::int16_t *pcm, int frames) override
    {
        std::fill(pcm, pcm + frames, concealed);
        return frames;
    }
};

// A sender, a network and a device, each on its own clock, around one jitter buffer: the
// device wakes every 10 ms of real time and plays a period; the sender sends a 10 ms packet
// every 10 ms of its own clock, which runs `senderRate` times as fast.
struct Simulation
{
    explicit Simulation(double senderRate) : senderRate(senderRate) {}

    // Runs until `seconds` of real time have passed; every sample the device plays after
    // the start is checked.
    void run(double seconds)
    {
        const auto end = std::int64_t(seconds * 1e9);
        while (true) {
            const std::int64_t sendAt = std::int64_t(double(sent) * 10 * ms / senderRate);
            const std::int64_t arriveAt = sendAt + transitNs;
            if (arriveAt <= nextWake) {
                if (arriveAt > end)
                    return;
                buffer.push(std::uint32_t(sent++), packet.data(), packet.size(), arriveAt);
                continue;
            }
            if (nextWake > end)
                return;
            wake(nextWake);
            nextWake += 10 * ms;
        }
    }

    void wake(std::int64_t now)
    {
        if (started)
            starved += deviceFrames < period ? period - deviceFrames : 0;
        deviceFrames -= std::min(deviceFrames, period);
        const std::uint32_t written =
            buffer.render(out.data(), deviceFrames, deviceCapacity - deviceFrames, now);
        deviceFrames += written;
        for (std::uint32_t i = 0; i < written; ++i) {
            started = started || out[i] != 0;
            if (started && out[i] != audio)
                ++wrongSamples;
        }
        const JitterBuffer::Stats stats = buffer.stats();
        if (stats.playing && now > 1000 * ms)
            worstErrorMs = std::max(worstErrorMs, std::abs(stats.delayErrorMs));
        const double level = double(deviceFrames) * 1000 / rate;
        maxDeviceMs = std::max(maxDeviceMs, level);
    }

    const double senderRate;
    const std::int64_t transitNs = 1 * ms;
    JitterBuffer buffer{JitterBuffer::Format{rate, 1, period, deviceCapacity},
                        std::make_unique<PcmDecoder>(), 0};
    std::vector<unsigned char> packet = [] {
        std::vector<unsigned char> bytes(period * 2);
        for (std::size_t i = 0; i < period; ++i)
            std::memcpy(&bytes[2 * i], &audio, 2);
        return bytes;
    }();
    std::vector<std::int16_t> out = std::vector<std::int16_t>(deviceCapacity);
    std::int64_t sent = 0;
    std::int64_t nextWake = 5 * ms;
    std::uint32_t deviceFrames = 0;
    bool started = false;
    std::uint64_t wrongSamples = 0; // silence or concealment after the start
    std::uint64_t starved = 0;      // frames the device lacked
    double worstErrorMs = 0;
    double maxDeviceMs = 0;
};

} // namespace

class TestJitterBuffer : public QObject
{
    Q_OBJECT

private slots:
    void driftingSenderPlaysTenMinutesWithoutADrop_data();
    void driftingSenderPlaysTenMinutesWithoutADrop();
    void aSenderFarTooFastIsBoundedByDroppingTheOldest();
};

void TestJitterBuffer::driftingSenderPlaysTenMinutesWithoutADrop_data()
{
    QTest::addColumn<double>("senderRate");
    QTest::newRow("0.1 % fast") << 1.001;
    QTest::newRow("0.1 % slow") << 0.999;
}

void TestJitterBuffer::driftingSenderPlaysTenMinutesWithoutADrop()
{
    QFETCH(double, senderRate);
    Simulation simulation(senderRate);
    simulation.run(600);
    const JitterBuffer::Stats stats = simulation.buffer.stats();
    qInfo("sender %+.1f %%: worst delay error %.2f ms after the first second, step %.5f, "
          "target %.1f ms, latency %d ms",
          (senderRate - 1) * 100, simulation.worstErrorMs, stats.step, stats.targetMs,
          stats.latencyMs);
    QVERIFY(simulation.started);
    QCOMPARE(simulation.wrongSamples, std::uint64_t(0));
    QCOMPARE(simulation.starved, std::uint64_t(0));
    QCOMPARE(stats.underruns, std::uint64_t(0));
    QCOMPARE(stats.concealed, std::uint64_t(0));
    QCOMPARE(stats.overflowDrops, std::uint64_t(0));
    QVERIFY2(simulation.worstErrorMs <= 5, qPrintable(QString::number(simulation.worstErrorMs)));
    // The pace has settled on the clocks' difference.
    QVERIFY2(std::abs(stats.step - senderRate) < 0.0002, qPrintable(QString::number(stats.step)));
    // The target stays at its floor: the drift is not taken for lateness.
    QVERIFY2(stats.targetMs < PlayoutTarget::minMs + 1,
             qPrintable(QString::number(stats.targetMs)));
    // A packet waits the target from its arrival to being heard, less the few milliseconds
    // by which a drifting clock moves the transits over the lateness history.
    QVERIFY2(stats.latencyMs <= stats.targetMs && stats.latencyMs >= stats.targetMs - 5,
             qPrintable(QString::number(stats.latencyMs)));
}

void TestJitterBuffer::aSenderFarTooFastIsBoundedByDroppingTheOldest()
{
    // 1 % fast is beyond what the pace may follow: the queue grows by 5 ms a second until
    // the bound sends it back to the target.
    Simulation simulation(1.01);
    simulation.run(60);
    const JitterBuffer::Stats stats = simulation.buffer.stats();
    QVERIFY(stats.overflowDrops > 0);
    QCOMPARE(stats.underruns, std::uint64_t(0));
    QCOMPARE(simulation.starved, std::uint64_t(0));
    QVERIFY2(stats.latencyMs <= JitterBuffer::maxQueueMs,
             qPrintable(QString::number(stats.latencyMs)));
    QCOMPARE(stats.step, 1 + DriftController::maxDeviation);
}

QTEST_GUILESS_MAIN(TestJitterBuffer)
#include "tst_jitterbuffer.moc"
