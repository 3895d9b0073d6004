#include "audio/resampler.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

// Interleaved stereo tone: the same sine on both channels.
std::vector<float> stereoTone(double frequency, int rate, std::size_t frames, double amplitude)
{
    std::vector<float> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] =
            float(amplitude * std::sin(2.0 * pi * frequency * double(i) / rate));
    return samples;
}

// Feeds the whole signal in pieces of a given size and collects the output.
std::vector<float> resample(Resampler &resampler, const std::vector<float> &input,
                            std::size_t piece)
{
    std::vector<float> output;
    const std::size_t frames = input.size() / 2;
    for (std::size_t first = 0; first < frames; first += piece) {
        const std::size_t count = std::min(piece, frames - first);
        std::vector<float> out(resampler.maxOutputFrames(count) * 2);
        const std::size_t written = resampler.process(&input[first * 2], count, out.data());
        output.insert(output.end(), out.begin(), out.begin() + written * 2);
    }
    return output;
}

struct ToneFit
{
    std::vector<double> amplitudes; // one per frequency fitted
    double residualRms = 0.0;       // what is left after removing the tones and any offset
};

// Least-squares fit of sines of known frequencies (plus an offset) to the left channel, from
// frame `skip` on. Fitting every tone present at once keeps a strong tone from leaking into
// the measure of a weak one.
ToneFit fitTones(const std::vector<float> &stereo, const std::vector<double> &frequencies,
                 int rate, std::size_t skip)
{
    const std::size_t size = frequencies.size() * 2 + 1;
    const std::size_t frames = stereo.size() / 2;
    const auto basisAt = [&](std::size_t frame) {
        std::vector<double> basis(size, 1.0);
        for (std::size_t f = 0; f < frequencies.size(); ++f) {
            const double phase = 2.0 * pi * frequencies[f] * double(frame) / rate;
            basis[2 * f] = std::sin(phase);
            basis[2 * f + 1] = std::cos(phase);
        }
        return basis;
    };

    // Normal equations, solved by Gaussian elimination (well conditioned over many periods).
    std::vector<std::vector<double>> m(size, std::vector<double>(size + 1, 0.0));
    for (std::size_t i = skip; i < frames; ++i) {
        const std::vector<double> basis = basisAt(i);
        for (std::size_t r = 0; r < size; ++r) {
            for (std::size_t c = 0; c < size; ++c)
                m[r][c] += basis[r] * basis[c];
            m[r][size] += basis[r] * stereo[2 * i];
        }
    }
    for (std::size_t col = 0; col < size; ++col) {
        for (std::size_t row = col + 1; row < size; ++row) {
            const double factor = m[row][col] / m[col][col];
            for (std::size_t c = col; c <= size; ++c)
                m[row][c] -= factor * m[col][c];
        }
    }
    std::vector<double> x(size);
    for (std::size_t row = size; row-- > 0;) {
        double sum = m[row][size];
        for (std::size_t c = row + 1; c < size; ++c)
            sum -= m[row][c] * x[c];
        x[row] = sum / m[row][row];
    }

    ToneFit fit;
    for (std::size_t f = 0; f < frequencies.size(); ++f)
        fit.amplitudes.push_back(std::hypot(x[2 * f], x[2 * f + 1]));
    double residual = 0.0;
    for (std::size_t i = skip; i < frames; ++i) {
        const std::vector<double> basis = basisAt(i);
        double model = 0.0;
        for (std::size_t r = 0; r < size; ++r)
            model += x[r] * basis[r];
        residual += (stereo[2 * i] - model) * (stereo[2 * i] - model);
    }
    fit.residualRms = std::sqrt(residual / double(frames - skip));
    return fit;
}

// Output frames that still carry the silence the filter starts from.
std::size_t startFrames(const Resampler &resampler, int inputRate)
{
    return std::size_t(resampler.taps()) * 48000 / std::size_t(inputRate) + 1;
}

double decibels(double ratio)
{
    return 20.0 * std::log10(ratio);
}

} // namespace

class TestResampler : public QObject
{
    Q_OBJECT

private slots:
    void toneKeepsItsLevelAndNothingElseAppears_data();
    void toneKeepsItsLevelAndNothingElseAppears();
    void imagesAndAliasesAreRejected_data();
    void imagesAndAliasesAreRejected();
    void piecesOfAnySizeGiveTheSameOutput();
    void constantLevelPassesUnchanged();
    void outputLengthFollowsTheRatio();
};

void TestResampler::toneKeepsItsLevelAndNothingElseAppears_data()
{
    QTest::addColumn<int>("inputRate");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("maxResidualDb");

    QTest::newRow("1 kHz from 44100 Hz") << 44100 << 1000.0 << -85.0;
    QTest::newRow("15 kHz from 44100 Hz") << 44100 << 15000.0 << -85.0;
    QTest::newRow("1 kHz from 22050 Hz") << 22050 << 1000.0 << -85.0;
    QTest::newRow("1 kHz from 32000 Hz") << 32000 << 1000.0 << -85.0;
    QTest::newRow("1 kHz from 96000 Hz") << 96000 << 1000.0 << -85.0;
    QTest::newRow("10 kHz from 192000 Hz") << 192000 << 10000.0 << -85.0;
    // A ratio with more phases than the table holds: positions are rounded.
    QTest::newRow("1 kHz from 44056 Hz") << 44056 << 1000.0 << -80.0;
}

