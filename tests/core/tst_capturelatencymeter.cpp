#include "core/capturelatencymeter.h"

#include <QTest>

using Clock = CaptureLatencyMeter::Clock;
using std::chrono::milliseconds;

namespace {

constexpr int rate = 48000;
constexpr int frameFrames = 480;

// Feeds the meter as the sending path would: packets of packetFrames every packet period
// (their length in time), each reporting `delay`, framed into 10 ms frames that are sent
// `sendAfter` after the packet that completes them arrived.
class Stream
{
public:
    Stream(CaptureLatencyMeter &meter, int packetFrames, Clock::duration delay,
           Clock::duration sendAfter = {})
        : meter(meter), packetFrames(packetFrames), delay(delay), sendAfter(sendAfter)
    {
    }

    void run(Clock::duration length)
    {
        const Clock::time_point end = now + length;
        const auto period = std::chrono::microseconds(1000000) * packetFrames / rate;
        while (now < end) {
            meter.packetArrived(now - delay, waiting);
            waiting += std::size_t(packetFrames);
            while (waiting >= std::size_t(frameFrames)) {
                waiting -= std::size_t(frameFrames);
                meter.frameDone(now + sendAfter);
            }
            now += period;
        }
    }

    Clock::time_point now{milliseconds(1000000)};

private:
    CaptureLatencyMeter &meter;
    const int packetFrames;
    const Clock::duration delay;
    const Clock::duration sendAfter;
    std::size_t waiting = 0;
};

} // namespace

class TestCaptureLatencyMeter : public QObject
{
    Q_OBJECT

private slots:
    void readOutIsTheDelayPlusTheWaitForTheFrame_data();
    void readOutIsTheDelayPlusTheWaitForTheFrame();
    void readsZeroUntilASecondIsOverAndAfterReset();
    void oneLateFrameDoesNotMoveTheReadOut();
    void aBreakInTheCaptureDoesNotCarryOver();
};

void TestCaptureLatencyMeter::readOutIsTheDelayPlusTheWaitForTheFrame_data()
{
    QTest::addColumn<int>("packetFrames");
    QTest::addColumn<int>("delayUs");
    QTest::addColumn<int>("sendAfterMs");
    QTest::addColumn<int>("expectedMs");

    // Two 5 ms packets make a frame: its middle sample is the second packet's first.
    QTest::newRow("5 ms packets") << 240 << 20000 << 0 << 20;
    // A frame that is one packet: its middle sample left 5 ms after the packet's first.
    QTest::newRow("10 ms packets") << 480 << 12000 << 0 << 7;
    // Four frames of 2.5 ms: the frame is sent with its last packet, 7.5 ms after the first.
    QTest::newRow("2.5 ms packets") << 120 << 3800 << 0 << 6;
    // Whatever delays the send after the frame is full counts too.
    QTest::newRow("slow send") << 480 << 12000 << 3 << 10;
    // 15 ms packets leave a half frame waiting for the next packet, every other frame.
    QTest::newRow("15 ms packets") << 720 << 15000 << 0 << 10;
}

void TestCaptureLatencyMeter::readOutIsTheDelayPlusTheWaitForTheFrame()
{
    QFETCH(int, packetFrames);
    QFETCH(int, delayUs);
    QFETCH(int, sendAfterMs);
    QFETCH(int, expectedMs);

    CaptureLatencyMeter meter(rate, frameFrames);
    Stream stream(meter, packetFrames, std::chrono::microseconds(delayUs),
                  milliseconds(sendAfterMs));
    stream.run(milliseconds(2100));
    QCOMPARE(meter.latencyMs(), expectedMs);
}

void TestCaptureLatencyMeter::readsZeroUntilASecondIsOverAndAfterReset()
{
    CaptureLatencyMeter meter(rate, frameFrames);
    Stream stream(meter, 480, milliseconds(30));
    stream.run(milliseconds(990));
    QCOMPARE(meter.latencyMs(), 0);
    stream.run(milliseconds(30));
    QCOMPARE(meter.latencyMs(), 25);

    meter.reset();
    QCOMPARE(meter.latencyMs(), 0);
    // Frames sent before any packet arrived after the reset have no origin to measure from.
    meter.frameDone(stream.now);
    Stream again(meter, 480, milliseconds(15));
    again.now = stream.now;
    again.run(milliseconds(1500));
    QCOMPARE(meter.latencyMs(), 10);
}

void TestCaptureLatencyMeter::oneLateFrameDoesNotMoveTheReadOut()
{
    CaptureLatencyMeter meter(rate, frameFrames);
    Stream steady(meter, 480, milliseconds(12));
    steady.run(milliseconds(500));
    Stream late(meter, 480, milliseconds(12), milliseconds(80));
    late.now = steady.now;
    late.run(milliseconds(10));
    steady.now = late.now;
    steady.run(milliseconds(1000));
    QCOMPARE(meter.latencyMs(), 7);
}

void TestCaptureLatencyMeter::aBreakInTheCaptureDoesNotCarryOver()
{
    CaptureLatencyMeter meter(rate, frameFrames);
    Stream first(meter, 240, milliseconds(20));
    first.run(milliseconds(1002)); // ends with half a frame waiting
    // Half a second later the device delivers again; the half frame that waited all the
    // while is sent with it, every later frame is measured from its own packets.
    Stream second(meter, 240, milliseconds(20));
    second.now = first.now + milliseconds(500);
    meter.packetArrived(second.now - milliseconds(20), 240);
    meter.frameDone(second.now);
    second.run(milliseconds(2100));
    QCOMPARE(meter.latencyMs(), 20);
}

QTEST_APPLESS_MAIN(TestCaptureLatencyMeter)
#include "tst_capturelatencymeter.moc"
