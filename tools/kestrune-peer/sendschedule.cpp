#include "sendschedule.h"

#include <algorithm>
#include <cmath>

SendSchedule::SendSchedule(const SendPattern &pattern)
    : pattern(pattern), random(pattern.seed), lateness(0.0, std::max(pattern.maxLatenessMs, 0.0))
{
}

double SendSchedule::dueMs(std::int64_t frame) const
{
    return double(frame) * frameMs / pattern.clockRate;
}

double SendSchedule::releaseMs(std::int64_t frame)
{
    const double due = dueMs(frame);
    double release = due;
    if (pattern.burstMs > 0)
        release = std::ceil(due / pattern.burstMs) * pattern.burstMs;
    else if (pattern.maxLatenessMs > 0)
        release = due + lateness(random);
    previousRelease = std::max(previousRelease, release);
    return previousRelease;
}
