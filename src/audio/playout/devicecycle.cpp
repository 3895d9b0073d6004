#include "audio/playout/devicecycle.h"

#include <algorithm>

DeviceCycle::DeviceCycle(std::uint32_t namedPeriodFrames, std::uint32_t capacityFrames)
    : namedPeriod(namedPeriodFrames), capacity(capacityFrames)
{
    setPeriod(namedPeriod);
}

void DeviceCycle::took(std::uint32_t frames)
{
    if (frames == 0)
        return;
    takes.add(frames, 0.5);
    setPeriod(std::max(namedPeriod, std::uint32_t(takes.quantile())));
}

void DeviceCycle::heldWithoutTaking()
{
    if (!known())
        setPeriod(std::min(2 * period, capacity));
}

void DeviceCycle::setPeriod(std::uint32_t frames)
{
    period = frames;
    deadline = std::min(frames + frames / 4, capacity);
}
