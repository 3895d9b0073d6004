#include "audio/platform/fake/fakeaudioplatform.h"
#include "audio/wasapicapture.h"

#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int waitMs = 5000;

// What a capture callback received, written on the capture thread, read by the test.
class Received
{
public:
    CaptureCallback callback()
    {
        return [this](const float *samples, std::uint64_t frames, Clock::time_point) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                all.insert(all.end(), samples, samples + frames * 2);
                counts.push_back(frames);
                times.push_back(Clock::now());
            }
            changed.notify_all();
        };
    }
    // Waits for the count-th call (from 1); when it came, or nullopt on timeout.
    std::optional<Clock::time_point> waitForCall(std::size_t count) const
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [&] { return times.size() >= count; }))
            return std::nullopt;
        return times[count - 1];
    }
    std::vector<float> samples() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return all;
    }
    std::vector<std::uint64_t> frameCounts() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return counts;
    }

private:
    mutable std::mutex mutex; // guards all, counts and times
    mutable std::condition_variable changed;
    std::vector<float> all;
    std::vector<std::uint64_t> counts;
    std::vector<Clock::time_point> times;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

class TestWasapiCapture : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void silentPacketIsZerosWithItsFrameCount();
    void integerSamplesAreScaledByTheirWidth_data();
    void integerSamplesAreScaledByTheirWidth();
    void unreadableFormatStartsButDeliversNothing();
    void failingCallsAreRetried();
    void lostDeviceIsPolledQuietlyUntilStop();
    void startWhileRunningStopsTheFirstCapture();
    void stopWhenStoppedDoesNothing();
    void failedStartLeavesNoThread_data();
    void failedStartLeavesNoThread();
    void emptyIdCapturesTheDefaultOutput();
    void otherLayoutsArriveAs48kStereo();
    void packetEventWakesTheCapture_data();
    void packetEventWakesTheCapture();
    void eventSyncWaitsForAWholeFrame();
    void quietDeviceIsFilledWithSilenceAtThePace();
    void switchingContinuousOnInAQuietSpellSendsNoBacklog();

private:
    FakeAudioPlatform *platform = nullptr;
    std::shared_ptr<FakeEndpoint> speakers;
};

void TestWasapiCapture::init()
{
    platform = &FakeAudioPlatform::install();
    speakers = platform->addEndpoint(L"speakers", L"Speakers");
}

void TestWasapiCapture::silentPacketIsZerosWithItsFrameCount()
{
    Received received;
    WasapiCapture capture;
    QVERIFY(capture.start(L"speakers", received.callback()));
    speakers->feedSilence(480);
    QVERIFY(speakers->waitUntilCaptured(waitMs));
    QCOMPARE(received.frameCounts(), std::vector<std::uint64_t>{480});
    QCOMPARE(received.samples(), std::vector<float>(960, 0.0f));
}

void TestWasapiCapture::integerSamplesAreScaledByTheirWidth_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QByteArray>("bytes"); // one stereo frame
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("right");

    const int pcm = int(StreamFormat::Encoding::Pcm);
    QTest::newRow("16-bit extremes")
        << pcm << 16 << QByteArray::fromHex("0080ff7f") << -1.0f << 32767.0f / 32768.0f;
    QTest::newRow("24-bit extremes")
        << pcm << 24 << QByteArray::fromHex("000080ffff7f") << -1.0f << 8388607.0f / 8388608.0f;
    QTest::newRow("24-bit small") << pcm << 24 << QByteArray::fromHex("010000ffffff")
                                  << 1.0f / 8388608.0f << -1.0f / 8388608.0f;
    QTest::newRow("32-bit") << pcm << 32 << QByteArray::fromHex("0000008000000040") << -1.0f
                            << 0.5f;
    QTest::newRow("float passes through")
        << int(StreamFormat::Encoding::Float) << 32 << QByteArray::fromHex("0000803e000040bf")
        << 0.25f << -0.75f;
}

void TestWasapiCapture::integerSamplesAreScaledByTheirWidth()
{
    QFETCH(int, encoding);
    QFETCH(int, bits);
    QFETCH(QByteArray, bytes);
    QFETCH(float, left);
    QFETCH(float, right);

    speakers->setLoopbackFormat(StreamFormat{StreamFormat::Encoding(encoding), 48000, 2, bits});
    Received received;
    WasapiCapture capture;
    QVERIFY(capture.start(L"speakers", received.callback()));
    speakers->feedPacket(std::vector<unsigned char>(bytes.begin(), bytes.end()), 1);
    QVERIFY(speakers->waitUntilCaptured(waitMs));
    QCOMPARE(received.frameCounts(), std::vector<std::uint64_t>{1});
    QCOMPARE(received.samples(), (std::vector<float>{left, right}));
}

