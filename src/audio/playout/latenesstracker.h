#pragma once

#include <array>
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
    // A packet with this (extended) sequence number, holding packetNs of audio, came at
    // arrivalNs.
    void arrived(std::int64_t sequence, std::int64_t arrivalNs, std::int64_t packetNs);

    // Whether a packet has come since the last reset.
    bool anchored() const { return count > 0; }
    // When the packet with this sequence number would come at the best transit seen.
    std::int64_t dueNs(std::int64_t sequence) const;
    // The lateness that coveredShare of the remembered packets stayed within.
    std::int64_t recentLatenessNs() const { return coveredLateness; }

private:
    void record(std::int64_t transit);

    std::array<std::int64_t, window> transits{};
    int count = 0;
    int oldest = 0; // where the next transit goes once the history is full
    std::int64_t anchorSequence = 0;
    std::int64_t anchorPacketNs = 0;
    std::int64_t bestTransit = 0;
    std::int64_t coveredLateness = 0;
    std::array<std::int64_t, window> scratch{};
};
