#include "core/tokenbucket.h"

#include <algorithm>

TokenBucket::TokenBucket(int burst, int count, qint64 periodMs)
    : unitsPerMs(count), unitsPerToken(periodMs), capacity(qint64(burst) * periodMs),
      level(capacity)
{
}

void TokenBucket::refill(qint64 now)
{
    if (!started) {
        started = true;
        refilledAt = now;
        return;
    }
    if (now <= refilledAt)
        return;
    // A long quiet spell must not overflow the product: past `capacity` it makes no odds.
    const qint64 elapsed =
        std::min(now - refilledAt, capacity / std::max<qint64>(unitsPerMs, 1) + 1);
    level = std::min(capacity, level + elapsed * unitsPerMs);
    refilledAt = now;
}

bool TokenBucket::take(qint64 now)
{
    refill(now);
    if (level < unitsPerToken)
        return false;
    level -= unitsPerToken;
    return true;
}

bool TokenBucket::isFull(qint64 now)
{
    refill(now);
    return level >= capacity;
}
