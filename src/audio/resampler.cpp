#include "audio/resampler.h"

#include "audio/sincfilter.h"

#include <algorithm>
#include <numeric>

namespace {

// Images and aliases end up at least this far below the signal.
constexpr double stopbandAttenuationDb = 90.0;
// The passband ends at this share of the lower Nyquist frequency (18.7 kHz for 44100 Hz
// input) and the stopband starts at that Nyquist frequency itself, so nothing folds back
// into the audible band.
constexpr double passbandShare = 0.85;
// Exact positions for every common rate (44100 Hz needs 160, 11025 Hz needs 640); rarer
// ratios round each position to the nearest of this many.
constexpr std::uint64_t maxPhases = 1024;

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
    tapCount = kaiserTapCount(stopbandAttenuationDb, stopEdge - passEdge);
    coefficients =
        windowedSincTable(tapCount, phases, (passEdge + stopEdge) / 2.0, stopbandAttenuationDb);
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
