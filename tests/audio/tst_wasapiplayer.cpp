#include "audio/opuscodec.h"
#include "audio/platform/fake/fakeaudioplatform.h"
#include "audio/wasapiplayer.h"

#include <QTest>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace {

constexpr int waitMs = 5000;
constexpr std::int64_t ms = 1'000'000;
constexpr int frameSize = 480;            // 10 ms at 48000 Hz
constexpr std::size_t dropoutFrames = 48; // 1 ms of silence inside the audio is a dropout

// The time the player sees: the test moves it.
std::atomic<std::int64_t> now{0};
std::int64_t testClock()
{
    return now.load();
}

using Packet = std::vector<unsigned char>;

// A phone's stream: a 1 kHz tone in 10 ms Opus packets, encoded once for every test.
const std::vector<Packet> &tonePackets()
{
    static const std::vector<Packet> packets = [] {
        OpusCodec encoder;
        encoder.initEncoder(48000, 2, 128000);
        std::vector<Packet> encoded;
        std::vector<std::int16_t> frame(2 * frameSize);
        for (int n = 0; n < 300; ++n) {
            for (int i = 0; i < frameSize; ++i)
                frame[2 * std::size_t(i)] = frame[2 * std::size_t(i) + 1] = std::int16_t(
                    8000 * std::sin(2 * M_PI * 1000 * double(n * frameSize + i) / 48000));
            encoded.push_back(encoder.encode(frame.data(), frameSize));
        }
        return encoded;
    }();
    return packets;
}

// The packets decoded in order by a fresh decoder: what a perfect network would play.
std::vector<std::int16_t> decodedInOrder(std::size_t count)
{
    OpusCodec decoder;
    decoder.initDecoder(48000, 2);
    std::vector<std::int16_t> all;
    std::vector<std::int16_t> pcm(2 * 5760);
    for (std::size_t n = 0; n < count; ++n) {
        const Packet &packet = tonePackets()[n];
        const int frames = decoder.decode(packet.data(), int(packet.size()), pcm.data(), 5760);
        all.insert(all.end(), pcm.begin(), pcm.begin() + 2 * frames);
    }
    return all;
}

struct Arrival
{
    std::uint32_t sequence;
    int atMs;
};
using Script = std::vector<Arrival>;

// Packets 0 to count - 1, each 1 ms after the sender's clock says it is due.
Script onTime(std::uint32_t count)
{
    Script script;
    for (std::uint32_t n = 0; n < count; ++n)
        script.push_back({n, 1 + 10 * int(n)});
    return script;
}

Arrival &arrivalOf(Script &script, std::uint32_t sequence)
{
    return *std::find_if(script.begin(), script.end(),
                         [&](const Arrival &a) { return a.sequence == sequence; });
}

bool silentFrame(const std::vector<std::int16_t> &samples, std::size_t frame)
{
    return samples[2 * frame] == 0 && samples[2 * frame + 1] == 0;
}

struct Audible
{
    std::size_t first = 0; // first frame that is not silent
    std::size_t end = 0;   // one past the last
};

Audible audibleSpan(const std::vector<std::int16_t> &samples)
{
    Audible span;
    const std::size_t frames = samples.size() / 2;
    while (span.first < frames && silentFrame(samples, span.first))
        ++span.first;
    span.end = frames;
    while (span.end > span.first && silentFrame(samples, span.end - 1))
        --span.end;
    return span;
}

// Runs of at least a millisecond of silence between the first and the last sound.
std::vector<std::size_t> dropouts(const std::vector<std::int16_t> &samples)
{
    const Audible span = audibleSpan(samples);
    std::vector<std::size_t> runs;
    std::size_t run = 0;
    for (std::size_t frame = span.first; frame < span.end; ++frame) {
        if (silentFrame(samples, frame)) {
            ++run;
            continue;
        }
        if (run >= dropoutFrames)
            runs.push_back(run);
        run = 0;
    }
    return runs;
}

// Where the first packet's audio starts in what the device got: the device starts playing at
// the first wake (5 ms), the first packet arrives at 1 ms and is heard the target's 40 ms
// later.
constexpr std::size_t startFrame = (1 + 40 - 5) * 48;

} // namespace

