#include "audio/resampler.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double pi = 3.14159265358979323846;
// Images and aliases end up at least this far below the signal.
constexpr double stopbandAttenuationDb = 90.0;
// The passband ends at this share of the lower Nyquist frequency (18.7 kHz for 44100 Hz
// input) and the stopband starts at that Nyquist frequency itself, so nothing folds back
// into the audible band.
constexpr double passbandShare = 0.85;
// Exact positions for every common rate (44100 Hz needs 160, 11025 Hz needs 640); rarer
// ratios round each position to the nearest of this many.
constexpr std::uint64_t maxPhases = 1024;

double besselI0(double x)
{
    const double quarterSquare = x * x / 4.0;
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; term > sum * 1e-17; ++k) {
        term *= quarterSquare / (double(k) * k);
        sum += term;
    }
    return sum;
}

} // namespace

Resampler::Resampler(int inputRate, int outputRate, int channels) : channels(channels)
{
    const std::uint64_t divisor = std::gcd(std::uint64_t(inputRate), std::uint64_t(outputRate));
    up = std::uint64_t(outputRate) / divisor;
    down = std::uint64_t(inputRate) / divisor;
    phases = int(std::min(up, maxPhases));

    // Band edges in cycles per input frame; when reducing the rate the output's Nyquist
    // frequency is the lower one.
    const double stopEdge = 0.5 * std::min(1.0, double(outputRate) / inputRate);
    const double passEdge = stopEdge * passbandShare;
    const double cutoff = (passEdge + stopEdge) / 2.0;
    // Kaiser's estimates of the length and the window shape for this attenuation.
    tapCount = int(std::ceil((stopbandAttenuationDb - 7.95) / (14.36 * (stopEdge - passEdge))));
    tapCount += tapCount % 2;
    const double beta = 0.1102 * (stopbandAttenuationDb - 8.7);
    const double half = tapCount / 2.0;

    coefficients.resize(std::size_t(phases + 1) * tapCount);
    std::vector<double> row(tapCount);
    for (int phase = 0; phase <= phases; ++phase) {
        double sum = 0.0;
        for (int k = 0; k < tapCount; ++k) {
            // Distance in input frames from the output's time to the frame under tap k.
            const double distance = double(phase) / phases + half - 1.0 - k;
            const double x = distance / half;
            const double window = std::abs(x) >= 1.0
                                      ? 0.0
                                      : besselI0(beta * std::sqrt(1.0 - x * x)) / besselI0(beta);
            const double arg = pi * 2.0 * cutoff * distance;
            const double sinc = arg == 0.0 ? 1.0 : std::sin(arg) / arg;
            row[k] = 2.0 * cutoff * sinc * window;
            sum += row[k];
        }
        // Every row passes a constant level unchanged, whatever the position.
        for (int k = 0; k < tapCount; ++k)
            coefficients[std::size_t(phase) * tapCount + k] = float(row[k] / sum);
    }
    reset();
}

std::size_t Resampler::maxOutputFrames(std::size_t inputFrames) const
{
    return std::size_t((inputFrames * up + down - 1) / down) + 1;
}

void Resampler::reset()
{
    // Silence before the first frame, so the first output is due at the first input frame.
    const std::size_t lead = std::size_t(tapCount / 2 - 1);
    history.assign(lead * channels, 0.0f);
    historyFrames = lead;
    position = lead;
    fraction = 0;
}

std::size_t Resampler::process(const float *input, std::size_t frames, float *output)
{
    const std::size_t total = historyFrames + frames;
    if (history.size() < total * channels)
        history.resize(total * channels);
    std::copy(input, input + frames * channels, history.begin() + historyFrames * channels);
    historyFrames = total;

    const std::size_t reach = std::size_t(tapCount / 2); // frames looked at past the position
    std::size_t written = 0;
    while (position + reach < historyFrames) {
        const std::uint64_t phase = (fraction * phases + up / 2) / up;
        const float *taps = &coefficients[phase * tapCount];
        const float *frame = &history[(position + 1 - reach) * channels];
        for (int channel = 0; channel < channels; ++channel) {
            float sum = 0.0f;
            for (int k = 0; k < tapCount; ++k)
                sum += taps[k] * frame[k * channels + channel];
            output[written * channels + channel] = sum;
        }
        ++written;
        fraction += down;
        position += fraction / up;
        fraction %= up;
    }

    // Keep only the frames that later outputs still need.
    const std::size_t firstNeeded = std::min(position + 1 - reach, historyFrames);
    std::copy(history.begin() + firstNeeded * channels, history.begin() + historyFrames * channels,
              history.begin());
    historyFrames -= firstNeeded;
    position -= firstNeeded;
    return written;
}
