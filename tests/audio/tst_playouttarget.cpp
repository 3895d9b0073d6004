#include "audio/playout/latenesstracker.h"
#include "audio/playout/playouttarget.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

constexpr std::int64_t ms = 1'000'000;
constexpr std::int64_t packetNs = 10 * ms;

double latenessMs(const LatenessTracker &tracker)
{
    return double(tracker.recentLatenessNs()) / ms;
}

} // namespace

// How late the arrivals are, and the target delay that follows from it.
class TestPlayoutTarget : public QObject
{
    Q_OBJECT

private slots:
    void latenessIsMeasuredAgainstTheFastestRecentPacket();
    void aPauseOfTheSenderStartsTheHistoryAgain();
    void aDriftingClockIsNotTakenForLateness();
    void targetRisesAtOnceAndShrinksSlowlyOnceCalm();
    void targetStaysWithinItsBounds();
};

void TestPlayoutTarget::latenessIsMeasuredAgainstTheFastestRecentPacket()
{
    LatenessTracker tracker;
    QVERIFY(!tracker.anchored());
    // A constant transit of 3 ms is no lateness.
    for (std::int64_t n = 0; n < 100; ++n)
        tracker.arrived(1000 + n, 3 * ms + n * packetNs, packetNs);
    QVERIFY(tracker.anchored());
    QCOMPARE(latenessMs(tracker), 0.0);
    QCOMPARE(tracker.dueNs(1100), 3 * ms + 100 * packetNs);

    // Then each packet late by 0 to 20 ms, kept in order: 95 % stay within about 19 ms.
    QRandomGenerator random(7);
    std::int64_t previous = 0;
    for (std::int64_t n = 100; n < 400; ++n) {
        const std::int64_t arrival =
            std::max(previous, 3 * ms + n * packetNs + random.bounded(20 * int(ms)));
        tracker.arrived(1000 + n, arrival, packetNs);
        previous = arrival;
    }
    QVERIFY2(latenessMs(tracker) > 17 && latenessMs(tracker) <= 20,
             qPrintable(QString::number(latenessMs(tracker))));
    // The ideal arrival still follows the fastest packets.
    QVERIFY(tracker.dueNs(1400) - (3 * ms + 400 * packetNs) < 1 * ms);
}

void TestPlayoutTarget::aPauseOfTheSenderStartsTheHistoryAgain()
{
    LatenessTracker tracker;
    for (std::int64_t n = 0; n < 100; ++n)
        tracker.arrived(n, n * packetNs, packetNs);
    // The phone paused for two seconds and goes on with the next number.
    const std::int64_t resumed = 100 * packetNs + 2000 * ms;
    for (std::int64_t n = 100; n < 110; ++n)
        tracker.arrived(n, resumed + (n - 100) * packetNs, packetNs);
    QCOMPARE(latenessMs(tracker), 0.0);
    QCOMPARE(tracker.dueNs(110), resumed + 10 * packetNs);
    // So does a change of packet length.
    tracker.arrived(110, resumed + 10 * packetNs + 7 * ms, 2 * packetNs);
    QCOMPARE(tracker.dueNs(111), resumed + 10 * packetNs + 7 * ms + 2 * packetNs);
}

void TestPlayoutTarget::aDriftingClockIsNotTakenForLateness()
{
    // A sender 0.1 % slow: its packets come 10.01 ms apart, for a minute.
    LatenessTracker tracker;
    for (std::int64_t n = 0; n < 6000; ++n)
        tracker.arrived(n, n * (packetNs + packetNs / 1000), packetNs);
    QVERIFY2(latenessMs(tracker) < 3, qPrintable(QString::number(latenessMs(tracker))));
}

void TestPlayoutTarget::targetRisesAtOnceAndShrinksSlowlyOnceCalm()
{
    PlayoutTarget target;
    target.reset(0);
    QCOMPARE(target.ms(), PlayoutTarget::startMs);
    // Calm arrivals need little: after the hold it comes down by 1 ms a second.
    target.require(15, 100 * ms);
    target.update(PlayoutTarget::calmNs);
    QCOMPARE(target.ms(), PlayoutTarget::startMs);
    target.update(PlayoutTarget::calmNs + 4000 * ms);
    QCOMPARE(target.ms(), PlayoutTarget::startMs - 4);
    target.update(PlayoutTarget::calmNs + 60000 * ms);
    QCOMPARE(target.ms(), PlayoutTarget::minMs);

    // Jitter: up at once, held, then down slowly to what the arrivals still need.
    std::int64_t now = 100'000 * ms;
    target.require(47.5, now);
    QCOMPARE(target.ms(), 47.5);
    target.require(33, now + 1000 * ms);
    target.update(now + PlayoutTarget::calmNs);
    QCOMPARE(target.ms(), 47.5);
    target.update(now + PlayoutTarget::calmNs + 10'000 * ms);
    QCOMPARE(target.ms(), 37.5);
    target.update(now + PlayoutTarget::calmNs + 60'000 * ms);
    QCOMPARE(target.ms(), 33.0);

    // An underrun adds a step, and holds again.
    now += 200'000 * ms;
    target.underrun(now);
    QCOMPARE(target.ms(), 33.0 + PlayoutTarget::underrunStepMs);
    target.update(now + PlayoutTarget::calmNs - ms);
    QCOMPARE(target.ms(), 33.0 + PlayoutTarget::underrunStepMs);
}

void TestPlayoutTarget::targetStaysWithinItsBounds()
{
    PlayoutTarget target;
    target.reset(0);
    target.require(5000, 0);
    QCOMPARE(target.ms(), PlayoutTarget::maxMs);
    target.underrun(ms);
    QCOMPARE(target.ms(), PlayoutTarget::maxMs);
    target.require(0, 2 * ms);
    target.update(3600'000 * ms);
    QCOMPARE(target.ms(), PlayoutTarget::minMs);
}

QTEST_GUILESS_MAIN(TestPlayoutTarget)
#include "tst_playouttarget.moc"
