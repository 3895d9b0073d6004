#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

// Measures how long captured sound takes from the computer's mixer to the datagram that
// carries it: the delay the sound system reports for each packet (how long before it was
// lent its first frame left the mixer) plus the time its samples then wait for their frame
// to fill, up to the send. A frame's figure is that of its middle sample, the average of
// its samples' waits, so the read-out is what an average sound waits. The read-out is the
// median over the frames sent in one second, renewed once a second.
//
// The capture thread feeds it; any thread reads the read-out.
class CaptureLatencyMeter
{
public:
    using Clock = std::chrono::steady_clock;

    CaptureLatencyMeter(int sampleRate, int frameFrames);

    // Capture thread: a packet whose first frame left the mixer at origin is about to be
    // framed, behind framesWaiting frames of earlier packets that still wait for a frame.
    // The waiting frames are taken to run without a break up to the packet.
    void packetArrived(Clock::time_point origin, std::size_t framesWaiting);
    // Capture thread: the oldest waiting frame has left, sent (or dropped, when it could not
    // be encoded, which still moves the count on).
    void frameDone(Clock::time_point sentAt);

    // Any thread: the latest read-out in whole milliseconds; 0 until the first second of
    // frames is over, and after reset.
    int latencyMs() const { return published; }
    // Only while the capture thread is not feeding it: forgets everything.
    void reset();

private:
    // One second of frames at 10 ms and then some, for bunched sends; more are not counted.
    static constexpr std::size_t capacity = 256;

    void publish();

    const Clock::duration sampleLength;
    const Clock::duration frameLength;
    // Capture thread only.
    bool anchored = false;        // a packet has arrived since the reset
    Clock::time_point nextOrigin; // when the first sample of the next frame left the mixer
    bool windowOpen = false;
    Clock::time_point windowStart;
    std::array<std::int64_t, capacity> window{}; // the frames' latencies, in microseconds
    std::size_t windowCount = 0;

    std::atomic<int> published{0};
};
