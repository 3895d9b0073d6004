#include "sendschedule.h"

#include <QTest>
#include <cmath>

// When the test phone's datagrams leave it.
class TestSendSchedule : public QObject
{
    Q_OBJECT

private slots:
    void onTimeFramesLeaveWhenDueOnThePhonesClock();
    void lateFramesKeepTheirOrderWithinTheLateness();
    void burstsReleaseEverythingDueTogether();
};

void TestSendSchedule::onTimeFramesLeaveWhenDueOnThePhonesClock()
{
    SendSchedule onTime(SendPattern{});
    for (std::int64_t frame = 0; frame < 5; ++frame)
        QCOMPARE(onTime.releaseMs(frame), 10.0 * double(frame));
    SendSchedule fast(SendPattern{1.001, 0, 0, 1});
    QCOMPARE(fast.dueMs(60000), 600000 / 1.001);
    QCOMPARE(fast.releaseMs(0), 0.0);
}

void TestSendSchedule::lateFramesKeepTheirOrderWithinTheLateness()
{
    const SendPattern pattern{1.0, 20, 0, 7};
    SendSchedule schedule(pattern);
    SendSchedule again(pattern);
    double previous = 0;
    double latest = 0;
    for (std::int64_t frame = 0; frame < 1000; ++frame) {
        const double release = schedule.releaseMs(frame);
        QVERIFY(release >= previous);
        QVERIFY(release >= schedule.dueMs(frame));
        QVERIFY(release < schedule.dueMs(frame) + 20);
        QCOMPARE(again.releaseMs(frame), release);
        latest = std::max(latest, release - schedule.dueMs(frame));
        previous = release;
    }
    // The whole range is used.
    QVERIFY(latest > 18);
}

void TestSendSchedule::burstsReleaseEverythingDueTogether()
{
    SendSchedule schedule(SendPattern{1.0, 0, 30, 1});
    const double expected[] = {0, 30, 30, 30, 60, 60, 60, 90};
    for (std::int64_t frame = 0; frame < 8; ++frame)
        QCOMPARE(schedule.releaseMs(frame), expected[frame]);
}

QTEST_GUILESS_MAIN(TestSendSchedule)
#include "tst_sendschedule.moc"
