#include "core/frameassembler.h"

#include <QTest>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

// The thread sanitizer's runtime defines the global allocation operators itself, so they
// cannot be replaced there and the allocation count is left to the other builds.
#if defined(__SANITIZE_THREAD__)
#define KESTRUNE_OWNS_NO_OPERATOR_NEW
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESTRUNE_OWNS_NO_OPERATOR_NEW
#endif
#endif

// Counts the allocations made by this thread while `counting` is set, to prove that the
// capture path allocates nothing once it runs.
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

class TestFrameAssembler : public QObject
{
    Q_OBJECT

private slots:
    void conversion_data();
    void conversion();
    void samplesStayInOrderAcrossPackets();
    void clearDropsTheLeftover();
    void noAllocationAfterConstruction();
};

void TestFrameAssembler::conversion_data()
{
    QTest::addColumn<float>("input");
    QTest::addColumn<int>("sample");

    QTest::newRow("1.5") << 1.5f << 32767;
    QTest::newRow("1.0") << 1.0f << 32767;
    QTest::newRow("0.99999") << 0.99999f << 32766;
    QTest::newRow("0.5") << 0.5f << 16383;
    QTest::newRow("0") << 0.0f << 0;
    QTest::newRow("tiny negative truncates to 0") << -0.00001f << 0;
    QTest::newRow("-0.5") << -0.5f << -16383;
    QTest::newRow("-1.0") << -1.0f << -32767;
    QTest::newRow("-1.5") << -1.5f << -32767;
    QTest::newRow("+inf") << std::numeric_limits<float>::infinity() << 32767;
    QTest::newRow("-inf") << -std::numeric_limits<float>::infinity() << -32767;
    QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN() << 0;
}

void TestFrameAssembler::conversion()
{
    QFETCH(float, input);
    QFETCH(int, sample);
    QCOMPARE(int(FrameAssembler::toPcm16(input)), sample);
}

void TestFrameAssembler::samplesStayInOrderAcrossPackets()
{
    FrameAssembler assembler(960);
    std::vector<std::int16_t> received;
    const auto keep = [&received](const std::int16_t *frame) {
        received.insert(received.end(), frame, frame + 960);
    };
    // A ramp in odd-sized packets comes out as the same ramp in whole frames.
    std::vector<float> ramp(3000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = float(i) / 32767.0f + 0.5f / 32767.0f;
    std::size_t offset = 0;
    for (const std::size_t packet : {7, 953, 1, 1000, 39}) {
        assembler.push(ramp.data() + offset, packet, keep);
        offset += packet;
    }
    QCOMPARE(received.size(), std::size_t(1920));
    for (std::size_t i = 0; i < received.size(); ++i)
        QCOMPARE(received[i], std::int16_t(i));
    QCOMPARE(assembler.pending(), offset - 1920);
}

void TestFrameAssembler::clearDropsTheLeftover()
{
    FrameAssembler assembler(4);
    std::vector<std::int16_t> first;
    const float old[] = {0.5f, 0.5f};
    assembler.push(old, 2, [](const std::int16_t *) {});
    assembler.clear();
    const float fresh[] = {-1.0f, -1.0f, -1.0f, -1.0f};
    assembler.push(fresh, 4, [&first](const std::int16_t *frame) {
        first.assign(frame, frame + 4);
    });
    QCOMPARE(first, std::vector<std::int16_t>(4, -32767));
}

void TestFrameAssembler::noAllocationAfterConstruction()
{
#ifdef KESTRUNE_OWNS_NO_OPERATOR_NEW
    QSKIP("the thread sanitizer's allocator cannot be replaced");
#endif
    FrameAssembler assembler(960);
    const std::vector<float> packet(882, 0.1f);
    int frames = 0;
    allocations = 0;
    counting = true;
    for (int i = 0; i < 1000; ++i)
        assembler.push(packet.data(), packet.size(), [&frames](const std::int16_t *) { ++frames; });
    counting = false;
    QCOMPARE(allocations.load(), 0);
    QCOMPARE(frames, 1000 * 882 / 960);
}

QTEST_APPLESS_MAIN(TestFrameAssembler)
#include "tst_frameassembler.moc"
