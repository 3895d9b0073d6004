#include "audio/playout/playouttarget.h"

#include <algorithm>

void PlayoutTarget::reset(std::int64_t nowNs)
{
    target = startMs;
    required = minMs;
    lastRiseNs = nowNs;
    lastUpdateNs = nowNs;
}

void PlayoutTarget::raise(double ms, std::int64_t nowNs)
{
    target = std::min(ms, maxMs);
    lastRiseNs = nowNs;
}

void PlayoutTarget::require(double ms, std::int64_t nowNs)
{
    update(nowNs);
    required = std::clamp(ms, minMs, maxMs);
    if (required > target)
        raise(required, nowNs);
}

void PlayoutTarget::underrun(std::int64_t nowNs)
{
    update(nowNs);
    raise(std::max(target + underrunStepMs, required), nowNs);
}

void PlayoutTarget::update(std::int64_t nowNs)
{
    const std::int64_t elapsedNs = nowNs - std::max(lastUpdateNs, lastRiseNs + calmNs);
    lastUpdateNs = std::max(lastUpdateNs, nowNs);
    if (elapsedNs <= 0 || target <= required)
        return;
    target = std::max(required, target - shrinkMsPerSecond * double(elapsedNs) / 1e9);
}
