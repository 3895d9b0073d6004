#include "audio/captureconverter.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

StreamFormat floatFormat(int rate, int channels, std::uint32_t mask = 0)
{
    return StreamFormat{StreamFormat::Encoding::Float, rate, channels, 32, mask};
}

std::vector<unsigned char> floatBytes(const std::vector<float> &samples)
{
    std::vector<unsigned char> bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// Encodes samples in [-1, 1) as little-endian integers of the given width.
std::vector<unsigned char> pcmBytes(const std::vector<double> &samples, int bits)
{
    std::vector<unsigned char> bytes;
    for (double sample : samples) {
        const auto value = std::int64_t(std::llround(sample * std::pow(2.0, bits - 1)));
        for (int i = 0; i < bits / 8; ++i)
            bytes.push_back(static_cast<unsigned char>(std::uint64_t(value) >> (8 * i)));
    }
    return bytes;
}

std::vector<float> convert(CaptureConverter &converter, const std::vector<unsigned char> &bytes,
                           std::uint32_t frames, bool silent = false)
{
    std::uint64_t outputFrames = 0;
    const float *samples = converter.convert(bytes.data(), frames, silent, outputFrames);
    return std::vector<float>(samples, samples + outputFrames * 2);
}

} // namespace

class TestCaptureConverter : public QObject
{
    Q_OBJECT

private slots:
    void monoReachesBothChannels();
    void surroundFoldsDownToStereo_data();
    void surroundFoldsDownToStereo();
    void nothingPastThePacketIsRead_data();
    void nothingPastThePacketIsRead();
    void silentPacketsIgnoreTheirBytes();
    void unreadableFormatsDeliverNothing_data();
    void unreadableFormatsDeliverNothing();
    void smallPacketsJoinWithoutClicks();
    void buffersAreReusedBetweenPackets();
};

void TestCaptureConverter::monoReachesBothChannels()
{
    CaptureConverter converter;
    QVERIFY(converter.configure(StreamFormat{StreamFormat::Encoding::Pcm, 48000, 1, 16}));
    const std::vector<float> out = convert(converter, pcmBytes({0.5, -0.25, -1.0}, 16), 3);
    QCOMPARE(out, (std::vector<float>{0.5f, 0.5f, -0.25f, -0.25f, -1.0f, -1.0f}));
}

void TestCaptureConverter::surroundFoldsDownToStereo_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<uint>("mask");
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("right");

    // Channel k carries 2^-(k+1), so every channel's share can be told apart.
    const auto value = [](int channel) { return std::ldexp(1.0f, -(channel + 1)); };
    const float fold = 0.70710678f;
    // 5.1 without a mask: FL FR FC LFE BL BR; the LFE is left out.
    QTest::newRow("5.1") << 6 << 0u << value(0) + fold * (value(2) + value(4))
                         << value(1) + fold * (value(2) + value(5));
    // 5.1 with side speakers named: FL FR FC LFE SL SR.
    QTest::newRow("5.1 side") << 6 << 0x60Fu << value(0) + fold * (value(2) + value(4))
                              << value(1) + fold * (value(2) + value(5));
    // Quad without a mask: FL FR BL BR.
    QTest::newRow("quad") << 4 << 0u << value(0) + fold * value(2) << value(1) + fold * value(3);
    // 2.1: FL FR LFE.
    QTest::newRow("2.1") << 3 << 0xBu << value(0) << value(1);
    // 7.1: FL FR FC LFE BL BR SL SR.
    QTest::newRow("7.1") << 8 << 0u << value(0) + fold * (value(2) + value(4) + value(6))
                         << value(1) + fold * (value(2) + value(5) + value(7));
    // More channels than named speakers: the unnamed ones stay out.
    QTest::newRow("10 channels, 3 named")
        << 10 << 0x7u << value(0) + fold * value(2) << value(1) + fold * value(2);
    // A count with no usual layout and no mask: nothing is named, nothing is guessed.
    QTest::newRow("9 channels unnamed") << 9 << 0u << 0.0f << 0.0f;
}

