#include "audio/fractionalresampler.h"

#include <QTest>
#include <cmath>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int rate = 48000;
constexpr double amplitude = 16384; // -6 dBFS

// A stereo tone whose right channel is the left one inverted.
std::vector<std::int16_t> tone(double frequency, std::size_t frames)
{
    std::vector<std::int16_t> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const auto value =
            std::int16_t(std::lrint(amplitude * std::sin(2 * pi * frequency * double(i) / rate)));
        samples[2 * i] = value;
        samples[2 * i + 1] = std::int16_t(-value);
    }
    return samples;
}

} // namespace

class TestFractionalResampler : public QObject
{
    Q_OBJECT

private slots:
    void stepOfOnePlaysTheInputUnchanged();
    void toneStaysCleanWhileThePaceChanges_data();
    void toneStaysCleanWhileThePaceChanges();
    void pendingFramesFollowTheReadPosition();
};

void TestFractionalResampler::stepOfOnePlaysTheInputUnchanged()
{
    // Fed and read in awkward pieces: every output sample is the input sample.
    const std::vector<std::int16_t> input = tone(997, 4000);
    FractionalResampler resampler(2, 1000);
    std::vector<std::int16_t> output;
    std::vector<std::int16_t> piece(2 * 333);
    std::size_t fed = 0;
    while (output.size() < input.size() - std::size_t(resampler.taps())) {
        const std::size_t frames =
            std::min<std::size_t>({resampler.room(), 517, (input.size() - fed) / 2});
        resampler.append(input.data() + fed, frames);
        fed += 2 * frames;
        const std::size_t read = resampler.read(piece.data(), 333, 1.0);
        output.insert(output.end(), piece.begin(), piece.begin() + std::ptrdiff_t(2 * read));
        QVERIFY(frames > 0 || read > 0);
    }
    QVERIFY(std::equal(output.begin(), output.end(), input.begin()));
}

void TestFractionalResampler::toneStaysCleanWhileThePaceChanges_data()
{
    QTest::addColumn<double>("frequency");
    QTest::newRow("1 kHz") << 1000.0;
    QTest::newRow("15 kHz") << 15000.0;
}

void TestFractionalResampler::toneStaysCleanWhileThePaceChanges()
{
    QFETCH(double, frequency);
    // The step swings between 0.995 and 1.005 and back twice a second, far faster than a
    // drift loop moves it. Each output frame lies at a known position of the input, so the
    // ideal output is known exactly: what differs from it is distortion and noise.
    const std::size_t inputFrames = rate;
    const std::vector<std::int16_t> input = tone(frequency, inputFrames);
    FractionalResampler resampler(2, inputFrames);
    resampler.append(input.data(), inputFrames);
    std::vector<std::int16_t> frame(2);
    double position = 0; // of the next output, in input frames
    double error = 0;
    double signal = 0;
    std::size_t written = 0;
    while (position < double(inputFrames) - resampler.taps()) {
        const double step = 1.0 + 0.005 * std::sin(2 * pi * 2.0 * double(written) / rate);
        QCOMPARE(resampler.read(frame.data(), 1, step), std::size_t(1));
        const double ideal = amplitude * std::sin(2 * pi * frequency * position / rate);
        // Skip the filter's start, where it still sees the silence before the first frame.
        if (position > resampler.taps()) {
            error +=
                (frame[0] - ideal) * (frame[0] - ideal) + (frame[1] + ideal) * (frame[1] + ideal);
            signal += 2 * ideal * ideal;
        }
        position += step;
        ++written;
    }
    const double thdN = 10 * std::log10(error / signal);
    qInfo("%.0f Hz tone, step swinging within 1 +- 0.5 %%: THD+N %.1f dB", frequency, thdN);
    QVERIFY2(thdN < -80, qPrintable(QString::number(thdN)));
}

void TestFractionalResampler::pendingFramesFollowTheReadPosition()
{
    FractionalResampler resampler(2, 1000);
    const std::vector<std::int16_t> input = tone(440, 1000);
    QCOMPARE(resampler.room(), std::size_t(1000 + resampler.taps() / 2 + 1));
    resampler.append(input.data(), 1000);
    QCOMPARE(resampler.pendingFrames(), 1000.0);
    std::vector<std::int16_t> output(2 * 2000);
    // Reads stop where the filter would look past the end.
    const std::size_t read = resampler.read(output.data(), 2000, 1.25);
    QCOMPARE(read, std::size_t(std::ceil((1000 - resampler.taps() / 2) / 1.25)));
    QVERIFY(std::abs(resampler.pendingFrames() - (1000 - 1.25 * double(read))) < 1e-9);
    QVERIFY(resampler.pendingFrames() <= resampler.taps() / 2);
    resampler.reset();
    QCOMPARE(resampler.pendingFrames(), 0.0);
    QCOMPARE(resampler.read(output.data(), 10, 1.0), std::size_t(0));
}

QTEST_GUILESS_MAIN(TestFractionalResampler)
#include "tst_fractionalresampler.moc"