void TestResampler::toneKeepsItsLevelAndNothingElseAppears()
{
    QFETCH(int, inputRate);
    QFETCH(double, frequency);
    QFETCH(double, maxResidualDb);

    const double amplitude = 0.5;
    Resampler resampler(inputRate, 48000, 2);
    const std::vector<float> output =
        resample(resampler, stereoTone(frequency, inputRate, std::size_t(inputRate), amplitude),
                 std::size_t(inputRate / 100));
    // The output lags by half the filter; the fit absorbs that as a phase.
    const ToneFit fit = fitTones(output, {frequency}, 48000, startFrames(resampler, inputRate));

    const double levelErrorDb = decibels(fit.amplitudes[0] / amplitude);
    const double residualDb = decibels(fit.residualRms / (amplitude / std::sqrt(2.0)));
    qInfo("%d -> 48000 Hz, %.0f Hz tone: level error %+.5f dB, THD+N %.1f dB, %d taps",
          inputRate, frequency, levelErrorDb, residualDb, resampler.taps());
    QVERIFY2(std::abs(levelErrorDb) < 0.01, qPrintable(QString::number(levelErrorDb)));
    QVERIFY2(residualDb < maxResidualDb, qPrintable(QString::number(residualDb)));
}

void TestResampler::imagesAndAliasesAreRejected_data()
{
    QTest::addColumn<int>("inputRate");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("mirror"); // where the unwanted copy would land at 48000 Hz

    // Raising the rate: a tone at f has an image at inputRate - f.
    QTest::newRow("image of 21 kHz from 44100 Hz") << 44100 << 21000.0 << 23100.0;
    QTest::newRow("image of 15 kHz from 44100 Hz") << 44100 << 15000.0 << 48000.0 - 29100.0;
    QTest::newRow("image of 5 kHz from 22050 Hz") << 22050 << 5000.0 << 17050.0;
    // Lowering the rate: a tone above 24 kHz folds back to 48000 - f.
    QTest::newRow("alias of 30 kHz from 96000 Hz") << 96000 << 30000.0 << 18000.0;
    QTest::newRow("alias of 26 kHz from 96000 Hz") << 96000 << 26000.0 << 22000.0;
}

void TestResampler::imagesAndAliasesAreRejected()
{
    QFETCH(int, inputRate);
    QFETCH(double, frequency);
    QFETCH(double, mirror);

    const double amplitude = 0.5;
    Resampler resampler(inputRate, 48000, 2);
    const std::vector<float> output =
        resample(resampler, stereoTone(frequency, inputRate, std::size_t(inputRate), amplitude),
                 std::size_t(inputRate / 100));
    // A tone above 24 kHz is itself gone; one below stays and is fitted along.
    const std::vector<double> tones =
        frequency < 24000.0 ? std::vector<double>{mirror, frequency} : std::vector<double>{mirror};
    const ToneFit fit = fitTones(output, tones, 48000, startFrames(resampler, inputRate));
    const double levelDb = decibels(fit.amplitudes[0] / amplitude);
    qInfo("%d -> 48000 Hz, %.0f Hz tone: copy at %.0f Hz at %.1f dB", inputRate, frequency,
          mirror, levelDb);
    QVERIFY2(levelDb < -85.0, qPrintable(QString::number(levelDb)));
}

void TestResampler::piecesOfAnySizeGiveTheSameOutput()
{
    const std::vector<float> input = stereoTone(1234.5, 44100, 20000, 0.8);
    Resampler whole(44100, 48000, 2);
    const std::vector<float> expected = resample(whole, input, input.size());

    Resampler pieces(44100, 48000, 2);
    std::vector<float> output;
    auto *random = QRandomGenerator::global();
    for (std::size_t first = 0; first < input.size() / 2;) {
        const std::size_t count = std::min<std::size_t>(random->bounded(1, 40),
                                                        input.size() / 2 - first);
        std::vector<float> out(pieces.maxOutputFrames(count) * 2);
        const std::size_t written = pieces.process(&input[first * 2], count, out.data());
        QVERIFY(written <= pieces.maxOutputFrames(count));
        output.insert(output.end(), out.begin(), out.begin() + written * 2);
        first += count;
    }
    QCOMPARE(output, expected);
}

void TestResampler::constantLevelPassesUnchanged()
{
    for (int rate : {44100, 96000, 8000}) {
        Resampler resampler(rate, 48000, 2);
        const std::vector<float> output =
            resample(resampler, std::vector<float>(std::size_t(rate) / 5 * 2, 0.5f), 480);
        for (std::size_t i = 2 * startFrames(resampler, rate); i < output.size(); ++i)
            QVERIFY2(std::abs(output[i] - 0.5f) < 1e-5f, qPrintable(QString::number(output[i])));
    }
}

void TestResampler::outputLengthFollowsTheRatio()
{
    Resampler resampler(44100, 48000, 2);
    const std::size_t frames = 44100;
    const std::size_t produced = resample(resampler, stereoTone(440, 44100, frames, 0.5), 441).size() / 2;
    // Everything but the last half filter of input has come out.
    const double expected = (frames - resampler.taps() / 2.0) * 48000.0 / 44100.0;
    QVERIFY2(std::abs(double(produced) - expected) <= 2.0,
             qPrintable(QString("%1 vs %2").arg(produced).arg(expected)));
}

QTEST_GUILESS_MAIN(TestResampler)
#include "tst_resampler.moc"