void TestWasapiCapture::unreadableFormatStartsButDeliversNothing()
{
    speakers->setLoopbackFormat(StreamFormat{StreamFormat::Encoding::Pcm, 48000, 2, 8});
    Received received;
    WasapiCapture capture;
    QVERIFY(capture.start(L"speakers", received.callback()));
    speakers->feedPacket(std::vector<unsigned char>(200, 0x40), 100);
    speakers->feedSilence(100);
    QVERIFY(speakers->waitUntilCaptured(waitMs));
    QCOMPARE(speakers->capturedPackets(), 2); // taken and released, unseen
    QVERIFY(received.frameCounts().empty());
}

void TestWasapiCapture::failingCallsAreRetried()
{
    Received received;
    WasapiCapture capture;
    QVERIFY(capture.start(L"speakers", received.callback()));
    speakers->failPacketSize(3);
    speakers->failGetBuffer(3);
    speakers->feedFloat({0.5f, -0.5f, 0.25f, -0.25f});
    QVERIFY(speakers->waitUntilCaptured(waitMs));
    QCOMPARE(received.frameCounts(), std::vector<std::uint64_t>{2});
    QCOMPARE(received.samples(), (std::vector<float>{0.5f, -0.5f, 0.25f, -0.25f}));

    // A packet that can never be fetched neither spins the thread nor holds up stop.
    speakers->failGetBuffer(std::numeric_limits<int>::max());
    speakers->feedFloat({0.5f, 0.5f});
    QTest::qWait(50);
    const auto before = std::chrono::steady_clock::now();
    capture.stop();
    QVERIFY(std::chrono::steady_clock::now() - before < std::chrono::milliseconds(500));
    QCOMPARE(received.frameCounts().size(), std::size_t(1));
}

void TestWasapiCapture::lostDeviceIsPolledQuietlyUntilStop()
{
    Received received;
    WasapiCapture capture;
    QVERIFY(capture.start(L"speakers", received.callback()));
    speakers->feedFloat(std::vector<float>(960, 0.1f));
    platform->removeEndpoint(L"speakers");
    QTest::qWait(50);
    const auto before = std::chrono::steady_clock::now();
    capture.stop();
    QVERIFY(std::chrono::steady_clock::now() - before < std::chrono::milliseconds(500));
    QCOMPARE(speakers->openStreams(), 0);
    QCOMPARE(platform->attachedThreads(), 1); // the test thread, by the engine's constructor
}

void TestWasapiCapture::startWhileRunningStopsTheFirstCapture()
{
    auto cable = platform->addEndpoint(L"cable", L"CABLE Input");
    Received first;
    Received second;
    WasapiCapture capture;
    QVERIFY(capture.start(L"speakers", first.callback()));
    QTRY_COMPARE(platform->attachedThreads(), 2);
    QVERIFY(capture.start(L"cable", second.callback()));

    // The first stream is gone and its thread has ended (the new one may not have begun).
    QCOMPARE(speakers->openStreams(), 0);
    QVERIFY(!speakers->isCapturing());
    QVERIFY(cable->isCapturing());
    QVERIFY(platform->attachedThreads() <= 2);
    QTRY_COMPARE(platform->attachedThreads(), 2);

    speakers->feedFloat({0.1f, 0.1f});
    cable->feedFloat({0.2f, 0.2f});
    QVERIFY(cable->waitUntilCaptured(waitMs));
    QTest::qWait(50);
    QVERIFY(first.frameCounts().empty());
    QCOMPARE(second.samples(), (std::vector<float>{0.2f, 0.2f}));
}

void TestWasapiCapture::stopWhenStoppedDoesNothing()
{
    {
        WasapiCapture capture;
        capture.stop();
        capture.stop();
        Received received;
        QVERIFY(capture.start(L"speakers", received.callback()));
        capture.stop();
        QCOMPARE(platform->attachedThreads(), 1);
        QCOMPARE(speakers->openStreams(), 0);
        capture.stop();
        QCOMPARE(platform->attachedThreads(), 1);
    }
    QCOMPARE(platform->attachedThreads(), 0);
}

void TestWasapiCapture::failedStartLeavesNoThread_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("failure"); // 0 none, 1 open, 2 stream open, 3 stream start

    QTest::newRow("unknown id") << "nowhere" << 0;
    QTest::newRow("endpoint does not open") << "speakers" << 1;
    QTest::newRow("no loopback stream") << "speakers" << 2;
    QTest::newRow("stream does not start") << "speakers" << 3;
}

