#include "core/ratelimits.h"
#include "core/senderbuckets.h"
#include "core/tokenbucket.h"

#include <QTest>

namespace {

// How many of `attempts` takes, one every `stepMs` from `start`, the bucket allows.
int takenOver(TokenBucket &bucket, int attempts, qint64 stepMs, qint64 start = 0)
{
    int taken = 0;
    for (int i = 0; i < attempts; ++i)
        taken += bucket.take(start + i * stepMs);
    return taken;
}

QHostAddress host(int i)
{
    return QHostAddress(QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250 + 1));
}

} // namespace

class TestRateLimits : public QObject
{
    Q_OBJECT

private slots:
    void bucketGivesItsBurstThenItsRate();
    void bucketRefillsToItsBurstOnly();
    void sendersHaveBucketsOfTheirOwn();
    void muteLimitsPerSenderAndOverall();
    void twoMutesOfAPhoneGetThrough();
    void qualityChangesOnlyWhenTheBitrateDoes();
    void newcomersSixteenPerTenSeconds();
};

void TestRateLimits::bucketGivesItsBurstThenItsRate()
{
    TokenBucket bucket(4, 2, 1000);
    QCOMPARE(takenOver(bucket, 100, 0), 4); // a burst at one instant
    QVERIFY(!bucket.take(499));
    QVERIFY(bucket.take(500)); // one token every 500 ms
    QVERIFY(!bucket.take(999));
    QVERIFY(bucket.take(1000));
    // A sender as fast as it can for 10 s more: 2 a second, no more.
    QCOMPARE(takenOver(bucket, 10000, 1, 1001), 20);
}

void TestRateLimits::bucketRefillsToItsBurstOnly()
{
    TokenBucket bucket(16, 16, 10000);
    QCOMPARE(takenOver(bucket, 20, 0), 16);
    QVERIFY(!bucket.isFull(9999));
    QVERIFY(bucket.isFull(10000));
    // A day of silence fills it, but only to its burst.
    const qint64 day = 24LL * 3600 * 1000;
    QCOMPARE(takenOver(bucket, 20, 0, day), 16);
}

void TestRateLimits::sendersHaveBucketsOfTheirOwn()
{
    SenderBuckets buckets(4, 2, 1000);
    const QHostAddress phone("192.168.1.20");
    for (int i = 0; i < 4; ++i)
        QVERIFY(buckets.take(phone, 0));
    QVERIFY(!buckets.take(phone, 0));
    // The same host through a dual-stack socket is the same sender.
    QVERIFY(!buckets.take(QHostAddress("::ffff:192.168.1.20"), 0));
    QVERIFY(buckets.take(QHostAddress("192.168.1.21"), 0));
    QVERIFY(buckets.take(QHostAddress("fe80::1"), 0));
    QVERIFY(buckets.take(phone, 500));

    // More senders than the table holds, taking turns: none comes back to a fresh burst.
    SenderBuckets crowded(4, 2, 1000);
    int admitted = 0;
    for (int i = 0; i < 10000; ++i)
        admitted += crowded.take(host(i % 200), 0);
    QCOMPARE(admitted, 4 * SenderBuckets::tableSize);
}

void TestRateLimits::muteLimitsPerSenderAndOverall()
{
    RateLimits limits(128000);
    // One sender as fast as it can for 10 s: its burst of 4, then 2 a second.
    int admitted = 0;
    for (qint64 now = 0; now < 10000; ++now)
        admitted += limits.admitMute(QHostAddress("192.168.1.20"), now);
    QCOMPARE(admitted, 4 + 20 - 1); // the 20th refill comes at 10000 ms
    QCOMPARE(limits.mutesOverall().dropped, 0);

    // Thousands of senders together: 5 a second overall.
    RateLimits shared(128000);
    admitted = 0;
    for (int i = 0; i < 10000; ++i)
        admitted += shared.admitMute(host(i % 2000), i);
    // The drained per-sender buckets now and then have nothing when an overall token waits.
    QVERIFY2(admitted <= 5 + 50 - 1 && admitted >= 50, qPrintable(QString::number(admitted)));
    QCOMPARE(shared.mutesOverall().admitted, admitted);
    QCOMPARE(shared.mutesOverall().admitted + shared.mutesOverall().dropped,
             shared.mutesPerSender().admitted);
    QCOMPARE(shared.mutesPerSender().admitted + shared.mutesPerSender().dropped, 10000);
}

void TestRateLimits::twoMutesOfAPhoneGetThrough()
{
    RateLimits limits(128000);
    const QHostAddress phone("192.168.1.20");
    // A phone's user mutes and unmutes now and then, twice in quick succession at worst.
    for (qint64 now = 0; now < 60000; now += 3000) {
        QVERIFY(limits.admitMute(phone, now));
        QVERIFY(limits.admitMute(phone, now + 100));
    }
}

void TestRateLimits::qualityChangesOnlyWhenTheBitrateDoes()
{
    RateLimits limits(128000);
    QVERIFY(!limits.admitQuality(128000, 0)); // the bitrate it already has
    QVERIFY(limits.admitQuality(64000, 0));
    QVERIFY(!limits.admitQuality(64000, 1));
    QCOMPARE(limits.qualityChanges().admitted, 1);
    QCOMPARE(limits.qualityChanges().dropped, 0);

    // Alternating bitrates as fast as possible: 4 changes a second.
    int changes = 0;
    for (qint64 now = 0; now < 5000; ++now)
        changes += limits.admitQuality(now % 2 ? 96000 : 32000, now);
    QCOMPARE(changes, 3 + 20 - 1);
    // A refused change leaves the current bitrate as it was.
    RateLimits refusing(128000);
    for (int i = 0; i < 4; ++i)
        QVERIFY(refusing.admitQuality(1000 * (i + 1), 0));
    QVERIFY(!refusing.admitQuality(64000, 0));
    QVERIFY(!refusing.admitQuality(4000, 250)); // still the current one
    QVERIFY(refusing.admitQuality(64000, 250));
}

void TestRateLimits::newcomersSixteenPerTenSeconds()
{
    RateLimits limits(128000);
    int admitted = 0;
    for (qint64 now = 0; now < 30000; now += 10)
        admitted += limits.admitNewcomer(now);
    QCOMPARE(admitted, 16 + 48 - 1);
    QCOMPARE(limits.newcomers().admitted, admitted);
    QCOMPARE(limits.newcomers().dropped, 3000 - admitted);
    // One refused now, asking again with its next hello 2 s later, gets in.
    RateLimits fresh(128000);
    for (int i = 0; i < 16; ++i)
        QVERIFY(fresh.admitNewcomer(0));
    QVERIFY(!fresh.admitNewcomer(0));
    QVERIFY(fresh.admitNewcomer(2000));
}

QTEST_APPLESS_MAIN(TestRateLimits)
#include "tst_ratelimits.moc"
