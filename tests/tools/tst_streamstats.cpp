#include "streamstats.h"

#include <QTest>

class TestStreamStats : public QObject
{
    Q_OBJECT

private slots:
    void steadyStreamHasNoLossAndNoJitter();
    void gapsCountAsLostUntilTheLateDatagramArrives();
    void duplicatesNeverMakeLossNegative();
    void numbersWrapAroundWithoutLoss();
    void senderRestartStartsANewRun();
    void unevenArrivalShowsAsJitter();
    void intervalsReportWhatArrivedSinceTheLastOne();

private:
    // Datagram n of a stream sent at t0 + n * 10 ms, arriving after the given delay.
    static void arrive(StreamStats &stats, std::uint32_t n, double arrivalMs,
                       std::int64_t t0 = 1'700'000'000'000)
    {
        stats.datagramArrived(n, (t0 + static_cast<std::int64_t>(n) * 10) * 1'000'000, arrivalMs,
                              160);
    }
};

void TestStreamStats::steadyStreamHasNoLossAndNoJitter()
{
    StreamStats stats;
    for (std::uint32_t n = 7; n < 507; ++n)
        arrive(stats, n, 1000 + (n - 7) * 10.0);
    const StreamStats::Totals totals = stats.totals();
    QCOMPARE(totals.datagrams, 500);
    QCOMPARE(totals.lost, 0);
    QCOMPARE(totals.largestGap, 0);
    QCOMPARE(totals.restarts, 0);
    QCOMPARE(totals.rate(), 100.0);
    QCOMPARE(totals.jitterMs, 0.0);
    QCOMPARE(totals.longestPauseMs, 10.0);
}

void TestStreamStats::gapsCountAsLostUntilTheLateDatagramArrives()
{
    StreamStats stats;
    for (std::uint32_t n : {0u, 1u, 2u, 6u, 7u, 9u})
        arrive(stats, n, n * 10.0);
    QCOMPARE(stats.totals().lost, 4);
    QCOMPARE(stats.totals().largestGap, 3);

    arrive(stats, 4, 95); // late, but it came
    QCOMPARE(stats.totals().lost, 3);
    QCOMPARE(stats.totals().restarts, 0);
}

void TestStreamStats::duplicatesNeverMakeLossNegative()
{
    StreamStats stats;
    for (int i = 0; i < 3; ++i)
        arrive(stats, 5, i * 10.0);
    arrive(stats, 6, 40);
    QCOMPARE(stats.totals().lost, 0);
    QCOMPARE(stats.totals().datagrams, 4);
}

void TestStreamStats::numbersWrapAroundWithoutLoss()
{
    StreamStats stats;
    const std::uint32_t start = 0xFFFFFFFDu;
    for (std::uint32_t i = 0; i < 6; ++i)
        stats.datagramArrived(start + i, (1000 + i * 10) * 1'000'000LL, i * 10.0, 100);
    QCOMPARE(stats.totals().lost, 0);
    QCOMPARE(stats.totals().largestGap, 0);
    QCOMPARE(stats.totals().restarts, 0);
}

void TestStreamStats::senderRestartStartsANewRun()
{
    StreamStats stats;
    for (std::uint32_t n = 0; n < 50; ++n)
        arrive(stats, n, n * 10.0);
    arrive(stats, 52, 520); // two lost before the restart
    // Numbered from 0 again, built later: a new run, not 53 late datagrams.
    const std::int64_t later = 1'700'000'000'000 + 5000;
    for (std::uint32_t n = 0; n < 20; ++n)
        arrive(stats, n, 1000 + n * 10.0, later);
    const StreamStats::Totals totals = stats.totals();
    QCOMPARE(totals.restarts, 1);
    QCOMPARE(totals.lost, 2);
    QCOMPARE(totals.datagrams, 71);
    QCOMPARE(totals.longestPauseMs, 480.0);
}

void TestStreamStats::unevenArrivalShowsAsJitter()
{
    StreamStats stats;
    // Every other datagram 5 ms late: each transit differs from the last by 5 ms.
    for (std::uint32_t n = 0; n < 400; ++n)
        arrive(stats, n, n * 10.0 + (n % 2 ? 5 : 0));
    QVERIFY2(qAbs(stats.totals().jitterMs - 5.0) < 0.01,
             qPrintable(QString::number(stats.totals().jitterMs)));
}

void TestStreamStats::intervalsReportWhatArrivedSinceTheLastOne()
{
    StreamStats stats;
    for (std::uint32_t n = 0; n < 100; ++n)
        if (n != 40 && n != 41)
            arrive(stats, n, n * 10.0);
    StreamStats::Interval first = stats.takeInterval(1.0);
    QCOMPARE(first.datagrams, 98);
    QCOMPARE(first.lost, 2);
    QCOMPARE(first.kbps, 98 * 160 * 8 / 1000.0);

    for (std::uint32_t n = 100; n < 150; ++n)
        arrive(stats, n, n * 10.0);
    const StreamStats::Interval second = stats.takeInterval(0.5);
    QCOMPARE(second.datagrams, 50);
    QCOMPARE(second.lost, 0);
    QCOMPARE(second.kbps, 50 * 160 * 8 / 0.5 / 1000.0);
    QCOMPARE(stats.totals().lost, 2);
}

QTEST_GUILESS_MAIN(TestStreamStats)
#include "tst_streamstats.moc"