void TestWasapiCapture::failedStartLeavesNoThread()
{
    QFETCH(QString, id);
    QFETCH(int, failure);

    speakers->setOpenFails(failure == 1);
    speakers->setStreamOpenFails(failure == 2);
    speakers->setStreamStartFails(failure == 3);
    Received received;
    WasapiCapture capture;
    QVERIFY(!capture.start(id.toStdWString(), received.callback()));
    QCOMPARE(platform->attachedThreads(), 1);
    QCOMPARE(speakers->openStreams(), 0);
    capture.stop();

    // Nothing is left over that a later start could trip on.
    speakers->setOpenFails(false);
    speakers->setStreamOpenFails(false);
    speakers->setStreamStartFails(false);
    QVERIFY(capture.start(L"speakers", received.callback()));
    speakers->feedSilence(10);
    QVERIFY(speakers->waitUntilCaptured(waitMs));
    QCOMPARE(received.frameCounts(), std::vector<std::uint64_t>{10});
}

void TestWasapiCapture::emptyIdCapturesTheDefaultOutput()
{
    auto cable = platform->addEndpoint(L"cable", L"CABLE Input");
    platform->setDefaultEndpoint(L"cable");
    Received received;
    WasapiCapture capture;
    QVERIFY(capture.start(L"", received.callback()));
    QVERIFY(cable->isCapturing());
    QVERIFY(!speakers->isCapturing());
}

void TestWasapiCapture::otherLayoutsArriveAs48kStereo()
{
    // A mono 44100 Hz 16-bit endpoint playing a 1 kHz tone for a second, in 10 ms packets.
    speakers->setLoopbackFormat(StreamFormat{StreamFormat::Encoding::Pcm, 44100, 1, 16});
    Received received;
    WasapiCapture capture;
    QVERIFY(capture.start(L"speakers", received.callback()));
    for (int packet = 0; packet < 100; ++packet) {
        std::vector<std::int16_t> samples(441);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] =
                std::int16_t(std::lround(16384.0 * std::sin(2.0 * 3.14159265358979 * 1000.0 *
                                                            double(packet * 441 + i) / 44100.0)));
        speakers->feedInt16(samples);
    }
    QVERIFY(speakers->waitUntilCaptured(waitMs));

    const std::vector<float> samples = received.samples();
    std::uint64_t frames = 0;
    for (std::uint64_t count : received.frameCounts())
        frames += count;
    QCOMPARE(samples.size(), std::size_t(frames * 2));
    QVERIFY2(frames > 47900 && frames <= 48000, qPrintable(QString::number(frames)));
    float peak = 0.0f;
    for (std::size_t i = 0; i < samples.size(); i += 2) {
        QCOMPARE(samples[i], samples[i + 1]);
        peak = std::max(peak, std::abs(samples[i]));
    }
    QVERIFY2(std::abs(peak - 0.5f) < 1e-3f, qPrintable(QString::number(peak)));
}

void TestWasapiCapture::packetEventWakesTheCapture_data()
{
    QTest::addColumn<bool>("eventSync");
    QTest::addColumn<bool>("eventFires");
    QTest::addColumn<bool>("prompt");

    QTest::newRow("event sync, event fires") << true << true << true;
    // A sound system whose event never comes still delivers, at the poll.
    QTest::newRow("event sync, event never fires") << true << false << false;
    // Switched off: the plain poll, whatever the sound system signals.
    QTest::newRow("polling") << false << true << false;
}

// How long each packet, of the given frames, took to reach the callback when it was made
// ready 2 ms after the capture last delivered one (and so had last woken).
std::vector<double> deliveryDelaysMs(FakeEndpoint &endpoint, Received &received,
                                     const std::vector<std::uint32_t> &packetFrames)
{
    std::vector<double> delays;
    endpoint.feedFloat(std::vector<float>(2 * 480, 0.1f));
    std::optional<Clock::time_point> woke = received.waitForCall(1);
    for (std::size_t i = 0; woke && i < packetFrames.size(); ++i) {
        std::this_thread::sleep_until(*woke + std::chrono::milliseconds(2));
        const Clock::time_point fed = Clock::now();
        endpoint.feedFloat(std::vector<float>(2 * packetFrames[i], 0.1f));
        woke = received.waitForCall(i + 2);
        if (woke)
            delays.push_back(std::chrono::duration<double, std::milli>(*woke - fed).count());
    }
    return delays;
}

// A packet that completes a frame, made ready 2 ms after the capture last woke, is delivered
// within 3 ms with event sync, and only at the next 10 ms poll without it.
void TestWasapiCapture::packetEventWakesTheCapture()
{
    QFETCH(bool, eventSync);
    QFETCH(bool, eventFires);
    QFETCH(bool, prompt);

    speakers->setPacketEvents(eventFires);
    Received received;
    WasapiCapture capture;
    capture.setEventSync(eventSync);
    QVERIFY(capture.start(L"speakers", received.callback()));
    const std::vector<double> delays =
        deliveryDelaysMs(*speakers, received, std::vector<std::uint32_t>(10, 480));
    QCOMPARE(delays.size(), std::size_t(10));
    const double typicalMs = median(delays);
    if (prompt)
        QVERIFY2(typicalMs <= 3, qPrintable(QString::number(typicalMs)));
    else
        QVERIFY2(typicalMs >= 5, qPrintable(QString::number(typicalMs)));
    QCOMPARE(speakers->packetWaits() > 0, eventSync);
}

