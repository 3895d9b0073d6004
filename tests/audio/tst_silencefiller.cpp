#include "audio/silencefiller.h"

#include <QTest>

using Clock = SilenceFiller::Clock;
using std::chrono::milliseconds;

namespace {

constexpr int rate = 48000;
const Clock::time_point start{milliseconds(5000)};

// A filler that has heard 10 ms of audio arrive at start, 4 ms after it left the mixer: the
// stream's timeline reaches start + 6 ms.
SilenceFiller afterOnePacket(bool timed = true)
{
    SilenceFiller filler(rate);
    filler.restart(start);
    filler.heard(start, start - milliseconds(4), 480, timed);
    return filler;
}

} // namespace

class TestSilenceFiller : public QObject
{
    Q_OBJECT

private slots:
    void framesFallDueOnTheClockAfterTheGap();
    void lateAudioIsNotSentOnTopOfTheSilence();
    void audioAfterARealPauseIsKeptWhole();
    void nothingIsDroppedWithoutTiming_data();
    void nothingIsDroppedWithoutTiming();
};

void TestSilenceFiller::framesFallDueOnTheClockAfterTheGap()
{
    SilenceFiller filler(rate);
    filler.restart(start);
    Clock::time_point mixed;
    QCOMPARE(filler.take(start + milliseconds(30), true, mixed), 0);
    QCOMPARE(filler.take(start + milliseconds(31), true, mixed), 1);
    QCOMPARE(filler.take(start + milliseconds(39), true, mixed), 0);
    QCOMPARE(filler.take(start + milliseconds(41), true, mixed), 1);

    // A caller that comes late gets every frame that fell due meanwhile, and one that comes
    // often gets no more: a second holds 100 frames however it is asked.
    QCOMPARE(filler.take(start + milliseconds(95), true, mixed), 5);
    int given = 7;
    for (int ms = 96; ms <= 1030; ms += 3)
        given += filler.take(start + milliseconds(ms), true, mixed);
    QCOMPARE(given, 100);

    // A delivery ends it, and a new quiet spell starts with the gap again.
    filler.heard(start + milliseconds(1035), start + milliseconds(1030), 480, true);
    QCOMPARE(filler.take(start + milliseconds(1065), true, mixed), 0);
    QCOMPARE(filler.take(start + milliseconds(1066), true, mixed), 1);
}

// The silence continues the stream's timeline. A device that held 60 ms back then delivers
// it late: the 40 ms the silence took are dropped.
void TestSilenceFiller::lateAudioIsNotSentOnTopOfTheSilence()
{
    SilenceFiller filler = afterOnePacket();
    Clock::time_point mixed;
    QCOMPARE(filler.take(start + milliseconds(55), true, mixed), 3);
    QCOMPARE(mixed, start + milliseconds(6));
    QCOMPARE(filler.take(start + milliseconds(61), true, mixed), 1);
    QCOMPARE(mixed, start + milliseconds(36)); // now up to start + 46 ms
    // In 10 ms pieces: the first four were stood in for, the fifth half, the sixth not.
    QCOMPARE(filler.heard(start + milliseconds(62), start + milliseconds(6), 480, true), 480u);
    QCOMPARE(filler.heard(start + milliseconds(62), start + milliseconds(16), 480, true), 480u);
    QCOMPARE(filler.heard(start + milliseconds(62), start + milliseconds(26), 480, true), 480u);
    QCOMPARE(filler.heard(start + milliseconds(62), start + milliseconds(36), 480, true), 480u);
    QCOMPARE(filler.heard(start + milliseconds(62), start + milliseconds(41), 480, true), 240u);
    QCOMPARE(filler.heard(start + milliseconds(62), start + milliseconds(51), 480, true), 0u);
}

void TestSilenceFiller::audioAfterARealPauseIsKeptWhole()
{
    SilenceFiller filler = afterOnePacket();
    Clock::time_point mixed;
    QCOMPARE(filler.take(start + milliseconds(2000), true, mixed), 197);
    // Played after the pause: it left the mixer just now, after where the silence reached.
    QCOMPARE(filler.heard(start + milliseconds(2003), start + milliseconds(1999), 480, true), 0u);
}

void TestSilenceFiller::nothingIsDroppedWithoutTiming_data()
{
    QTest::addColumn<bool>("timedBefore");
    QTest::addColumn<bool>("timedAfter");
    QTest::addColumn<bool>("filled");

    QTest::newRow("the sound system could not tell before") << false << true << true;
    QTest::newRow("the sound system cannot tell now") << true << false << true;
    QTest::newRow("the silence was counted, not sent") << true << true << false;
}

void TestSilenceFiller::nothingIsDroppedWithoutTiming()
{
    QFETCH(bool, timedBefore);
    QFETCH(bool, timedAfter);
    QFETCH(bool, filled);

    SilenceFiller filler = afterOnePacket(timedBefore);
    Clock::time_point mixed;
    QCOMPARE(filler.take(start + milliseconds(61), filled, mixed), 4);
    QCOMPARE(filler.heard(start + milliseconds(62), start + milliseconds(6), 480, timedAfter), 0u);
}

QTEST_APPLESS_MAIN(TestSilenceFiller)
#include "tst_silencefiller.moc"