// The output engine against the fake sound system: a device that plays one 10 ms period
// at every wake, a clock the test moves, and phones whose packets arrive on a script.
class TestWasapiPlayer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void silenceWhileNothingComes();
    void startsAtTheTargetAndPlaysTheStreamUnchanged();
    void aPacketLateWithinTheTargetChangesNothing();
    void burstsAreAbsorbed();
    void aStallLeavesOneGapAndPlayingResumesAtTheTarget();
    void reorderedAndDuplicatedPacketsPlayAsSent();
    void aLostPacketIsConcealedAndTheTimelineKept();
    void latencyIsReportedWhilePlaying();
    void packetsWhileStoppedAreIgnoredAndRestartsAreEmpty();
    void floatFallbackPlaysTheSameAudioScaled();
    void unwritableFallbackFailsToStart();
    void failedStartLeavesNoThread();
    void timeoutsWakeTheLoopWithoutEvents();
    void emptyIdPlaysToTheDefaultOutput();

private:
    // Plays the script: time runs in 1 ms steps up to endMs, packets are pushed at their
    // arrival, and the device wakes every 10 ms. Returns everything the device got.
    std::vector<std::int16_t> play(WasapiPlayer &player, const Script &script, int endMs);
    std::vector<std::int16_t> playOnCable(const Script &script, int endMs);

    FakeAudioPlatform *platform = nullptr;
    std::shared_ptr<FakeEndpoint> cable;
};

void TestWasapiPlayer::init()
{
    platform = &FakeAudioPlatform::install();
    cable = platform->addEndpoint(L"cable", L"CABLE Input");
    cable->setManualRenderEvents(true);
    cable->setPlaysPeriods(true);
    now = 0;
}

std::vector<std::int16_t> TestWasapiPlayer::play(WasapiPlayer &player, const Script &script,
                                                 int endMs)
{
    Script ordered = script;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const Arrival &a, const Arrival &b) { return a.atMs < b.atMs; });
    auto next = ordered.begin();
    for (int t = 0; t <= endMs; ++t) {
        now = t * ms;
        for (; next != ordered.end() && next->atMs == t; ++next) {
            const Packet &packet = tonePackets()[next->sequence];
            player.pushPacket(next->sequence, packet.data(), packet.size());
        }
        if (t % 10 == 5) {
            cable->triggerRender();
            if (!cable->waitForRenderIdle(waitMs))
                return {};
        }
    }
    return cable->renderedInt16();
}

std::vector<std::int16_t> TestWasapiPlayer::playOnCable(const Script &script, int endMs)
{
    WasapiPlayer player(&testClock);
    if (!player.start(L"cable", 48000, 2))
        return {};
    return play(player, script, endMs);
}

void TestWasapiPlayer::silenceWhileNothingComes()
{
    const std::vector<std::int16_t> played = playOnCable({}, 200);
    QVERIFY(!played.empty());
    QVERIFY(std::all_of(played.begin(), played.end(), [](std::int16_t s) { return s == 0; }));
    // The device gets zeros only to keep it from running dry, and never does.
    QVERIFY(cable->renderQueuedFrames() >= frameSize);
    QCOMPARE(cable->renderStarvedFrames(), std::uint64_t(0));
    QCOMPARE(cable->renderOverruns(), 0);
}

void TestWasapiPlayer::startsAtTheTargetAndPlaysTheStreamUnchanged()
{
    const std::vector<std::int16_t> played = playOnCable(onTime(100), 1200);
    QVERIFY(std::all_of(played.begin(), played.begin() + 2 * std::ptrdiff_t(startFrame),
                        [](std::int16_t s) { return s == 0; }));
    QVERIFY(dropouts(played).empty());
    QCOMPARE(cable->renderStarvedFrames(), std::uint64_t(0));
    // From there on, sample for sample what the phone sent, to its last packet (less the
    // few frames the resampler still looks ahead for when the stream ends).
    const std::vector<std::int16_t> sent = decodedInOrder(100);
    const std::vector<std::int16_t> heard(played.begin() + 2 * std::ptrdiff_t(startFrame),
                                          played.end());
    QVERIFY(heard.size() >= sent.size());
    QVERIFY(std::equal(sent.begin(), sent.end() - 2 * 32, heard.begin()));
}

void TestWasapiPlayer::aPacketLateWithinTheTargetChangesNothing()
{
    const std::vector<std::int16_t> reference = playOnCable(onTime(60), 800);
    init();
    // 10 ms late: its turn has not come, so nothing is concealed and nothing waits, and the
    // target covers it as it is.
    Script script = onTime(60);
    arrivalOf(script, 30).atMs += 10;
    const std::vector<std::int16_t> played = playOnCable(script, 800);
    QVERIFY(played == reference);
}