// Event sync wakes for the audio that completes a frame, not for every piece of one: the
// first half of a frame waits for the poll, the second comes through at once.
void TestWasapiCapture::eventSyncWaitsForAWholeFrame()
{
    Received received;
    WasapiCapture capture;
    capture.setEventSync(true);
    QVERIFY(capture.start(L"speakers", received.callback()));
    const std::vector<double> delays =
        deliveryDelaysMs(*speakers, received, std::vector<std::uint32_t>(12, 240));
    QCOMPARE(delays.size(), std::size_t(12));
    std::vector<double> firstHalves;
    std::vector<double> secondHalves;
    for (std::size_t i = 0; i < delays.size(); ++i)
        (i % 2 == 0 ? firstHalves : secondHalves).push_back(delays[i]);
    QVERIFY2(median(firstHalves) >= 5, qPrintable(QString::number(median(firstHalves))));
    QVERIFY2(median(secondHalves) <= 3, qPrintable(QString::number(median(secondHalves))));
}

// With continuous capture a device that delivers nothing is stood in for by 10 ms frames of
// silence, one every 10 ms once it has been quiet for 30 ms; a packet from the device comes
// through as it is, with no frames owed for the time before it. Without, nothing comes.
void TestWasapiCapture::quietDeviceIsFilledWithSilenceAtThePace()
{
    Received quiet;
    {
        WasapiCapture capture;
        QVERIFY(capture.start(L"speakers", quiet.callback()));
        QTest::qWait(200);
    }
    QVERIFY(quiet.frameCounts().empty());

    Received received;
    WasapiCapture capture;
    capture.setContinuousCapture(true);
    const Clock::time_point started = Clock::now();
    QVERIFY(capture.start(L"speakers", received.callback()));
    QTest::qWait(300);
    speakers->feedFloat(std::vector<float>(2 * 480, 0.5f));
    const Clock::time_point fed = Clock::now();
    QVERIFY(speakers->waitUntilCaptured(waitMs));
    QTest::qWait(300);
    capture.stop();
    const Clock::time_point stopped = Clock::now();

    const std::vector<std::uint64_t> counts = received.frameCounts();
    const std::vector<float> samples = received.samples();
    const auto real = std::find(samples.begin(), samples.end(), 0.5f);
    QVERIFY(real != samples.end());
    const auto silentBefore = std::size_t(real - samples.begin()) / (2 * 480);
    QCOMPARE(std::size_t(std::count(samples.begin(), samples.end(), 0.0f)),
             samples.size() - 2 * 480);
    for (std::uint64_t count : counts)
        QCOMPARE(count, std::uint64_t(480));
    // The pace, counted on the clock: 30 ms of waiting, then one frame every 10 ms.
    const auto expected = [](Clock::duration quietFor) {
        return std::chrono::duration<double, std::milli>(quietFor).count() / 10 - 3;
    };
    const double before = expected(fed - started);
    const double after = expected(stopped - fed);
    QVERIFY2(std::abs(double(silentBefore) - before) <= 3,
             qPrintable(QStringLiteral("%1 frames, %2 due").arg(silentBefore).arg(before)));
    const std::size_t silentAfter = counts.size() - silentBefore - 1;
    QVERIFY2(std::abs(double(silentAfter) - after) <= 3,
             qPrintable(QStringLiteral("%1 frames, %2 due").arg(silentAfter).arg(after)));
}

void TestWasapiCapture::switchingContinuousOnInAQuietSpellSendsNoBacklog()
{
    Received received;
    WasapiCapture capture;
    QVERIFY(capture.start(L"speakers", received.callback()));
    QTest::qWait(300);
    QElapsedTimer on;
    on.start();
    capture.setContinuousCapture(true);
    QTest::qWait(100);
    capture.setContinuousCapture(false);
    const qint64 onMs = on.elapsed();
    const std::size_t calls = received.frameCounts().size();
    // One silent frame per 10 ms while on; the 300 ms before would be 30 more.
    QVERIFY2(calls >= 5 && double(calls) <= onMs / 10.0 + 3,
             qPrintable(QStringLiteral("%1 frames in %2 ms").arg(calls).arg(onMs)));
    QTest::qWait(100);
    QCOMPARE(received.frameCounts().size(), calls);
}

QTEST_GUILESS_MAIN(TestWasapiCapture)
#include "tst_wasapicapture.moc"
