#include "audio/platform/fake/fakeaudioplatform.h"
#include "audio/wasapiplayer.h"

#include <QTest>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int waitMs = 5000;

// `count` samples counting up from `first`.
std::vector<std::int16_t> ramp(std::size_t count, int first = 1)
{
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = std::int16_t(first + int(i));
    return samples;
}

template <typename T>
std::vector<T> slice(const std::vector<T> &all, std::size_t first, std::size_t count)
{
    return std::vector<T>(all.begin() + first, all.begin() + first + count);
}

} // namespace

class TestWasapiPlayer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void nothingPushedPlaysSilence();
    void shortQueuePlaysThenFillsWithZeros();
    void longQueueKeepsTheRestInOrder();
    void onlyTheFreePartOfTheBufferIsWritten();
    void pushingWhileRenderingKeepsEverySampleInOrder();
    void pushWhileStoppedIsIgnoredAndRestartsAreEmpty();
    void pendingAudioIsBoundedByDroppingTheOldest();
    void boundFollowsTheStartedFormat();
    void floatFallbackWritesScaledSamples();
    void fallbackLayoutsStayInsideBothBuffers_data();
    void fallbackLayoutsStayInsideBothBuffers();
    void unwritableFallbackFailsToStart();
    void failedStartLeavesNoThread();
    void timeoutsWakeTheLoopWithoutEvents();
    void emptyIdPlaysToTheDefaultOutput();

private:
    bool startOnCable(WasapiPlayer &player, std::uint32_t rate = 48000, std::uint16_t channels = 2);
    // One wake of the render thread; returns what it wrote.
    std::vector<std::int16_t> renderOnce();

    FakeAudioPlatform *platform = nullptr;
    std::shared_ptr<FakeEndpoint> cable;
};

void TestWasapiPlayer::init()
{
    platform = &FakeAudioPlatform::install();
    cable = platform->addEndpoint(L"cable", L"CABLE Input");
    // The device wants 480 frames (960 samples) at each wake, and wakes only when told.
    cable->setManualRenderEvents(true);
    cable->setRenderBufferFrames(480);
}

bool TestWasapiPlayer::startOnCable(WasapiPlayer &player, std::uint32_t rate,
                                    std::uint16_t channels)
{
    return player.start(L"cable", rate, channels);
}

std::vector<std::int16_t> TestWasapiPlayer::renderOnce()
{
    cable->clearRendered();
    const int before = cable->renderCycles();
    cable->triggerRender();
    if (!cable->waitForRenderCycles(before + 1, waitMs))
        return {};
    return cable->renderedInt16();
}

void TestWasapiPlayer::nothingPushedPlaysSilence()
{
    WasapiPlayer player;
    QVERIFY(startOnCable(player));
    QCOMPARE(renderOnce(), std::vector<std::int16_t>(960, 0));
    QCOMPARE(renderOnce(), std::vector<std::int16_t>(960, 0));
    QCOMPARE(cable->renderOverruns(), 0);
}

void TestWasapiPlayer::shortQueuePlaysThenFillsWithZeros()
{
    WasapiPlayer player;
    QVERIFY(startOnCable(player));
    const std::vector<std::int16_t> pushed = ramp(100, -50);
    player.pushSamples(pushed.data(), pushed.size());
    const std::vector<std::int16_t> played = renderOnce();
    QCOMPARE(played.size(), std::size_t(960));
    QCOMPARE(slice(played, 0, 100), pushed);
    QCOMPARE(slice(played, 100, 860), std::vector<std::int16_t>(860, 0));
    // The queue is empty afterwards.
    QCOMPARE(renderOnce(), std::vector<std::int16_t>(960, 0));
}

void TestWasapiPlayer::longQueueKeepsTheRestInOrder()
{
    WasapiPlayer player;
    QVERIFY(startOnCable(player));
    const std::vector<std::int16_t> pushed = ramp(2000);
    player.pushSamples(pushed.data(), pushed.size());
    QCOMPARE(renderOnce(), slice(pushed, 0, 960));
    QCOMPARE(renderOnce(), slice(pushed, 960, 960));
    const std::vector<std::int16_t> last = renderOnce();
    QCOMPARE(slice(last, 0, 80), slice(pushed, 1920, 80));
    QCOMPARE(slice(last, 80, 880), std::vector<std::int16_t>(880, 0));
}

void TestWasapiPlayer::onlyTheFreePartOfTheBufferIsWritten()
{
    cable->setRenderPadding(400);
    WasapiPlayer player;
    QVERIFY(startOnCable(player));
    const std::vector<std::int16_t> pushed = ramp(500);
    player.pushSamples(pushed.data(), pushed.size());
    QCOMPARE(renderOnce(), slice(pushed, 0, 160));
    QCOMPARE(renderOnce(), slice(pushed, 160, 160));

    // A full buffer takes nothing and keeps the queue.
    cable->setRenderPadding(480);
    cable->clearRendered();
    const int before = cable->renderCycles();
    cable->triggerRender();
    QTest::qWait(50);
    QCOMPARE(cable->renderCycles(), before);
    cable->setRenderPadding(0);
    const std::vector<std::int16_t> rest = renderOnce();
    QCOMPARE(slice(rest, 0, 180), slice(pushed, 320, 180));
}

