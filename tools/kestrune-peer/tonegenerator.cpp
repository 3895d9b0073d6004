#include "tonegenerator.h"

#include <cmath>

ToneGenerator::ToneGenerator(double frequency, double amplitude, int sampleRate)
    : step(frequency / sampleRate), peak(amplitude * 32767.0)
{
}

void ToneGenerator::fillStereo(std::int16_t *out, int frames)
{
    constexpr double twoPi = 6.283185307179586;
    for (int frame = 0; frame < frames; ++frame) {
        const auto sample = static_cast<std::int16_t>(std::lround(peak * std::sin(twoPi * phase)));
        out[2 * frame] = sample;
        out[2 * frame + 1] = sample;
        // Kept within one cycle so that hours of tone lose no precision.
        phase += step;
        phase -= std::floor(phase);
    }
}
