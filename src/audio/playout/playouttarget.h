#pragma once

#include <cstdint>

// The playout target T: how long after its ideal arrival (see LatenessTracker) a packet's
// audio should be heard, which is what the queue plus the device hold in steady state. It
// starts at startMs, rises at once to what the recent arrivals require (their lateness plus
// the device's margin) and by a step at every underrun, and comes down slowly, once nothing
// has raised it for a while, never faster than shrinkMsPerSecond; always within
// [minMs, maxMs].
//
// Plain data; its owner locks.
class PlayoutTarget
{
public:
    static constexpr double minMs = 20;
    static constexpr double maxMs = 200;
    static constexpr double startMs = 40;
    static constexpr double shrinkMsPerSecond = 1;
    static constexpr double underrunStepMs = 10;
    // How long T stays up after a rise before it may shrink.
    static constexpr std::int64_t calmNs = 5'000'000'000;

    void reset(std::int64_t nowNs);
    // What the recent arrivals need now.
    void require(double ms, std::int64_t nowNs);
    // The device nearly ran dry.
    void underrun(std::int64_t nowNs);
    // Lets time pass: T shrinks toward the requirement once calm.
    void update(std::int64_t nowNs);

    double ms() const { return target; }

private:
    void raise(double ms, std::int64_t nowNs);

    double target = startMs;
    double required = minMs;
    std::int64_t lastRiseNs = 0;
    std::int64_t lastUpdateNs = 0;
};
