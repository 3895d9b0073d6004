// The measuring parts of the benchmarks that a wrong figure would come from without any
// error: the spread of a set of latencies, the finding of clicks and of dropouts, the THD+N
// of a tone, and taking the Opus packet out of an RTP datagram.

#include "distribution.h"
#include "dropoutdetector.h"
#include "onsetdetector.h"
#include "opusreceiver.h"
#include "tonequality.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <vector>

class TestBenchSupport : public QObject
{
    Q_OBJECT

private slots:
    void distributionMedianP90AndMax();
    void onsetsNeedQuietBeforeThemAndCarryTheirBlocksTime();
    void dropoutsAreSilencesInsideTheSound();
    void thdPlusNoiseOfAToneOffItsNominalFrequency();
    void rtpPayloadSkipsEveryHeaderPartAndPadding();
    void rtpRejectsWhatIsNotRtpOrHoldsNoPayload();
};

void TestBenchSupport::distributionMedianP90AndMax()
{
    const Distribution odd = distributionOf({5, 1, 3});
    QCOMPARE(odd.count, std::size_t(3));
    QCOMPARE(odd.median, 3.0);
    QCOMPARE(odd.max, 5.0);
    QCOMPARE(distributionOf({4, 1, 3, 2}).median, 2.5);
    // Nearest rank: of ten values the ninth, of eleven the tenth.
    std::vector<double> ten;
    for (int i = 1; i <= 10; ++i)
        ten.push_back(i);
    QCOMPARE(distributionOf(ten).p90, 9.0);
    QCOMPARE(distributionOf(ten).p95, 10.0);
    ten.push_back(11);
    QCOMPARE(distributionOf(ten).p90, 10.0);
    for (int i = 12; i <= 20; ++i)
        ten.push_back(i);
    QCOMPARE(distributionOf(ten).p95, 19.0);
    QCOMPARE(distributionOf({}).count, std::size_t(0));
}

void TestBenchSupport::onsetsNeedQuietBeforeThemAndCarryTheirBlocksTime()
{
    OnsetDetector detector(0.1, 100);
    const BenchClock::time_point start{};
    const auto at = [&](int ms) { return start + std::chrono::milliseconds(ms); };
    std::vector<float> quiet(2 * 100, 0.0f);
    std::vector<float> click(2 * 10, 0.0f);
    click[2 * 5] = 0.5f;     // left channel, above the threshold
    click[2 * 7 + 1] = 0.9f; // right channel only: not looked at

    detector.feed(click.data(), 10, at(0)); // nothing quiet before it yet
    detector.feed(quiet.data(), 100, at(1));
    detector.feed(click.data(), 10, at(2));
    // Within the hold-off after the last loud sample: the same click going on.
    detector.feed(quiet.data(), 50, at(3));
    detector.feed(click.data(), 10, at(4));
    detector.feed(quiet.data(), 100, at(5));
    // 16-bit input is scaled the same way: 3277 / 32768 is just over 0.1.
    std::vector<std::int16_t> loud(2 * 4, 0);
    loud[2 * 3] = -3277;
    detector.feed(loud.data(), 4, at(6));

    QCOMPARE(detector.onsets(), (std::vector<BenchClock::time_point>{at(2), at(6)}));
    QCOMPARE(millisecondsBetween(at(2), at(6)), 4.0);
}

namespace {

bool unwrap(const std::vector<unsigned char> &datagram, std::vector<unsigned char> &payload)
{
    const unsigned char *packet = nullptr;
    std::size_t length = 0;
    if (!OpusReceiver::rtp(datagram.data(), datagram.size(), packet, length))
        return false;
    payload.assign(packet, packet + length);
    return true;
}

std::vector<unsigned char> header(unsigned char first)
{
    std::vector<unsigned char> bytes(12, 0);
    bytes[0] = first;
    bytes[1] = 97; // dynamic payload type
    return bytes;
}

} // namespace

void TestBenchSupport::dropoutsAreSilencesInsideTheSound()
{
    DropoutDetector detector(1e-3, 48);
    const auto feed = [&](std::size_t frames, float level) {
        const std::vector<float> stereo(2 * frames, level);
        detector.feed(stereo.data(), frames);
    };
    feed(1000, 0); // before the sound: the stream starting
    feed(100, 0.5f);
    feed(47, 0.0005f); // shorter than a millisecond
    feed(100, -0.5f);
    feed(48, 0); // a dropout
    feed(10, 0.5f);
    feed(200, 0); // another
    feed(10, 0.5f);
    feed(5000, 0); // after the sound: the stream ending
    QCOMPARE(detector.dropouts(), std::size_t(2));
    QCOMPARE(detector.silentFrames(), std::size_t(248));
}