void TestWasapiPlayer::burstsAreAbsorbed()
{
    // Wi-Fi aggregation: what the phone sends is released every 30 ms, in one go.
    Script script;
    for (std::uint32_t n = 0; n < 150; ++n)
        script.push_back({n, (10 * int(n) / 30 + 1) * 30});
    WasapiPlayer player(&testClock);
    QVERIFY(player.start(L"cable", 48000, 2));
    // Up to just after the last packet, before the stream's end empties the queue.
    const std::vector<std::int16_t> played = play(player, script, script.back().atMs + 5);
    const JitterBuffer::Stats stats = player.playoutStats();
    QVERIFY(dropouts(played).empty());
    QCOMPARE(stats.underruns, std::uint64_t(0));
    QCOMPARE(stats.concealed, std::uint64_t(0));
    QCOMPARE(cable->renderStarvedFrames(), std::uint64_t(0));
    // The target rose to cover packets 20 ms late.
    QVERIFY2(stats.targetMs >= PlayoutTarget::startMs + 5,
             qPrintable(QString::number(stats.targetMs)));
    QCOMPARE(stats.late, std::uint64_t(0));
}

void TestWasapiPlayer::aStallLeavesOneGapAndPlayingResumesAtTheTarget()
{
    // The link stalls for 150 ms: packets 50 to 64 come all at once when it recovers.
    Script script = onTime(120);
    for (std::uint32_t n = 50; n < 65; ++n)
        arrivalOf(script, n).atMs = 651;
    WasapiPlayer player(&testClock);
    QVERIFY(player.start(L"cable", 48000, 2));
    const std::vector<std::int16_t> played = play(player, script, script.back().atMs + 5);
    const JitterBuffer::Stats stats = player.playoutStats();

    const std::vector<std::size_t> gaps = dropouts(played);
    QCOMPARE(gaps.size(), std::size_t(1));
    QVERIFY2(gaps[0] >= 100 * 48, qPrintable(QString::number(gaps[0])));
    QCOMPARE(stats.underruns, std::uint64_t(1));
    QCOMPARE(stats.concealed, std::uint64_t(0));
    QCOMPARE(cable->renderStarvedFrames(), std::uint64_t(0));
    // Nothing was lost or repeated: the gap sits between two packets.
    QCOMPARE(stats.late, std::uint64_t(0));
    QCOMPARE(stats.overflowDrops, std::uint64_t(0));
    // And the target now covers such a stall.
    QVERIFY2(stats.targetMs > 140, qPrintable(QString::number(stats.targetMs)));
}

void TestWasapiPlayer::reorderedAndDuplicatedPacketsPlayAsSent()
{
    const std::vector<std::int16_t> reference = playOnCable(onTime(60), 800);
    init();
    Script script = onTime(60);
    arrivalOf(script, 20).atMs = arrivalOf(script, 21).atMs + 3;
    script.push_back({40, 402});
    script.push_back({45, arrivalOf(script, 45).atMs});
    WasapiPlayer player(&testClock);
    QVERIFY(player.start(L"cable", 48000, 2));
    const std::vector<std::int16_t> played = play(player, script, 800);
    QVERIFY(played == reference);
    QCOMPARE(player.playoutStats().duplicates, std::uint64_t(2));
    QCOMPARE(player.playoutStats().concealed, std::uint64_t(0));
}

void TestWasapiPlayer::aLostPacketIsConcealedAndTheTimelineKept()
{
    const std::vector<std::int16_t> reference = playOnCable(onTime(60), 800);
    init();
    // Packet 30 is lost; it turns up long after its turn and is dropped then.
    Script script = onTime(60);
    arrivalOf(script, 30).atMs = 500;
    WasapiPlayer player(&testClock);
    QVERIFY(player.start(L"cable", 48000, 2));
    const std::vector<std::int16_t> played = play(player, script, 800);
    const JitterBuffer::Stats stats = player.playoutStats();
    QCOMPARE(stats.concealed, std::uint64_t(1));
    QCOMPARE(stats.late, std::uint64_t(1));
    QVERIFY(dropouts(played).empty());
    // The sound lasts exactly as long, and is the same up to the lost packet.
    const Audible span = audibleSpan(played);
    const Audible expected = audibleSpan(reference);
    QCOMPARE(span.first, expected.first);
    QCOMPARE(span.end, expected.end);
    const auto lostAt = std::ptrdiff_t(2 * (startFrame + 30 * frameSize));
    QVERIFY(std::equal(played.begin(), played.begin() + lostAt, reference.begin()));
    QVERIFY(!std::equal(played.begin() + lostAt, played.begin() + lostAt + 2 * frameSize,
                        reference.begin() + lostAt));
}