void TestWasapiPlayer::pushingWhileRenderingKeepsEverySampleInOrder()
{
    WasapiPlayer player;
    QVERIFY(startOnCable(player));
    // Pushes and wakes race each other; whatever the interleaving, the audio comes out whole
    // and in order, with silence only where the queue ran dry.
    const std::vector<std::int16_t> pushed = ramp(9600);
    for (std::size_t first = 0; first < pushed.size(); first += 96) {
        player.pushSamples(pushed.data() + first, 96);
        cable->triggerRender();
    }
    cable->triggerRender(20);
    QVERIFY(cable->waitForRenderCycles(120, waitMs));
    std::vector<std::int16_t> played = cable->renderedInt16();
    played.erase(std::remove(played.begin(), played.end(), 0), played.end());
    QCOMPARE(played, pushed);
}

void TestWasapiPlayer::pushWhileStoppedIsIgnoredAndRestartsAreEmpty()
{
    WasapiPlayer player;
    const std::vector<std::int16_t> pushed = ramp(400);
    player.pushSamples(pushed.data(), pushed.size());
    QVERIFY(startOnCable(player));
    QCOMPARE(renderOnce(), std::vector<std::int16_t>(960, 0));

    // What is pending when the stream stops is gone after the next start.
    player.pushSamples(pushed.data(), pushed.size());
    player.stop();
    player.pushSamples(pushed.data(), pushed.size());
    QCOMPARE(cable->openStreams(), 0);
    QCOMPARE(platform->attachedThreads(), 1);
    player.stop();
    QVERIFY(startOnCable(player));
    QCOMPARE(renderOnce(), std::vector<std::int16_t>(960, 0));
}

void TestWasapiPlayer::pendingAudioIsBoundedByDroppingTheOldest()
{
    QCOMPARE(WasapiPlayer::maxPendingMs, 200);
    const std::size_t bound = 19200; // 200 ms of 48000 Hz stereo
    cable->setRenderBufferFrames(9600);
    WasapiPlayer player;
    QVERIFY(startOnCable(player));

    // 25000 samples in 10 ms packets: only the newest 19200 are kept.
    const std::vector<std::int16_t> pushed = ramp(25000, -12500);
    for (std::size_t first = 0; first < pushed.size(); first += 960) {
        const std::size_t count = std::min<std::size_t>(960, pushed.size() - first);
        player.pushSamples(pushed.data() + first, count);
    }
    std::vector<std::int16_t> played = renderOnce();
    QCOMPARE(played.size(), bound);
    QCOMPARE(played, slice(pushed, pushed.size() - bound, bound));

    // One push larger than the bound keeps its own newest samples.
    player.pushSamples(pushed.data(), pushed.size());
    played = renderOnce();
    QCOMPARE(played, slice(pushed, pushed.size() - bound, bound));
    QCOMPARE(cable->renderOverruns(), 0);
}

void TestWasapiPlayer::boundFollowsTheStartedFormat()
{
    // 200 ms at 24000 Hz mono is 4800 samples.
    cable->setRenderBufferFrames(9600);
    WasapiPlayer player;
    QVERIFY(startOnCable(player, 24000, 1));
    const std::vector<std::int16_t> pushed = ramp(6000);
    player.pushSamples(pushed.data(), pushed.size());
    const std::vector<std::int16_t> played = renderOnce();
    QCOMPARE(slice(played, 0, 4800), slice(pushed, 1200, 4800));
    QCOMPARE(slice(played, 4800, 4800), std::vector<std::int16_t>(4800, 0));
}

void TestWasapiPlayer::floatFallbackWritesScaledSamples()
{
    cable->setRenderFormat(StreamFormat{StreamFormat::Encoding::Float, 48000, 2, 32});
    WasapiPlayer player;
    QVERIFY(startOnCable(player));
    const std::vector<std::int16_t> pushed = {-32768, 32767, 16384, -1, 0, 1};
    player.pushSamples(pushed.data(), pushed.size());
    cable->triggerRender();
    QVERIFY(cable->waitForRenderCycles(1, waitMs));
    const std::vector<float> played = cable->renderedFloat();
    QCOMPARE(played.size(), std::size_t(960));
    for (std::size_t i = 0; i < pushed.size(); ++i)
        QCOMPARE(played[i], float(pushed[i]) / 32768.0f);
    QCOMPARE(slice(played, 6, 954), std::vector<float>(954, 0.0f));
}