void TestBenchSupport::thdPlusNoiseOfAToneOffItsNominalFrequency()
{
    // A 1003.7 Hz tone with white noise 60 dB below it (a sixth of it above 20 kHz) and a
    // third harmonic 50 dB below: -49.65 dB in all.
    QRandomGenerator random(3);
    const double rate = 48000;
    std::vector<float> samples(thdWindowSamples);
    const double amplitude = 0.25;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double phase = 2 * M_PI * 1003.7 * double(i) / rate + 0.4;
        const double noise =
            (random.generateDouble() - 0.5) * std::sqrt(12.0) * amplitude / std::sqrt(2.0) * 1e-3;
        samples[i] = float(amplitude * std::sin(phase) +
                           amplitude * std::pow(10, -50 / 20.0) * std::sin(3 * phase) + noise);
    }
    const double measured = thdPlusNoiseDb(samples, rate);
    QVERIFY2(std::abs(measured - (-50 + 10 * std::log10(1 + 0.1 * 19940 / 24000))) < 0.3,
             qPrintable(QString::number(measured)));
    // A tone that glides by 1 Hz stays within the notch; the floor is that of float samples.
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / rate;
        samples[i] = float(amplitude * std::sin(2 * M_PI * (996.2 + 3.0 * t) * t));
    }
    const double clean = thdPlusNoiseDb(samples, rate);
    QVERIFY2(clean < -110, qPrintable(QString::number(clean)));
    // A millisecond of silence in it does not.
    std::fill(samples.begin() + 4000, samples.begin() + 4048, 0.0f);
    QVERIFY(thdPlusNoiseDb(samples, rate) > -40);
}

void TestBenchSupport::rtpPayloadSkipsEveryHeaderPartAndPadding()
{
    std::vector<unsigned char> payload;

    std::vector<unsigned char> plain = header(0x80);
    plain.insert(plain.end(), {1, 2, 3});
    QVERIFY(unwrap(plain, payload));
    QCOMPARE(payload, (std::vector<unsigned char>{1, 2, 3}));

    // Two contributing sources, an extension of one word, and three bytes of padding.
    std::vector<unsigned char> full = header(0x80 | 0x20 | 0x10 | 2);
    full.insert(full.end(), 8, 0xCC);                 // the sources
    full.insert(full.end(), {0xBE, 0xDE, 0x00, 0x01}); // extension header: one word
    full.insert(full.end(), 4, 0xEE);                 // the extension word
    full.insert(full.end(), {7, 8});
    full.insert(full.end(), {0, 0, 3}); // padding, its length last
    QVERIFY(unwrap(full, payload));
    QCOMPARE(payload, (std::vector<unsigned char>{7, 8}));
}

void TestBenchSupport::rtpRejectsWhatIsNotRtpOrHoldsNoPayload()
{
    std::vector<unsigned char> payload;
    QVERIFY(!unwrap({0x80, 97, 0, 1}, payload)); // shorter than a header
    std::vector<unsigned char> version1 = header(0x40);
    version1.push_back(1);
    QVERIFY(!unwrap(version1, payload));
    QVERIFY(!unwrap(header(0x80), payload)); // a header and nothing else
    std::vector<unsigned char> allPadding = header(0x80 | 0x20);
    allPadding.insert(allPadding.end(), {0, 0, 4});
    QVERIFY(!unwrap(allPadding, payload));
    std::vector<unsigned char> cutExtension = header(0x80 | 0x10);
    cutExtension.insert(cutExtension.end(), {0xBE, 0xDE});
    QVERIFY(!unwrap(cutExtension, payload));
    // An extension that claims more words than the datagram holds.
    std::vector<unsigned char> longExtension = header(0x80 | 0x10);
    longExtension.insert(longExtension.end(), {0xBE, 0xDE, 0x00, 0x10, 1, 2});
    QVERIFY(!unwrap(longExtension, payload));
}

QTEST_APPLESS_MAIN(TestBenchSupport)
#include "tst_benchsupport.moc"
