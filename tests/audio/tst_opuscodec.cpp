#include "audio/opuscodec.h"

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <cmath>
#include <numeric>
#include <thread>

namespace {

constexpr int sampleRate = 48000;
constexpr int channels = 2;
constexpr int frameSize = 480;
constexpr int maxDecodeFrameSize = 5760;

// Interleaved stereo: a tone of leftHz on the left and rightHz on the right, at half scale.
std::vector<std::int16_t> tones(int frames, double leftHz, double rightHz)
{
    std::vector<std::int16_t> pcm(std::size_t(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / sampleRate;
        pcm[2 * i] = std::int16_t(16000 * std::sin(2 * M_PI * leftHz * t));
        pcm[2 * i + 1] = std::int16_t(16000 * std::sin(2 * M_PI * rightHz * t));
    }
    return pcm;
}

// Interleaved stereo at half scale: on the left a sweep from 200 Hz to 4 kHz, which never
// repeats itself and so shows the codec's delay unambiguously; on the right a tone.
std::vector<std::int16_t> sweepAndTone(int frames, double rightHz)
{
    std::vector<std::int16_t> pcm = tones(frames, 0, rightHz);
    const double duration = double(frames) / sampleRate;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / sampleRate;
        const double phase = 2 * M_PI * (200 * t + (4000 - 200) / (2 * duration) * t * t);
        pcm[2 * i] = std::int16_t(16000 * std::sin(phase));
    }
    return pcm;
}

// Encodes pcm frame by frame and returns every packet.
std::vector<std::vector<unsigned char>> encodeAll(OpusCodec &codec,
                                                  const std::vector<std::int16_t> &pcm)
{
    std::vector<std::vector<unsigned char>> packets;
    for (std::size_t at = 0; at + frameSize * channels <= pcm.size(); at += frameSize * channels)
        packets.push_back(codec.encode(pcm.data() + at, frameSize));
    return packets;
}

double meanSize(const std::vector<std::vector<unsigned char>> &packets)
{
    double total = 0;
    for (const auto &packet : packets)
        total += double(packet.size());
    return total / double(packets.size());
}

// Normalised correlation of one channel of a and b, b read `lag` frames later than a.
double correlation(const std::vector<std::int16_t> &a, const std::vector<std::int16_t> &b,
                   int channel, int lag, int from, int frames)
{
    double ab = 0, aa = 0, bb = 0;
    for (int i = from; i < from + frames; ++i) {
        const double x = a[std::size_t(2 * i + channel)];
        const double y = b[std::size_t(2 * (i + lag) + channel)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return ab / std::sqrt(aa * bb);
}

} // namespace

class TestOpusCodec : public QObject
{
    Q_OBJECT

private slots:
    void nothingWorksBeforeInit();
    void failedInitLeavesNoEncoder();
    void silenceStillGivesAPacket();
    void tenMillisecondPacketDecodesTo480();
    void invalidPacketsDecodeToNothingAndTheDecoderGoesOn();
    void toneSurvivesTheRoundTrip();
    void aLostPacketIsConcealedWithTheToneCarriedOn();
    void everyPositiveBitrateWorksAndLowerIsSmaller();
    void reinitWhileAnotherThreadEncodes();
};

void TestOpusCodec::nothingWorksBeforeInit()
{
    OpusCodec codec;
    const std::vector<std::int16_t> pcm(frameSize * channels);
    QVERIFY(codec.encode(pcm.data(), frameSize).empty());
    const unsigned char packet[] = {0xFC, 0xFF, 0xFE};
    std::vector<std::int16_t> out(maxDecodeFrameSize * channels);
    QCOMPARE(codec.decode(packet, 3, out.data(), maxDecodeFrameSize), 0);
}

void TestOpusCodec::failedInitLeavesNoEncoder()
{
    OpusCodec codec;
    QVERIFY(codec.initEncoder(sampleRate, channels, 128000));
    QVERIFY(!codec.initEncoder(44100, channels, 128000)); // not an Opus rate
    const std::vector<std::int16_t> pcm(frameSize * channels);
    QVERIFY(codec.encode(pcm.data(), frameSize).empty());
    QVERIFY(!codec.initDecoder(sampleRate, 3));
    QVERIFY(codec.initEncoder(sampleRate, channels, 128000));
    QVERIFY(!codec.encode(pcm.data(), frameSize).empty());
}

void TestOpusCodec::silenceStillGivesAPacket()
{
    OpusCodec codec;
    QVERIFY(codec.initEncoder(sampleRate, channels, 128000));
    const std::vector<std::int16_t> silence(frameSize * channels);
    for (int i = 0; i < 10; ++i) // also once the encoder has settled into silence
        QVERIFY(!codec.encode(silence.data(), frameSize).empty());
}

void TestOpusCodec::tenMillisecondPacketDecodesTo480()
{
    OpusCodec encoder;
    OpusCodec decoder;
    QVERIFY(encoder.initEncoder(sampleRate, channels, 128000));
    QVERIFY(decoder.initDecoder(sampleRate, channels));
    const auto packet = encoder.encode(tones(frameSize, 440, 660).data(), frameSize);
    QVERIFY(!packet.empty());
    QVERIFY(int(packet.size()) <= OpusCodec::maxPacketSize);

    std::vector<std::int16_t> out(maxDecodeFrameSize * channels);
    QCOMPARE(decoder.decode(packet.data(), int(packet.size()), out.data(), maxDecodeFrameSize),
             frameSize);
    // A buffer too small for the frame is a failure, not a partial decode.
    QCOMPARE(decoder.decode(packet.data(), int(packet.size()), out.data(), frameSize / 2), 0);
}

void TestOpusCodec::invalidPacketsDecodeToNothingAndTheDecoderGoesOn()
{
    OpusCodec encoder;
    OpusCodec decoder;
    QVERIFY(encoder.initEncoder(sampleRate, channels, 128000));
    QVERIFY(decoder.initDecoder(sampleRate, channels));
    std::vector<std::int16_t> out(maxDecodeFrameSize * channels);

    const unsigned char noFrames[] = {0x03, 0x00};   // code 3 packet counting zero frames
    const unsigned char unevenPair[] = {0x01, 0xAA}; // two equal frames cannot share 1 byte
    QCOMPARE(decoder.decode(noFrames, 2, out.data(), maxDecodeFrameSize), 0);
    QCOMPARE(decoder.decode(unevenPair, 2, out.data(), maxDecodeFrameSize), 0);
    // No packet at all is not a request to make up audio for a lost one.
    QCOMPARE(decoder.decode(nullptr, 0, out.data(), maxDecodeFrameSize), 0);
    QCOMPARE(decoder.decode(noFrames, 0, out.data(), maxDecodeFrameSize), 0);

    const auto packet = encoder.encode(tones(frameSize, 440, 660).data(), frameSize);
    QCOMPARE(decoder.decode(packet.data(), int(packet.size()), out.data(), maxDecodeFrameSize),
             frameSize);
}

void TestOpusCodec::aLostPacketIsConcealedWithTheToneCarriedOn()
{
    OpusCodec encoder;
    OpusCodec decoder;
    QVERIFY(encoder.initEncoder(sampleRate, channels, 128000));
    QVERIFY(decoder.initDecoder(sampleRate, channels));
    const std::vector<std::int16_t> pcm = tones(10 * frameSize, 440, 660);
    std::vector<std::int16_t> out(maxDecodeFrameSize * channels);
    for (int n = 0; n < 9; ++n) {
        const auto packet = encoder.encode(pcm.data() + n * frameSize * channels, frameSize);
        // The length is read from the packet alone, as a queue does before decoding.
        QCOMPARE(OpusCodec::packetFrames(packet.data(), int(packet.size()), sampleRate), frameSize);
        QCOMPARE(decoder.decode(packet.data(), int(packet.size()), out.data(), maxDecodeFrameSize),
                 frameSize);
    }
    // The tenth never comes: what stands in for it keeps the tone's level.
    QCOMPARE(decoder.conceal(out.data(), frameSize), frameSize);
    double energy = 0;
    for (int i = 0; i < frameSize * channels; ++i)
        energy += double(out[i]) * out[i];
    const double rms = std::sqrt(energy / (frameSize * channels));
    QVERIFY2(rms > 16000 / std::sqrt(2.0) / 2, qPrintable(QString::number(rms)));
    // Only lengths the codec can make are concealed.
    QCOMPARE(decoder.conceal(out.data(), 0), 0);
    const unsigned char noFrames[] = {0x03, 0x00};
    QCOMPARE(OpusCodec::packetFrames(noFrames, 2, sampleRate), 0);
    QCOMPARE(OpusCodec::packetFrames(nullptr, 0, sampleRate), 0);
}

void TestOpusCodec::toneSurvivesTheRoundTrip()
{
    OpusCodec encoder;
    OpusCodec decoder;
    QVERIFY(encoder.initEncoder(sampleRate, channels, 128000));
    QVERIFY(decoder.initDecoder(sampleRate, channels));

    const int frames = 50 * frameSize; // half a second
    const std::vector<std::int16_t> source = sweepAndTone(frames, 1500);
    std::vector<std::int16_t> decoded;
    std::vector<std::int16_t> out(maxDecodeFrameSize * channels);
    for (const auto &packet : encodeAll(encoder, source)) {
        const int n =
            decoder.decode(packet.data(), int(packet.size()), out.data(), maxDecodeFrameSize);
        QCOMPARE(n, frameSize);
        decoded.insert(decoded.end(), out.begin(), out.begin() + n * channels);
    }
    QCOMPARE(decoded.size(), source.size());

    // The codec delays the sound by its look-ahead; find that delay on the left channel, then
    // both channels must match their own source there (so they were not swapped either).
    const int from = 5 * frameSize, window = 30 * frameSize;
    int delay = 0;
    double best = -1;
    for (int lag = 0; lag < 2 * frameSize; ++lag) {
        const double c = correlation(source, decoded, 0, lag, from, window);
        if (c > best) {
            best = c;
            delay = lag;
        }
    }
    QVERIFY2(best > 0.95, qPrintable(QString::number(best)));
    QVERIFY2(correlation(source, decoded, 1, delay, from, window) > 0.95,
             qPrintable(QString::number(delay)));

    double sourcePower = 0, decodedPower = 0;
    for (int i = from * channels; i < (from + window) * channels; ++i) {
        sourcePower += double(source[std::size_t(i)]) * source[std::size_t(i)];
        decodedPower += double(decoded[std::size_t(i + delay * channels)]) *
                        decoded[std::size_t(i + delay * channels)];
    }
    const double level = std::sqrt(decodedPower / sourcePower);
    QVERIFY2(level > 0.9 && level < 1.1, qPrintable(QString::number(level)));
}

void TestOpusCodec::everyPositiveBitrateWorksAndLowerIsSmaller()
{
    const std::vector<std::int16_t> music = tones(20 * frameSize, 440, 3520);
    OpusCodec codec;
    OpusCodec decoder;
    QVERIFY(decoder.initDecoder(sampleRate, channels));
    std::vector<std::int16_t> out(maxDecodeFrameSize * channels);
    double previous = 0;
    for (const int bitrate : {1000, 6000, 16000, 64000, 128000, 510000, 2000000}) {
        QVERIFY(codec.initEncoder(sampleRate, channels, bitrate));
        const auto packets = encodeAll(codec, music);
        for (const auto &packet : packets) {
            QVERIFY(!packet.empty());
            QCOMPARE(
                decoder.decode(packet.data(), int(packet.size()), out.data(), maxDecodeFrameSize),
                frameSize);
        }
        const double size = meanSize(packets);
        const QByteArray what =
            QStringLiteral("%1 bit/s: %2 bytes").arg(bitrate).arg(size).toUtf8();
        QVERIFY2(size >= previous, what);
        // Packets follow the rate (bytes per 10 ms), up to where libopus clamps it.
        const double expected = std::min(bitrate, 510000) / 800.0;
        if (bitrate >= 64000)
            QVERIFY2(size > 0.7 * expected && size < 1.3 * expected, what);
        previous = size;
    }

    // Re-created mid-stream at a lower rate, the very next packets are smaller.
    QVERIFY(codec.initEncoder(sampleRate, channels, 128000));
    const double before = meanSize(encodeAll(codec, music));
    QVERIFY(codec.initEncoder(sampleRate, channels, 64000));
    const double after = meanSize(encodeAll(codec, music));
    QVERIFY2(after < 0.7 * before, qPrintable(QStringLiteral("%1 %2").arg(before).arg(after)));

    // A rate libopus refuses leaves its own default in force.
    QVERIFY(codec.initEncoder(sampleRate, channels, -5));
    QVERIFY(!codec.encode(music.data(), frameSize).empty());
}

void TestOpusCodec::reinitWhileAnotherThreadEncodes()
{
    OpusCodec codec;
    QVERIFY(codec.initEncoder(sampleRate, channels, 128000));
    const std::vector<std::int16_t> music = tones(frameSize, 440, 660);

    std::atomic<bool> stop{false};
    std::atomic<int> encoded{0};
    std::atomic<int> empty{0};
    std::thread capture([&] {
        while (!stop) {
            if (codec.encode(music.data(), frameSize).empty())
                ++empty;
            ++encoded;
            std::this_thread::yield();
        }
    });

    // Each new encoder is used before the next replaces it, however slowly a loaded or
    // sanitized machine lets the encoding thread run.
    QElapsedTimer elapsed;
    elapsed.start();
    int reinits = 0;
    while (reinits < 300 && elapsed.elapsed() < 20000) {
        QVERIFY(codec.initEncoder(sampleRate, channels, reinits % 2 ? 64000 : 128000));
        ++reinits;
        const int before = encoded;
        while (encoded == before && elapsed.elapsed() < 20000)
            std::this_thread::yield();
    }
    stop = true;
    capture.join();

    // Every encode found a whole encoder, old or new.
    QCOMPARE(reinits, 300);
    QVERIFY(encoded >= 300);
    QCOMPARE(empty.load(), 0);
}

QTEST_APPLESS_MAIN(TestOpusCodec)
#include "tst_opuscodec.moc"
