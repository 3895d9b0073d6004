#include "audio/playout/packetqueue.h"

#include <QTest>
#include <vector>

namespace {

constexpr int frames = 480;

// A packet whose one byte names it.
std::vector<unsigned char> packet(std::uint32_t name)
{
    return {static_cast<unsigned char>(name & 0xFF)};
}

PacketQueue::Insertion insert(PacketQueue &queue, std::uint32_t sequence, int length = frames)
{
    const std::vector<unsigned char> bytes = packet(sequence);
    return queue.insert(sequence, bytes.data(), bytes.size(), length);
}

// Takes packets while the head is ready; their names, in order.
std::vector<int> takeReady(PacketQueue &queue)
{
    std::vector<int> names;
    std::vector<unsigned char> bytes;
    while (queue.head() == PacketQueue::Head::Ready) {
        const PacketQueue::Taken taken = queue.take(bytes);
        names.push_back(taken.length == 1 ? bytes[0] : -1);
    }
    return names;
}

} // namespace

class TestPacketQueue : public QObject
{
    Q_OBJECT

private slots:
    void packetsComeOutInSequenceOrder();
    void duplicatesAndPacketsWhoseTurnHasPassedAreDropped();
    void aMissingPacketIsPassedOverAndCountedAsAudio();
    void numbersWrapAround();
    void aPacketBeforeTheFirstMovesTheHeadBackUntilPlayingBegins();
    void farJumpsBeginTheStreamAnew();
    void takingSwapsBytesWithoutCopying();
};

void TestPacketQueue::packetsComeOutInSequenceOrder()
{
    PacketQueue queue(8, 16);
    QCOMPARE(queue.head(), PacketQueue::Head::Empty);
    for (std::uint32_t sequence : {10u, 12u, 11u, 13u})
        QCOMPARE(insert(queue, sequence), PacketQueue::Insertion::Queued);
    QCOMPARE(queue.queuedFrames(), std::int64_t(4 * frames));
    QCOMPARE(takeReady(queue), (std::vector<int>{10, 11, 12, 13}));
    QCOMPARE(queue.head(), PacketQueue::Head::Empty);
    QCOMPARE(queue.queuedFrames(), std::int64_t(0));
}

void TestPacketQueue::duplicatesAndPacketsWhoseTurnHasPassedAreDropped()
{
    PacketQueue queue(8, 16);
    insert(queue, 1);
    insert(queue, 2);
    QCOMPARE(insert(queue, 2), PacketQueue::Insertion::Duplicate);
    QCOMPARE(takeReady(queue), (std::vector<int>{1, 2}));
    QCOMPARE(insert(queue, 1), PacketQueue::Insertion::Late);
    QCOMPARE(insert(queue, 2), PacketQueue::Insertion::Late);
    QCOMPARE(queue.head(), PacketQueue::Head::Empty);
    const unsigned char byte = 0;
    QCOMPARE(queue.insert(3, &byte, 0, frames), PacketQueue::Insertion::Empty);
    QCOMPARE(queue.insert(3, &byte, 1, 0), PacketQueue::Insertion::Empty);
}

void TestPacketQueue::aMissingPacketIsPassedOverAndCountedAsAudio()
{
    PacketQueue queue(8, 16);
    insert(queue, 1);
    insert(queue, 4, 960);
    QCOMPARE(takeReady(queue), std::vector<int>{1});
    // 2 and 3 are missing and count as long as the last packet that came.
    QCOMPARE(queue.head(), PacketQueue::Head::Missing);
    QCOMPARE(queue.queuedFrames(), std::int64_t(3 * 960));
    queue.skip();
    QCOMPARE(queue.head(), PacketQueue::Head::Missing);
    // A late packet that is not yet due still takes its place.
    QCOMPARE(insert(queue, 3), PacketQueue::Insertion::Queued);
    QCOMPARE(takeReady(queue), (std::vector<int>{3, 4}));
    // The one passed over is late now.
    QCOMPARE(insert(queue, 2), PacketQueue::Insertion::Late);
}

void TestPacketQueue::numbersWrapAround()
{
    PacketQueue queue(8, 16);
    for (std::uint32_t sequence : {0xFFFFFFFEu, 0u, 0xFFFFFFFFu, 1u})
        QCOMPARE(insert(queue, sequence), PacketQueue::Insertion::Queued);
    QCOMPARE(takeReady(queue), (std::vector<int>{0xFE, 0xFF, 0, 1}));
    QCOMPARE(insert(queue, 0xFFFFFFFFu), PacketQueue::Insertion::Late);
}

void TestPacketQueue::aPacketBeforeTheFirstMovesTheHeadBackUntilPlayingBegins()
{
    PacketQueue queue(8, 16);
    insert(queue, 21);
    insert(queue, 20);
    QCOMPARE(insert(queue, 19), PacketQueue::Insertion::Queued);
    std::vector<unsigned char> bytes;
    queue.take(bytes);
    QCOMPARE(bytes[0], 19);
    QCOMPARE(insert(queue, 18), PacketQueue::Insertion::Late);
    QCOMPARE(takeReady(queue), (std::vector<int>{20, 21}));
}

void TestPacketQueue::farJumpsBeginTheStreamAnew()
{
    PacketQueue queue(8, 16);
    for (std::uint32_t sequence = 5000; sequence < 5004; ++sequence)
        insert(queue, sequence);
    takeReady(queue);
    insert(queue, 5004);
    // A sender that starts counting again.
    QCOMPARE(insert(queue, 0), PacketQueue::Insertion::Restarted);
    insert(queue, 1);
    QCOMPARE(takeReady(queue), (std::vector<int>{0, 1}));
    // A jump ahead by more than the queue holds: what waited is gone.
    insert(queue, 3);
    QCOMPARE(insert(queue, 100), PacketQueue::Insertion::Restarted);
    QCOMPARE(queue.queuedFrames(), std::int64_t(frames));
    QCOMPARE(takeReady(queue), std::vector<int>{100});
    // Within the queue's reach a jump is a gap.
    QCOMPARE(insert(queue, 107), PacketQueue::Insertion::Queued);
    QCOMPARE(queue.head(), PacketQueue::Head::Missing);
}

void TestPacketQueue::takingSwapsBytesWithoutCopying()
{
    PacketQueue queue(4, 64);
    const std::vector<unsigned char> sent(40, 7);
    queue.insert(9, sent.data(), sent.size(), frames);
    std::vector<unsigned char> bytes;
    bytes.reserve(64);
    const unsigned char *mine = bytes.data();
    const PacketQueue::Taken taken = queue.take(bytes);
    QCOMPARE(taken.length, sent.size());
    QCOMPARE(taken.frames, frames);
    QVERIFY(std::equal(sent.begin(), sent.end(), bytes.begin()));
    QVERIFY(bytes.data() != mine);
    // The slot got the caller's buffer, with its room, for the next packet it holds.
    queue.insert(13, sent.data(), sent.size(), frames);
    queue.skip();
    queue.skip();
    queue.skip();
    std::vector<unsigned char> next;
    queue.take(next);
    QCOMPARE(next.data(), mine);
}

QTEST_GUILESS_MAIN(TestPacketQueue)
#include "tst_packetqueue.moc"