void TestWasapiPlayer::latencyIsReportedWhilePlaying()
{
    WasapiPlayer player(&testClock);
    QCOMPARE(player.playoutStats().latencyMs, -1);
    QVERIFY(player.start(L"cable", 48000, 2));
    play(player, onTime(250), 2600);
    const JitterBuffer::Stats stats = player.playoutStats();
    QVERIFY(!stats.playing); // the sender stopped at 2.5 s
    // Each packet waited the target's 40 ms from its arrival to the device's output.
    QVERIFY2(std::abs(stats.latencyMs - 40) <= 1, qPrintable(QString::number(stats.latencyMs)));
    player.stop();
    QCOMPARE(player.playoutStats().latencyMs, -1);
}

void TestWasapiPlayer::packetsWhileStoppedAreIgnoredAndRestartsAreEmpty()
{
    WasapiPlayer player(&testClock);
    const Packet &packet = tonePackets()[0];
    player.pushPacket(0, packet.data(), packet.size());
    QVERIFY(player.start(L"cable", 48000, 2));
    // What is pending when the stream stops is gone after the next start.
    for (std::uint32_t n = 0; n < 10; ++n)
        player.pushPacket(n, tonePackets()[n].data(), tonePackets()[n].size());
    player.stop();
    player.pushPacket(10, tonePackets()[10].data(), tonePackets()[10].size());
    QCOMPARE(cable->openStreams(), 0);
    QCOMPARE(platform->attachedThreads(), 1);
    player.stop();
    cable->clearRendered();
    QVERIFY(player.start(L"cable", 48000, 2));
    const std::vector<std::int16_t> played = play(player, {}, 300);
    QVERIFY(std::all_of(played.begin(), played.end(), [](std::int16_t s) { return s == 0; }));
}

void TestWasapiPlayer::floatFallbackPlaysTheSameAudioScaled()
{
    const std::vector<std::int16_t> reference = playOnCable(onTime(30), 400);
    init();
    cable->setRenderFormat(StreamFormat{StreamFormat::Encoding::Float, 48000, 2, 32});
    playOnCable(onTime(30), 400);
    const std::vector<float> played = cable->renderedFloat();
    QCOMPARE(played.size(), reference.size());
    for (std::size_t i = 0; i < played.size(); ++i)
        QCOMPARE(played[i], float(reference[i]) / 32768.0f);
    QCOMPARE(cable->renderOverruns(), 0);
}

void TestWasapiPlayer::unwritableFallbackFailsToStart()
{
    cable->setRenderFormat(StreamFormat{StreamFormat::Encoding::Pcm, 48000, 2, 8});
    WasapiPlayer player;
    QVERIFY(!player.start(L"cable", 48000, 2));
    QCOMPARE(cable->openStreams(), 0);
    QCOMPARE(platform->attachedThreads(), 1);
}

void TestWasapiPlayer::failedStartLeavesNoThread()
{
    WasapiPlayer player(&testClock);
    QVERIFY(!player.start(L"nowhere", 48000, 2));
    QVERIFY(!player.start(L"cable", 0, 2));
    QVERIFY(!player.start(L"cable", 48000, 0));
    cable->setStreamStartFails(true);
    QVERIFY(!player.start(L"cable", 48000, 2));
    QCOMPARE(cable->openStreams(), 0);
    QCOMPARE(platform->attachedThreads(), 1);
    player.pushPacket(0, tonePackets()[0].data(), tonePackets()[0].size());
    player.stop();

    cable->setStreamStartFails(false);
    QVERIFY(player.start(L"cable", 48000, 2));
    const std::vector<std::int16_t> played = play(player, {}, 100);
    QVERIFY(!played.empty());
}

void TestWasapiPlayer::timeoutsWakeTheLoopWithoutEvents()
{
    cable->setManualRenderEvents(false);
    cable->setPlaysPeriods(false);
    WasapiPlayer player;
    QVERIFY(player.start(L"cable", 48000, 2));
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
