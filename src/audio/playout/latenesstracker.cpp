#include "audio/playout/latenesstracker.h"

#include <algorithm>
#include <cmath>

void LatenessTracker::reset()
{
    count = 0;
    oldest = 0;
    bestTransit = 0;
    coveredLateness = 0;
}

void LatenessTracker::arrived(std::int64_t sequence, std::int64_t arrivalNs, std::int64_t packetNs)
{
    if (packetNs <= 0)
        return;
    if (anchored() && packetNs != anchorPacketNs)
        reset();
    if (!anchored()) {
        anchorSequence = sequence;
        anchorPacketNs = packetNs;
    }
    const std::int64_t transit = arrivalNs - (sequence - anchorSequence) * packetNs;
    if (anchored() && std::abs(transit - bestTransit) > discontinuityNs) {
        reset();
        anchorSequence = sequence;
        anchorPacketNs = packetNs;
        record(arrivalNs);
        return;
    }
    record(transit);
}

void LatenessTracker::record(std::int64_t transit)
{
    if (count < window) {
        transits[std::size_t(count++)] = transit;
    } else {
        transits[std::size_t(oldest)] = transit;
        oldest = (oldest + 1) % window;
    }
    const auto end = scratch.begin() + count;
    std::copy(transits.begin(), transits.begin() + count, scratch.begin());
    bestTransit = *std::min_element(scratch.begin(), end);
    const auto covered = scratch.begin() + std::ptrdiff_t(std::ceil(coveredShare * count)) - 1;
    std::nth_element(scratch.begin(), covered, end);
    coveredLateness = *covered - bestTransit;
}

std::int64_t LatenessTracker::dueNs(std::int64_t sequence) const
{
    return bestTransit + (sequence - anchorSequence) * anchorPacketNs;
}
