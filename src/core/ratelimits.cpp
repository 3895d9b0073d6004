#include "core/ratelimits.h"

RateLimits::RateLimits(int initialBitrate) : currentBitrate(initialBitrate) {}

bool RateLimits::count(bool admitted, Counts &counts)
{
    ++(admitted ? counts.admitted : counts.dropped);
    return admitted;
}

bool RateLimits::admitMute(const QHostAddress &sender, qint64 now)
{
    if (!count(mutePerSender.take(sender, now), mutePerSenderCounts))
        return false;
    return count(muteOverall.take(now), muteOverallCounts);
}

bool RateLimits::admitQuality(int bitrate, qint64 now)
{
    if (bitrate == currentBitrate)
        return false;
    if (!count(qualityBucket.take(now), qualityCounts))
        return false;
    currentBitrate = bitrate;
    return true;
}

bool RateLimits::admitNewcomer(qint64 now)
{
    return count(newcomerBucket.take(now), newcomerCounts);
}
