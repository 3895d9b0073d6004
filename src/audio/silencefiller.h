#pragma once

#include <chrono>
#include <cstdint>

// Keeps a capture's stream going while its device delivers nothing (a Core Audio loopback
// delivers no packets while nothing plays; a suspended sink delivers nothing at all): once
// the device has been quiet for longer than the gap, a 10 ms frame of silence falls due
// every 10 ms, on the clock rather than per call, so late or bunched calls neither drop nor
// add frames.
//
// The silence continues the stream's own timeline (when each frame left the mixer). A device
// that was only late, and then delivers what it held back, brings audio whose time the
// silence has already taken: that part is dropped rather than sent on top, so the stream
// never runs ahead of the clock. Audio that comes after a real pause starts later in the
// timeline than the silence reached, and nothing of it is dropped.
class SilenceFiller
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds gap{30};
    static constexpr std::chrono::milliseconds period{10};

    explicit SilenceFiller(int sampleRate);

    // The stream starts: it counts as a delivery now, with nothing in its timeline yet.
    void restart(Clock::time_point now);
    // The device delivered frames at now, the first of which left the mixer at mixed (timed:
    // as the sound system reported it; otherwise mixed is a guess and nothing is dropped).
    // Returns how many of the first frames the silence has already stood in for.
    std::uint32_t heard(Clock::time_point now, Clock::time_point mixed, std::uint32_t frames,
                        bool timed);
    // How many frames of silence fall due by now, each counted as passed once returned; when
    // fill is true they go into the stream, the first at firstMixed in its timeline, one
    // period after another. Frames not filled are only counted, so that filling later goes
    // on at the pace instead of catching up on a whole quiet spell.
    int take(Clock::time_point now, bool fill, Clock::time_point &firstMixed);

private:
    const std::int64_t rate;
    Clock::time_point lastHeard;
    std::int64_t passed = 0;     // frames of silence due since lastHeard
    bool timed = false;          // streamEnd is known from the sound system
    Clock::time_point streamEnd; // where the timeline has reached
    bool filling = false;        // silence went in since the device last delivered past it
};
