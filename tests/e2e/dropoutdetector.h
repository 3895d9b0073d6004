#pragma once

#include <cstddef>

// Finds the dropouts in a recording of a tone that should play without a break: runs of at
// least minFrames silent samples (below silenceLevel) with sound on both sides. Silence
// before the first sound and after the last is the stream starting and ending, not a
// dropout. The first channel of interleaved stereo is looked at.
class DropoutDetector
{
public:
    DropoutDetector(double silenceLevel, std::size_t minFrames);

    void feed(const float *stereo, std::size_t frames);

    std::size_t dropouts() const { return count; }
    std::size_t silentFrames() const { return silent; } // in the dropouts, all together

private:
    const double silenceLevel;
    const std::size_t minFrames;
    bool heardSound = false;
    std::size_t run = 0; // silent frames since the last sound
    std::size_t count = 0;
    std::size_t silent = 0;
};
