#include "core/capturelatencymeter.h"

#include <algorithm>

namespace {

constexpr std::chrono::seconds windowLength(1);

} // namespace

CaptureLatencyMeter::CaptureLatencyMeter(int sampleRate, int frameFrames)
    : sampleLength(std::chrono::duration_cast<Clock::duration>(
          std::chrono::nanoseconds(std::int64_t(1000000000) / std::int64_t(sampleRate)))),
      frameLength(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
          std::int64_t(1000000000) * frameFrames / std::int64_t(sampleRate))))
{
}

void CaptureLatencyMeter::packetArrived(Clock::time_point origin, std::size_t framesWaiting)
{
    // Anchored on every packet, so that a gap in the capture or a drifting clock does not
    // carry over from one packet to the next.
    nextOrigin = origin - std::int64_t(framesWaiting) * sampleLength;
    anchored = true;
}

void CaptureLatencyMeter::frameDone(Clock::time_point sentAt)
{
    if (!anchored)
        return;
    const Clock::time_point middle = nextOrigin + frameLength / 2;
    nextOrigin += frameLength;

    if (!windowOpen) {
        windowOpen = true;
        windowStart = sentAt;
    } else if (sentAt - windowStart >= windowLength) {
        publish();
        windowStart = sentAt;
    }
    if (windowCount < capacity)
        window[windowCount++] =
            std::chrono::duration_cast<std::chrono::microseconds>(sentAt - middle).count();
}

void CaptureLatencyMeter::publish()
{
    if (windowCount == 0)
        return;
    const auto median = window.begin() + std::ptrdiff_t(windowCount / 2);
    std::nth_element(window.begin(), median, window.begin() + std::ptrdiff_t(windowCount));
    published = int(std::max<std::int64_t>(0, (*median + 500) / 1000));
    windowCount = 0;
}

void CaptureLatencyMeter::reset()
{
    anchored = false;
    windowOpen = false;
    windowCount = 0;
    published = 0;
}