void TestCaptureConverter::surroundFoldsDownToStereo()
{
    QFETCH(int, channels);
    QFETCH(uint, mask);
    QFETCH(float, left);
    QFETCH(float, right);

    CaptureConverter converter;
    QVERIFY(converter.configure(floatFormat(48000, channels, mask)));
    std::vector<float> frame;
    for (int channel = 0; channel < channels; ++channel)
        frame.push_back(std::ldexp(1.0f, -(channel + 1)));
    const std::vector<float> out = convert(converter, floatBytes(frame), 1);
    QCOMPARE(out.size(), std::size_t(2));
    QCOMPARE(out[0], left);
    QCOMPARE(out[1], right);
}

void TestCaptureConverter::nothingPastThePacketIsRead_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("channels");

    const int pcm = int(StreamFormat::Encoding::Pcm);
    const int floating = int(StreamFormat::Encoding::Float);
    QTest::newRow("16-bit mono") << pcm << 16 << 1;
    QTest::newRow("24-bit stereo") << pcm << 24 << 2;
    QTest::newRow("24-bit 5.1") << pcm << 24 << 6;
    QTest::newRow("32-bit stereo") << pcm << 32 << 2;
    QTest::newRow("float stereo") << floating << 32 << 2;
    QTest::newRow("double mono") << floating << 64 << 1;
}

void TestCaptureConverter::nothingPastThePacketIsRead()
{
    QFETCH(int, encoding);
    QFETCH(int, bits);
    QFETCH(int, channels);

    // A packet at half scale on every channel, lying in front of loud garbage; the packet
    // is copied after one spare byte so that float data is also tried unaligned.
    const StreamFormat format =
        StreamFormat{StreamFormat::Encoding(encoding), 48000, channels, bits};
    const std::uint32_t frames = 37;
    std::vector<double> samples(std::size_t(frames) * channels, 0.5);
    std::vector<unsigned char> packet;
    if (format.encoding == StreamFormat::Encoding::Pcm) {
        packet = pcmBytes(samples, bits);
    } else if (bits == 32) {
        packet = floatBytes(std::vector<float>(samples.begin(), samples.end()));
    } else {
        packet.resize(samples.size() * sizeof(double));
        std::memcpy(packet.data(), samples.data(), packet.size());
    }
    QCOMPARE(packet.size(), std::size_t(frames) * format.blockAlign());

    const float expectedLeft = channels > 2 ? 0.5f * (1.0f + 2 * 0.70710678f) : 0.5f;
    for (std::size_t offset : {0, 1}) {
        std::vector<unsigned char> memory(offset, 0);
        memory.insert(memory.end(), packet.begin(), packet.end());
        memory.insert(memory.end(), 64, 0x7F);
        CaptureConverter converter;
        QVERIFY(converter.configure(format));
        std::uint64_t outputFrames = 0;
        const float *out = converter.convert(memory.data() + offset, frames, false, outputFrames);
        QCOMPARE(outputFrames, std::uint64_t(frames));
        for (std::size_t i = 0; i < outputFrames * 2; ++i)
            QVERIFY2(std::abs(out[i] - expectedLeft) < 1e-6f, qPrintable(QString::number(out[i])));
    }
}

void TestCaptureConverter::silentPacketsIgnoreTheirBytes()
{
    CaptureConverter converter;
    QVERIFY(converter.configure(floatFormat(48000, 2)));
    const std::vector<unsigned char> loud = floatBytes(std::vector<float>(20, 0.9f));
    QCOMPARE(convert(converter, loud, 10, true), std::vector<float>(20, 0.0f));

    // A silent packet need not carry data at all.
    std::uint64_t outputFrames = 0;
    const float *out = converter.convert(nullptr, 10, true, outputFrames);
    QCOMPARE(outputFrames, std::uint64_t(10));
    QCOMPARE(std::vector<float>(out, out + 20), std::vector<float>(20, 0.0f));
    // A loud one does: without it nothing is delivered.
    converter.convert(nullptr, 10, false, outputFrames);
    QCOMPARE(outputFrames, std::uint64_t(0));
}

