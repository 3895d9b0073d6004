#include "audio/fractionalresampler.h"

#include "audio/sincfilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The pace stays within a fraction of a percent of 1, so the filter only has to interpolate:
// flat to 20 kHz, images of the band at least this far down.
constexpr double attenuationDb = 80.0;
constexpr double passbandEdge = 0.42; // cycles per input frame: 20.2 kHz at 48000 Hz
constexpr double cutoff = 0.5;
// Rows of the table; positions between two rows are interpolated linearly.
constexpr int phases = 512;

int tapsNeeded()
{
    return kaiserTapCount(attenuationDb, 2.0 * (cutoff - passbandEdge));
}

std::int16_t toSample(float value)
{
    return std::int16_t(std::clamp(std::lrint(value), -32768L, 32767L));
}

} // namespace

FractionalResampler::FractionalResampler(int channels, std::size_t capacityFrames)
    : channels(channels), tapCount(tapsNeeded()),
      coefficients(windowedSincTable(tapCount, phases, cutoff, attenuationDb)),
      interpolated(std::size_t(tapCount)),
      input((capacityFrames + std::size_t(tapCount)) * std::size_t(channels))
{
    reset();
}

void FractionalResampler::reset()
{
    // Silence before the first frame, so the first output is due at the first input frame.
    const std::size_t lead = std::size_t(tapCount / 2 - 1);
    std::fill(input.begin(), input.begin() + std::ptrdiff_t(lead) * channels, 0.0f);
    inputFrames = lead;
    position = lead;
    fraction = 0.0;
}

std::size_t FractionalResampler::room() const
{
    return input.size() / std::size_t(channels) - inputFrames;
}

void FractionalResampler::append(const std::int16_t *samples, std::size_t frames)
{
    frames = std::min(frames, room());
    float *end = input.data() + inputFrames * std::size_t(channels);
    for (std::size_t i = 0; i < frames * std::size_t(channels); ++i)
        end[i] = float(samples[i]);
    inputFrames += frames;
}

double FractionalResampler::pendingFrames() const
{
    return double(inputFrames - position) - fraction;
}

std::size_t FractionalResampler::read(std::int16_t *output, std::size_t frames, double step)
{
    const std::size_t reach = std::size_t(tapCount / 2); // frames looked at past the position
    const std::size_t taps = std::size_t(tapCount);
    std::size_t written = 0;
    while (written < frames && position + reach < inputFrames) {
        const double row = fraction * phases;
        const auto lower = std::size_t(row);
        const auto weight = float(row - double(lower));
        const float *first = &coefficients[lower * taps];
        const float *second = first + taps;
        for (std::size_t k = 0; k < taps; ++k)
            interpolated[k] = first[k] + weight * (second[k] - first[k]);
        const float *frame = &input[(position + 1 - reach) * std::size_t(channels)];
        for (int channel = 0; channel < channels; ++channel) {
            float sum = 0.0f;
            for (std::size_t k = 0; k < taps; ++k)
                sum += interpolated[k] * frame[k * std::size_t(channels) + std::size_t(channel)];
            output[written * std::size_t(channels) + std::size_t(channel)] = toSample(sum);
        }
        ++written;
        fraction += step;
        const double whole = std::floor(fraction);
        position += std::size_t(whole);
        fraction -= whole;
    }

    // Keep only the frames that later outputs still need.
    const std::size_t firstNeeded = std::min(position + 1 - reach, inputFrames);
    std::memmove(input.data(), input.data() + firstNeeded * std::size_t(channels),
                 (inputFrames - firstNeeded) * std::size_t(channels) * sizeof(float));
    inputFrames -= firstNeeded;
    position -= firstNeeded;
    return written;
}
