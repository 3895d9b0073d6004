#include "audio/silencefiller.h"

void SilenceFiller::heard(Clock::time_point now)
{
    lastHeard = now;
    given = 0;
}

int SilenceFiller::take(Clock::time_point now, Clock::time_point &firstDue)
{
    const Clock::duration quiet = now - lastHeard;
    if (quiet <= gap)
        return 0;
    // Frame k falls due at lastHeard + gap + k periods; the first as soon as the gap is over.
    const std::int64_t due = (quiet - gap - Clock::duration(1)) / period + 1;
    if (due <= given)
        return 0;
    firstDue = lastHeard + gap + given * period;
    const auto count = int(due - given);
    given = due;
    return count;
}
