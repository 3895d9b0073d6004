#include "onsetdetector.h"

#include <cmath>

OnsetDetector::OnsetDetector(double threshold, std::size_t holdOffFrames)
    : threshold(threshold), holdOffFrames(holdOffFrames)
{
}

void OnsetDetector::feed(const std::int16_t *stereo, std::size_t frames,
                         BenchClock::time_point arrived)
{
    for (std::size_t i = 0; i < frames; ++i)
        sample(stereo[2 * i] / 32768.0, arrived);
}

void OnsetDetector::feed(const float *stereo, std::size_t frames, BenchClock::time_point arrived)
{
    for (std::size_t i = 0; i < frames; ++i)
        sample(stereo[2 * i], arrived);
}

void OnsetDetector::sample(double value, BenchClock::time_point arrived)
{
    if (std::abs(value) < threshold) {
        ++quietFrames;
        return;
    }
    if (quietFrames >= holdOffFrames)
        found.push_back(arrived);
    quietFrames = 0;
}

double millisecondsBetween(BenchClock::time_point a, BenchClock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}
