#include "support/playoutsimulation.h"

#include <QTest>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>

// The thread sanitizer's runtime defines the global allocation operators itself, so they
// cannot be replaced there and the allocation count is left to the other builds.
#if defined(__SANITIZE_THREAD__)
#define KESTRUNE_OWNS_NO_OPERATOR_NEW
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESTRUNE_OWNS_NO_OPERATOR_NEW
#endif
#endif

// Counts the allocations made by this thread while `counting` is set.
static thread_local bool counting = false;
static std::atomic<int> allocations{0};

#ifndef KESTRUNE_OWNS_NO_OPERATOR_NEW
void *operator new(std::size_t size)
{
    if (counting)
        ++allocations;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
#endif

namespace {

// Runs at a low rate, mono, so that minutes of audio simulate in a fraction of a second.
constexpr int rate = 4000;
constexpr std::int64_t ms = 1'000'000;
constexpr std::int16_t audio = 1000;     // every sample the phone sends
constexpr std::int16_t concealed = -777; // what stands in for a lost packet
// The target of packets on time and wakes on time: the device's deadline (a period and a
// quarter), a period above it and the margin.
constexpr double onTimeTargetMs = 22.5 + JitterBuffer::trackingMarginMs;

struct Outcome
{
    std::uint64_t wrongSamples = 0; // silence or concealment once playing has started
    double worstErrorMs = 0;        // of the playout delay against its target, after 1 s
    JitterBuffer::Stats stats;
    std::uint64_t starved = 0;
};

// A phone sending the same sample throughout, with its clock at this rate.
PlayoutSimulation::Setup steadyPhone(double phoneClockRate = 1.0)
{
    PlayoutSimulation::Setup setup;
    setup.sampleRate = rate;
    setup.channels = 1;
    setup.pattern = SendPattern{phoneClockRate, 0, 0, 1};
    setup.transitNs = ms;
    setup.concealed = concealed;
    setup.sample = [](std::int64_t) { return audio; };
    return setup;
}

Outcome simulate(const PlayoutSimulation::Setup &setup, double seconds)
{
    PlayoutSimulation simulation(setup);
    Outcome outcome;
    bool started = false;
    simulation.run(
        seconds, [&](const std::int16_t *samples, std::uint32_t frames, std::int64_t now) {
            for (std::uint32_t i = 0; i < frames; ++i) {
                started = started || samples[i] != 0;
                outcome.wrongSamples += started && samples[i] != audio;
            }
            const JitterBuffer::Stats stats = simulation.buffer().stats();
            if (stats.playing && now > 1000 * ms)
                outcome.worstErrorMs = std::max(outcome.worstErrorMs, std::abs(stats.delayErrorMs));
        });
    outcome.stats = simulation.buffer().stats();
    outcome.starved = simulation.starvedFrames();
    return outcome;
}

} // namespace

// The jitter buffer's control loops over minutes of a simulated phone and device.
class TestJitterBuffer : public QObject
{
    Q_OBJECT

private slots:
    void driftingSenderPlaysTenMinutesWithoutADrop_data();
    void driftingSenderPlaysTenMinutesWithoutADrop();
    void aSenderFarTooFastIsBoundedByDroppingTheOldest();
    void lateWakesOfABusyMachineRaiseTheTarget();
    void aDeviceThatPausesLeavesTheTargetAlone();
    void aSoundServerCycleLongerThanThePeriodIsLearnt();
    void packetsThatPiledUpBeforeTheFirstStartAreNotPlayedLate_data();
    void packetsThatPiledUpBeforeTheFirstStartAreNotPlayedLate();
    void nothingIsAllocatedOncePlaying();
};

void TestJitterBuffer::driftingSenderPlaysTenMinutesWithoutADrop_data()
{
    QTest::addColumn<double>("phoneClockRate");
    QTest::newRow("0.1 % fast") << 1.001;
    QTest::newRow("0.1 % slow") << 0.999;
}

void TestJitterBuffer::driftingSenderPlaysTenMinutesWithoutADrop()
{
    QFETCH(double, phoneClockRate);
    const Outcome outcome = simulate(steadyPhone(phoneClockRate), 600);
    const JitterBuffer::Stats &stats = outcome.stats;
    qInfo("phone %+.1f %%: worst delay error %.2f ms after the first second, step %.5f, "
          "target %.1f ms, latency %d ms",
          (phoneClockRate - 1) * 100, outcome.worstErrorMs, stats.step, stats.targetMs,
          stats.latencyMs);
    QVERIFY(stats.playing);
    QCOMPARE(outcome.wrongSamples, std::uint64_t(0));
    QCOMPARE(outcome.starved, std::uint64_t(0));
    QCOMPARE(stats.underruns, std::uint64_t(0));
    QCOMPARE(stats.concealed, std::uint64_t(0));
    QCOMPARE(stats.overflowDrops, std::uint64_t(0));
    QVERIFY2(outcome.worstErrorMs <= 5, qPrintable(QString::number(outcome.worstErrorMs)));
    // The pace has settled on the clocks' difference.
    QVERIFY2(std::abs(stats.step - phoneClockRate) < 0.0002,
             qPrintable(QString::number(stats.step)));
    // The target stays where packets on time put it, but for the few milliseconds by which
    // a drifting clock moves the transits over the lateness history: the drift is not taken
    // for lateness.
    QVERIFY2(stats.targetMs < onTimeTargetMs + 5, qPrintable(QString::number(stats.targetMs)));
    // A packet waits the target from its arrival to being heard, within the pace's dead band
    // and less those few milliseconds.
    const double deadBandMs = DriftController::deadBandSeconds * 1000;
    QVERIFY2(stats.latencyMs <= stats.targetMs + deadBandMs &&
                 stats.latencyMs >= stats.targetMs - 5,
             qPrintable(QString::number(stats.latencyMs)));
}

void TestJitterBuffer::aSenderFarTooFastIsBoundedByDroppingTheOldest()
{
    // 1 % fast is beyond what the pace may follow: the queue grows by 5 ms a second until
    // the bound sends it back to the target.
    const Outcome outcome = simulate(steadyPhone(1.01), 60);
    const JitterBuffer::Stats &stats = outcome.stats;
    QVERIFY(stats.overflowDrops > 0);
    QCOMPARE(stats.underruns, std::uint64_t(0));
    QCOMPARE(outcome.starved, std::uint64_t(0));
    QVERIFY2(stats.latencyMs <= JitterBuffer::maxQueueMs,
             qPrintable(QString::number(stats.latencyMs)));
    QCOMPARE(stats.step, 1 + DriftController::maxDeviation);
}

void TestJitterBuffer::lateWakesOfABusyMachineRaiseTheTarget()
{
    // Every fiftieth request of the device is answered 15 ms late.
    PlayoutSimulation::Setup setup = steadyPhone();
    setup.wakeDelayNs = [](std::int64_t request) { return request % 50 == 49 ? 15 * ms : 0; };
    const Outcome outcome = simulate(setup, 20);
    QCOMPARE(outcome.wrongSamples, std::uint64_t(0));
    QCOMPARE(outcome.starved, std::uint64_t(0));
    QCOMPARE(outcome.stats.underruns, std::uint64_t(0));
    // The target keeps the wakes' lateness on top of what wakes on time need.
    QVERIFY2(outcome.stats.targetMs >= onTimeTargetMs + 15,
             qPrintable(QString::number(outcome.stats.targetMs)));
}

void TestJitterBuffer::aDeviceThatPausesLeavesTheTargetAlone()
{
    // A sound server stops its device for 30 ms before every fiftieth request: the render
    // thread is woken late, but the device played nothing meanwhile and needed nothing more.
    PlayoutSimulation::Setup setup = steadyPhone();
    setup.devicePauseNs = [](std::int64_t request) { return request % 50 == 49 ? 30 * ms : 0; };
    const Outcome outcome = simulate(setup, 20);
    QCOMPARE(outcome.wrongSamples, std::uint64_t(0));
    QCOMPARE(outcome.starved, std::uint64_t(0));
    QCOMPARE(outcome.stats.underruns, std::uint64_t(0));
    QVERIFY2(outcome.stats.targetMs < onTimeTargetMs + 1,
             qPrintable(QString::number(outcome.stats.targetMs)));
}

void TestJitterBuffer::aSoundServerCycleLongerThanThePeriodIsLearnt()
{
    // The device names a 10 ms period but takes 1024 frames at 48 kHz every 21.3 ms, and
    // starts only once it holds as much; packets come up to 10 ms late, and once the
    // network stalls for 300 ms.
    PlayoutSimulation::Setup setup = steadyPhone();
    setup.deviceCycleNs = 1024 * 1'000'000'000LL / 48000;
    setup.deviceStartFrames = 1024 * rate / 48000;
    setup.pattern.maxLatenessMs = 10;
    setup.heldFromNs = 10'000 * ms;
    setup.heldUntilNs = 10'300 * ms;
    const Outcome outcome = simulate(setup, 20);
    QVERIFY(outcome.stats.playing);
    // The stall is one gap, and the zeros that fill it keep the device going from one
    // cycle to the next.
    QCOMPARE(outcome.stats.underruns, std::uint64_t(1));
    QCOMPARE(outcome.starved, std::uint64_t(0));
    // What the log says of it: the packet was later than any before, the device kept its cycle.
    const JitterBuffer::Stats::Underrun &dry = outcome.stats.lastUnderrun;
    QVERIFY2(dry.overdueMs > 10, qPrintable(QString::number(dry.overdueMs)));
    QVERIFY2(std::abs(dry.tookMs - setup.deviceCycleNs / 1e6) < 1,
             qPrintable(QString::number(dry.tookMs)));
}

void TestJitterBuffer::packetsThatPiledUpBeforeTheFirstStartAreNotPlayedLate_data()
{
    QTest::addColumn<std::int64_t>("firstRequestNs");
    QTest::addColumn<std::int64_t>("heldUntilNs");
    // Packets queue on time while the sound server takes 60 ms to ask for data.
    QTest::newRow("device asks late") << 60 * ms << std::int64_t(0);
    // The receiving thread opens the device for 80 ms; the packets that came meanwhile are
    // all pushed at once, looking up to 80 ms late.
    QTest::newRow("receiver busy") << 5 * ms << 80 * ms;
}

void TestJitterBuffer::packetsThatPiledUpBeforeTheFirstStartAreNotPlayedLate()
{
    QFETCH(std::int64_t, firstRequestNs);
    QFETCH(std::int64_t, heldUntilNs);
    PlayoutSimulation::Setup setup = steadyPhone();
    setup.firstRequestNs = firstRequestNs;
    setup.heldUntilNs = heldUntilNs;
    const Outcome outcome = simulate(setup, 20);
    QCOMPARE(outcome.wrongSamples, std::uint64_t(0));
    QCOMPARE(outcome.stats.underruns, std::uint64_t(0));
    QVERIFY(outcome.stats.startDrops > 0);
    // Playing started at the target, rather than above it for the seconds the pace would
    // take to play the surplus down...
    QVERIFY2(outcome.worstErrorMs <= 5, qPrintable(QString::number(outcome.worstErrorMs)));
    // ...and the target is where packets on time put it.
    QVERIFY2(outcome.stats.targetMs < onTimeTargetMs + 1,
             qPrintable(QString::number(outcome.stats.targetMs)));
}

void TestJitterBuffer::nothingIsAllocatedOncePlaying()
{
#ifdef KESTRUNE_OWNS_NO_OPERATOR_NEW
    QSKIP("the sanitizer's runtime owns operator new");
#endif
    // Late, drifting packets, late wakes: the pace adapts, the target moves, packets wait
    // and are taken; neither the pushes nor the render thread's work allocate.
    PlayoutSimulation::Setup setup = steadyPhone(1.001);
    setup.channels = 2;
    setup.pattern.maxLatenessMs = 20;
    setup.sample = [](std::int64_t frame) { return std::int16_t(frame % 3000); };
    setup.wakeDelayNs = [](std::int64_t request) { return request % 30 * ms / 3; };
    PlayoutSimulation simulation(setup);
    allocations = 0;
    counting = true;
    simulation.run(30, [](const std::int16_t *, std::uint32_t, std::int64_t) {});
    counting = false;
    QVERIFY(simulation.buffer().stats().playing);
    QCOMPARE(allocations.load(), 0);
}

QTEST_GUILESS_MAIN(TestJitterBuffer)
#include "tst_jitterbuffer.moc"