void TestWasapiPlayer::fallbackLayoutsStayInsideBothBuffers_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    // The first output frame for the pushed frame (1000, -2000), as integers of the
    // output's width or, for float, scaled by 32768.
    QTest::addColumn<QList<qint64>>("firstFrame");

    const int pcm = int(StreamFormat::Encoding::Pcm);
    const int floating = int(StreamFormat::Encoding::Float);
    QTest::newRow("float 5.1") << floating << 6 << 32 << QList<qint64>{1000, -2000, 0, 0, 0, 0};
    QTest::newRow("float mono") << floating << 1 << 32 << QList<qint64>{-500};
    QTest::newRow("16-bit mono") << pcm << 1 << 16 << QList<qint64>{-500};
    QTest::newRow("24-bit stereo") << pcm << 2 << 24 << QList<qint64>{1000 * 256, -2000 * 256};
    QTest::newRow("32-bit 7.1") << pcm << 8 << 32
                                << QList<qint64>{1000 * 65536, -2000 * 65536, 0, 0, 0, 0, 0, 0};
}

void TestWasapiPlayer::fallbackLayoutsStayInsideBothBuffers()
{
    QFETCH(int, encoding);
    QFETCH(int, channels);
    QFETCH(int, bits);
    QFETCH(QList<qint64>, firstFrame);

    const StreamFormat format =
        StreamFormat{StreamFormat::Encoding(encoding), 48000, channels, bits};
    cable->setRenderFormat(format);
    WasapiPlayer player;
    QVERIFY(startOnCable(player));

    // A frame to check, then an odd count that leaves half a frame at the end: however the
    // layouts differ, nothing is read past the queue or written past the buffer.
    std::vector<std::int16_t> pushed = {1000, -2000};
    const std::vector<std::int16_t> more = ramp(1501);
    pushed.insert(pushed.end(), more.begin(), more.end());
    player.pushSamples(pushed.data(), pushed.size());
    for (int cycle = 1; cycle <= 3; ++cycle) {
        cable->triggerRender();
        QVERIFY(cable->waitForRenderCycles(cycle, waitMs));
    }
    QCOMPARE(cable->renderOverruns(), 0);
    const std::vector<unsigned char> bytes = cable->renderedBytes();
    QCOMPARE(bytes.size(), std::size_t(3 * 480 * format.blockAlign()));

    const int width = bits / 8;
    for (int channel = 0; channel < channels; ++channel) {
        const unsigned char *at = bytes.data() + channel * width;
        qint64 value = 0;
        if (format.encoding == StreamFormat::Encoding::Float) {
            float sample;
            std::memcpy(&sample, at, sizeof sample);
            value = qint64(sample * 32768.0f);
        } else {
            for (int i = width - 1; i >= 0; --i)
                value = value << 8 | at[i];
            value -= (value >> (bits - 1)) << bits; // sign from the top bit
        }
        QCOMPARE(value, firstFrame[channel]);
    }
    // 1503 samples are 751 stereo frames and a half; the third wake plays nothing but zeros.
    const std::size_t thirdWake = 2 * 480 * std::size_t(format.blockAlign());
    QVERIFY(std::all_of(bytes.begin() + thirdWake, bytes.end(),
                        [](unsigned char b) { return b == 0; }));
}

void TestWasapiPlayer::unwritableFallbackFailsToStart()
{
    cable->setRenderFormat(StreamFormat{StreamFormat::Encoding::Pcm, 48000, 2, 8});
    WasapiPlayer player;
    QVERIFY(!startOnCable(player));
    QCOMPARE(cable->openStreams(), 0);
    QCOMPARE(platform->attachedThreads(), 1);
}

void TestWasapiPlayer::failedStartLeavesNoThread()
{
    WasapiPlayer player;
    QVERIFY(!player.start(L"nowhere", 48000, 2));
    QVERIFY(!player.start(L"cable", 0, 2));
    QVERIFY(!player.start(L"cable", 48000, 0));
    cable->setStreamStartFails(true);
    QVERIFY(!startOnCable(player));
    QCOMPARE(cable->openStreams(), 0);
    QCOMPARE(platform->attachedThreads(), 1);
    const std::vector<std::int16_t> pushed = ramp(100);
    player.pushSamples(pushed.data(), pushed.size());
    player.stop();

    cable->setStreamStartFails(false);
    QVERIFY(startOnCable(player));
    QCOMPARE(renderOnce(), std::vector<std::int16_t>(960, 0));
}

void TestWasapiPlayer::timeoutsWakeTheLoopWithoutEvents()
{
    cable->setManualRenderEvents(false);
    WasapiPlayer player;
    QVERIFY(startOnCable(player));
    // No event ever comes; the 100 ms timeout keeps the device fed.
    QVERIFY(cable->waitForRenderCycles(3, waitMs));
    player.stop();
    QVERIFY(!cable->isRendering());
}

void TestWasapiPlayer::emptyIdPlaysToTheDefaultOutput()
{
    auto speakers = platform->addEndpoint(L"speakers", L"Speakers");
    platform->setDefaultEndpoint(L"speakers");
    WasapiPlayer player;
    QVERIFY(player.start(L"", 48000, 2));
    QVERIFY(speakers->isRendering());
    QVERIFY(!cable->isRendering());
}

QTEST_GUILESS_MAIN(TestWasapiPlayer)
#include "tst_wasapiplayer.moc"
