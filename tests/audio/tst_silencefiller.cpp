#include "audio/silencefiller.h"

#include <QTest>

using Clock = SilenceFiller::Clock;
using std::chrono::milliseconds;

class TestSilenceFiller : public QObject
{
    Q_OBJECT

private slots:
    void framesFallDueOnTheClockAfterTheGap();
    void aDeliveryEndsTheFilling();
};

void TestSilenceFiller::framesFallDueOnTheClockAfterTheGap()
{
    const Clock::time_point start{milliseconds(5000)};
    SilenceFiller filler;
    filler.restart(start);
    Clock::time_point firstDue;
    QCOMPARE(filler.take(start + milliseconds(30), firstDue), 0);
    QCOMPARE(filler.take(start + milliseconds(31), firstDue), 1);
    QCOMPARE(firstDue, start + milliseconds(30));
    QCOMPARE(filler.take(start + milliseconds(39), firstDue), 0);
    QCOMPARE(filler.take(start + milliseconds(41), firstDue), 1);
    QCOMPARE(firstDue, start + milliseconds(40));

    // A caller that comes late gets every frame that fell due meanwhile, and one that comes
    // often gets no more: a second holds 100 frames however it is asked.
    QCOMPARE(filler.take(start + milliseconds(95), firstDue), 5);
    QCOMPARE(firstDue, start + milliseconds(50));
    int given = 7;
    for (int ms = 96; ms <= 1030; ms += 3)
        given += filler.take(start + milliseconds(ms), firstDue);
    QCOMPARE(given, 100);
}

void TestSilenceFiller::aDeliveryEndsTheFilling()
{
    const Clock::time_point start{milliseconds(5000)};
    SilenceFiller filler;
    filler.restart(start);
    Clock::time_point firstDue;
    QCOMPARE(filler.take(start + milliseconds(200), firstDue), 17);
    // Nothing is owed for the time the device was quiet once it delivers again, and a
    // new quiet spell starts with the gap again.
    filler.heard(start + milliseconds(205));
    QCOMPARE(filler.take(start + milliseconds(235), firstDue), 0);
    QCOMPARE(filler.take(start + milliseconds(236), firstDue), 1);
    QCOMPARE(firstDue, start + milliseconds(235));
}

QTEST_APPLESS_MAIN(TestSilenceFiller)
#include "tst_silencefiller.moc"
