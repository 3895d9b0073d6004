#include "streamstats.h"

#include <algorithm>
#include <cmath>

double StreamStats::Totals::rate() const
{
    const double spanMs = lastArrivalMs - firstArrivalMs;
    if (datagrams < 2 || spanMs <= 0)
        return 0;
    return (datagrams - 1) * 1000.0 / spanMs;
}

void StreamStats::datagramArrived(std::uint32_t sequence, std::int64_t timestamp, double arrivalMs,
                                  int payloadBytes)
{
    if (totals_.datagrams > 0)
        totals_.longestPauseMs =
            std::max(totals_.longestPauseMs, arrivalMs - totals_.lastArrivalMs);
    ++totals_.datagrams;
    totals_.payloadBytes += payloadBytes;
    totals_.lastArrivalMs = arrivalMs;
    ++intervalDatagrams;
    intervalBytes += payloadBytes;

    // The distance from the highest number so far, taken as the shorter way round the 32-bit
    // circle, so that wrapping from 2^32 - 1 to 0 is one step forward.
    const auto step = static_cast<std::int32_t>(sequence - static_cast<std::uint32_t>(runHighest));
    const bool restart = started && step <= 0 && timestamp > highestTimestamp;
    if (!started || restart) {
        if (restart) {
            lostInEarlierRuns = lostNow();
            ++totals_.restarts;
        } else {
            totals_.firstArrivalMs = arrivalMs;
        }
        started = true;
        runFirst = runHighest = sequence;
        runReceived = 1;
        highestTimestamp = timestamp;
        lastTransitMs = arrivalMs - runHighest * frameMs;
        return;
    }

    ++runReceived;
    const std::int64_t extended = runHighest + step;
    if (step > 0) {
        totals_.largestGap = std::max<std::int64_t>(totals_.largestGap, step - 1);
        runHighest = extended;
        highestTimestamp = std::max(highestTimestamp, timestamp);
    }

    // Interarrival jitter as RTP receivers estimate it, with the sequence number standing in
    // for the media clock: each datagram should arrive frameMs after the one numbered before.
    const double transitMs = arrivalMs - extended * frameMs;
    jitterMs += (std::abs(transitMs - lastTransitMs) - jitterMs) / 16.0;
    lastTransitMs = transitMs;
}

std::int64_t StreamStats::lostNow() const
{
    if (!started)
        return lostInEarlierRuns;
    const std::int64_t expected = runHighest - runFirst + 1;
    return lostInEarlierRuns + std::max<std::int64_t>(0, expected - runReceived);
}

StreamStats::Interval StreamStats::takeInterval(double seconds)
{
    Interval interval;
    interval.datagrams = intervalDatagrams;
    const std::int64_t lost = lostNow();
    interval.lost = std::max<std::int64_t>(0, lost - lostAtIntervalStart);
    interval.kbps = seconds > 0 ? intervalBytes * 8 / seconds / 1000 : 0;
    interval.jitterMs = jitterMs;
    intervalDatagrams = 0;
    intervalBytes = 0;
    lostAtIntervalStart = lost;
    return interval;
}

StreamStats::Totals StreamStats::totals() const
{
    Totals totals = totals_;
    totals.lost = lostNow();
    totals.jitterMs = jitterMs;
    return totals;
}
