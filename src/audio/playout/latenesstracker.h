#pragma once

#include "audio/playout/recentvalues.h"

#include <cstdint>

// How late the packets of a stream come. Each packet's transit is its arrival time less its
// place in the sender's timeline (sequence number times packet length); the recent packet
// with the smallest transit came the fastest the path allows, and every packet's lateness is
// its transit above that. From the same history follows when a packet would ideally come.
//
// A sender whose clock drifts moves the transits slowly; the history is short (a few seconds
// of packets), so its best transit follows. A transit that jumps by more than half a second
// means the sender paused or began anew: the history starts over from that packet.
//
// Plain data, no allocation; its owner locks.
class LatenessTracker
{
public:
    static constexpr int window = 256; // packets remembered
    static constexpr std::int64_t discontinuityNs = 500'000'000;
    // The share of recent packets whose lateness recentLatenessNs() covers.
    static constexpr double coveredShare = 0.99;

    void reset();
    // Forgets every packet's lateness but keeps the fastest transit, and with it when the
    // next packets are due.
    void keepOnlyFastest();
    // A packet with this (extended) sequence number, holding packetNs of audio, came at
    // arrivalNs.
    void arrived(std::int64_t sequence, std::int64_t arrivalNs, std::int64_t packetNs);

    // Whether a packet has come since the last reset.
    bool anchored() const { return !transits.empty(); }
    // When the packet with this sequence number would come at the best transit seen.
    std::int64_t dueNs(std::int64_t sequence) const;
    // The lateness that coveredShare of the remembered packets stayed within.
    std::int64_t recentLatenessNs() const { return transits.quantile() - transits.minimum(); }

private:
    void anchor(std::int64_t sequence, std::int64_t packetNs);

    RecentValues<window> transits;
    std::int64_t anchorSequence = 0;
    std::int64_t anchorPacketNs = 0;
};
