#include "audio/playout/latenesstracker.h"

#include <cstdlib>

void LatenessTracker::reset()
{
    transits.clear();
}

void LatenessTracker::keepOnlyFastest()
{
    if (!anchored())
        return;
    const std::int64_t fastest = transits.minimum();
    transits.clear();
    transits.add(fastest, coveredShare);
}

void LatenessTracker::anchor(std::int64_t sequence, std::int64_t packetNs)
{
    transits.clear();
    anchorSequence = sequence;
    anchorPacketNs = packetNs;
}

void LatenessTracker::arrived(std::int64_t sequence, std::int64_t arrivalNs, std::int64_t packetNs)
{
    if (packetNs <= 0)
        return;
    if (!anchored() || packetNs != anchorPacketNs)
        anchor(sequence, packetNs);
    std::int64_t transit = arrivalNs - (sequence - anchorSequence) * packetNs;
    if (std::abs(transit - transits.minimum()) > discontinuityNs && !transits.empty()) {
        anchor(sequence, packetNs);
        transit = arrivalNs;
    }
    transits.add(transit, coveredShare);
}

std::int64_t LatenessTracker::dueNs(std::int64_t sequence) const
{
    return transits.minimum() + (sequence - anchorSequence) * anchorPacketNs;
}
