#pragma once

#include <chrono>
#include <cstdint>

// Keeps a capture's stream going while its device delivers nothing (a Core Audio loopback
// delivers no packets while nothing plays; a suspended sink delivers nothing at all): once
// the device has been quiet for longer than the gap, a 10 ms frame of silence falls due
// every 10 ms, on the clock rather than per call, so late or bunched calls neither drop nor
// add frames. The first packet from the device ends the filling; nothing is owed for it.
class SilenceFiller
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds gap{30};
    static constexpr std::chrono::milliseconds period{10};

    // The stream starts: it counts as a delivery now.
    void restart(Clock::time_point now) { heard(now); }
    // The device delivered a packet.
    void heard(Clock::time_point now);
    // How many frames of silence fall due by now, each counted as given once returned;
    // firstDue is when the first of them fell due.
    int take(Clock::time_point now, Clock::time_point &firstDue);

private:
    Clock::time_point lastHeard;
    std::int64_t given = 0; // frames of silence given since lastHeard
};
