#pragma once

#include <cstdint>
#include <random>

// How a phone's datagrams reach the network: one 10 ms frame at a time on the phone's own
// clock, which may run a little fast or slow, and held back the way a Wi-Fi link holds them:
// each by a random lateness with their order kept, or gathered and released together.
struct SendPattern
{
    double clockRate = 1.0;   // the phone's clock against ours: 1.001 runs 0.1 % fast
    double maxLatenessMs = 0; // each datagram late by 0 to this (uniformly), order kept
    double burstMs = 0;       // everything due is released together every this many ms
    std::uint32_t seed = 1;   // the same seed, the same lateness
};

class SendSchedule
{
public:
    static constexpr double frameMs = 10;

    explicit SendSchedule(const SendPattern &pattern);

    // When frame n (from 0) is made, on our clock, in ms from the start.
    double dueMs(std::int64_t frame) const;
    // When it leaves: never before it is due, never before the frame ahead of it. Call
    // once for every frame, in order.
    double releaseMs(std::int64_t frame);

private:
    SendPattern pattern;
    std::mt19937 random;
    std::uniform_real_distribution<double> lateness;
    double previousRelease = 0;
};