void TestCaptureConverter::unreadableFormatsDeliverNothing_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");

    const int pcm = int(StreamFormat::Encoding::Pcm);
    QTest::newRow("8-bit PCM") << pcm << 48000 << 2 << 8;
    QTest::newRow("20-bit PCM") << pcm << 48000 << 2 << 20;
    QTest::newRow("16-bit float") << int(StreamFormat::Encoding::Float) << 48000 << 2 << 16;
    QTest::newRow("other encoding") << int(StreamFormat::Encoding::Other) << 48000 << 2 << 32;
    QTest::newRow("no channels") << pcm << 48000 << 0 << 16;
    QTest::newRow("no rate") << pcm << 0 << 2 << 16;
}

void TestCaptureConverter::unreadableFormatsDeliverNothing()
{
    QFETCH(int, encoding);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, bits);

    CaptureConverter converter;
    QVERIFY(
        !converter.configure(StreamFormat{StreamFormat::Encoding(encoding), rate, channels, bits}));
    const std::vector<unsigned char> bytes(4096, 0x11);
    QVERIFY(convert(converter, bytes, 16).empty());
    QVERIFY(convert(converter, bytes, 16, true).empty());
}

void TestCaptureConverter::smallPacketsJoinWithoutClicks()
{
    // The same tone converted in one piece and in packets of 1 to 30 frames must agree
    // sample for sample: no packet boundary may add a step.
    const StreamFormat format = floatFormat(44100, 2);
    std::vector<float> tone(2 * 8000);
    for (std::size_t i = 0; i < tone.size() / 2; ++i)
        tone[2 * i] = tone[2 * i + 1] =
            float(0.7 * std::sin(2.0 * pi * 997.0 * double(i) / 44100.0));
    const std::vector<unsigned char> bytes = floatBytes(tone);

    CaptureConverter whole;
    QVERIFY(whole.configure(format));
    const std::vector<float> expected = convert(whole, bytes, std::uint32_t(tone.size() / 2));

    CaptureConverter pieces;
    QVERIFY(pieces.configure(format));
    std::vector<float> out;
    auto *random = QRandomGenerator::global();
    for (std::size_t frame = 0; frame < tone.size() / 2;) {
        const std::size_t count =
            std::min<std::size_t>(random->bounded(1, 31), tone.size() / 2 - frame);
        const std::vector<unsigned char> packet(bytes.begin() + frame * 8,
                                                bytes.begin() + (frame + count) * 8);
        const std::vector<float> part = convert(pieces, packet, std::uint32_t(count));
        out.insert(out.end(), part.begin(), part.end());
        frame += count;
    }
    QCOMPARE(out, expected);

    // And, once the filter has filled, the largest step between neighbours stays that of
    // the tone itself.
    float largestStep = 0.0f;
    for (std::size_t i = 2 * 200; i < out.size(); i += 2)
        largestStep = std::max(largestStep, std::abs(out[i] - out[i - 2]));
    QVERIFY2(largestStep < 0.7f * 2.0f * float(pi) * 997.0f / 48000.0f * 1.01f,
             qPrintable(QString::number(largestStep)));
}

void TestCaptureConverter::buffersAreReusedBetweenPackets()
{
    CaptureConverter converter;
    QVERIFY(converter.configure(StreamFormat{StreamFormat::Encoding::Pcm, 44100, 2, 16}));
    const std::vector<unsigned char> big(441 * 4, 0x10);
    const std::vector<unsigned char> small(100 * 4, 0x10);
    std::uint64_t frames = 0;
    const float *first = converter.convert(big.data(), 441, false, frames);
    QVERIFY(converter.convert(small.data(), 100, false, frames) == first);
    QVERIFY(converter.convert(big.data(), 441, false, frames) == first);
    QVERIFY(converter.convert(nullptr, 441, true, frames) == first);
}

QTEST_GUILESS_MAIN(TestCaptureConverter)
#include "tst_captureconverter.moc"
