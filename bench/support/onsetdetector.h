#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

using BenchClock = std::chrono::steady_clock;

// Finds the start of each click in a stream of audio that arrives in blocks: the first
// block in which a sample rises above the threshold after at least a hold-off of quiet
// samples. Each onset is stamped with the time its block became available, which is the
// earliest moment anyone reading the stream could have known of it.
class OnsetDetector
{
public:
    OnsetDetector(double threshold, std::size_t holdOffFrames);

    // Interleaved stereo 16-bit samples; the first channel is looked at.
    void feed(const std::int16_t *stereo, std::size_t frames, BenchClock::time_point arrived);
    void feed(const float *stereo, std::size_t frames, BenchClock::time_point arrived);

    const std::vector<BenchClock::time_point> &onsets() const { return found; }

private:
    void sample(double value, BenchClock::time_point arrived);

    const double threshold;
    const std::size_t holdOffFrames;
    std::size_t quietFrames = 0;
    std::vector<BenchClock::time_point> found;
};

// Milliseconds from a to b.
double millisecondsBetween(BenchClock::time_point a, BenchClock::time_point b);
