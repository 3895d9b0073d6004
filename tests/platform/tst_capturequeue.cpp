#include "audio/platform/pulse/capturequeue.h"

#include <QTest>
#include <cstring>
#include <vector>

using Clock = CaptureQueue::Clock;
using std::chrono::milliseconds;

namespace {

constexpr int rate = 48000;
constexpr std::size_t frameBytes = 8;

// Frames whose first byte counts up from `first`, the rest zero.
std::vector<unsigned char> numbered(std::size_t frames, unsigned char first)
{
    std::vector<unsigned char> bytes(frames * frameBytes, 0);
    for (std::size_t i = 0; i < frames; ++i)
        bytes[i * frameBytes] = static_cast<unsigned char>(first + i);
    return bytes;
}

// What the queue lends, drained, as the first byte of every frame.
std::vector<unsigned char> drain(CaptureQueue &queue, Clock::time_point now)
{
    std::vector<unsigned char> firstBytes;
    for (CapturePacket packet = queue.front(now); packet.frames > 0; packet = queue.front(now)) {
        for (std::uint32_t i = 0; i < packet.frames; ++i)
            firstBytes.push_back(packet.data[i * frameBytes]);
        queue.pop(packet.frames);
    }
    return firstBytes;
}

} // namespace

class TestCaptureQueue : public QObject
{
    Q_OBJECT

private slots:
    void chunksComeOutInOrderAcrossTheWrap();
    void delayIsTheAgeOfTheFirstFrameLent();
    void fullQueueTakesNothingUntilRoomIsMade();
    void holeIsLentAsSilence();
};

void TestCaptureQueue::chunksComeOutInOrderAcrossTheWrap()
{
    CaptureQueue queue(10, frameBytes, rate);
    const Clock::time_point now{milliseconds(1000)};
    std::vector<unsigned char> expected;
    unsigned char next = 0;
    // Chunks of 3 frames into room for 10: the storage wraps round within some of them.
    for (int round = 0; round < 7; ++round) {
        for (int chunk = 0; chunk < 2; ++chunk) {
            const auto bytes = numbered(3, next);
            QVERIFY(queue.push(bytes.data(), bytes.size(), now));
            for (int i = 0; i < 3; ++i)
                expected.push_back(next++);
        }
        QCOMPARE(queue.readableFrames(), std::size_t(6));
        const auto got = drain(queue, now);
        QCOMPARE(got, std::vector<unsigned char>(expected.end() - 6, expected.end()));
        QCOMPARE(queue.readableFrames(), std::size_t(0));
    }
}

void TestCaptureQueue::delayIsTheAgeOfTheFirstFrameLent()
{
    CaptureQueue queue(480, frameBytes, rate);
    const Clock::time_point origin{milliseconds(1000)};
    const auto bytes = numbered(96, 0); // 2 ms
    QVERIFY(queue.push(bytes.data(), bytes.size(), origin));
    QCOMPARE(queue.front(origin + milliseconds(5)).delayUs, std::int64_t(5000));
    // A packet released in part leaves the rest, which left the mixer later.
    queue.pop(48);
    const CapturePacket rest = queue.front(origin + milliseconds(5));
    QCOMPARE(rest.frames, std::uint32_t(48));
    QCOMPARE(rest.data[0], static_cast<unsigned char>(48));
    QVERIFY(std::abs(rest.delayUs - 4000) <= 1);
    queue.pop(0); // keeps it
    QCOMPARE(queue.front(origin + milliseconds(5)).frames, std::uint32_t(48));
}

void TestCaptureQueue::fullQueueTakesNothingUntilRoomIsMade()
{
    CaptureQueue queue(10, frameBytes, rate);
    const Clock::time_point now{milliseconds(1000)};
    const auto eight = numbered(8, 0);
    const auto three = numbered(3, 8);
    QVERIFY(queue.push(eight.data(), eight.size(), now));
    QVERIFY(!queue.push(three.data(), three.size(), now));
    QCOMPARE(queue.readableFrames(), std::size_t(8));
    queue.pop(8);
    QVERIFY(queue.push(three.data(), three.size(), now));
    QCOMPARE(drain(queue, now), (std::vector<unsigned char>{8, 9, 10}));
}

void TestCaptureQueue::holeIsLentAsSilence()
{
    CaptureQueue queue(10, frameBytes, rate);
    const Clock::time_point now{milliseconds(1000)};
    const auto loud = std::vector<unsigned char>(4 * frameBytes, 0x7F);
    QVERIFY(queue.push(loud.data(), loud.size(), now));
    queue.pop(4);
    QVERIFY(queue.push(nullptr, 4 * frameBytes, now));
    const CapturePacket hole = queue.front(now);
    QCOMPARE(hole.frames, std::uint32_t(4));
    QVERIFY(hole.silent);
    QCOMPARE(std::vector<unsigned char>(hole.data, hole.data + 4 * frameBytes),
             std::vector<unsigned char>(4 * frameBytes, 0));
}

QTEST_APPLESS_MAIN(TestCaptureQueue)
#include "tst_capturequeue.moc"
