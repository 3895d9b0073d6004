#pragma once

#include <cstdint>

// A sine tone, the same on both channels, as interleaved 16-bit stereo.
class ToneGenerator
{
public:
    // amplitude is the peak as a fraction of full scale.
    ToneGenerator(double frequency, double amplitude, int sampleRate);

    void fillStereo(std::int16_t *out, int frames);

private:
    double step; // phase advance per frame, in cycles
    double phase = 0;
    double peak;
};
