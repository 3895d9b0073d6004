#include "audio/silencefiller.h"

#include <algorithm>

namespace {

constexpr std::int64_t nanosecondsPerSecond = 1000000000;

} // namespace

SilenceFiller::SilenceFiller(int sampleRate) : rate(sampleRate) {}

void SilenceFiller::restart(Clock::time_point now)
{
    lastHeard = now;
    passed = 0;
    timed = false;
    streamEnd = now;
    filling = false;
}

std::uint32_t SilenceFiller::heard(Clock::time_point now, Clock::time_point mixed,
                                   std::uint32_t frames, bool packetTimed)
{
    lastHeard = now;
    passed = 0;
    std::uint32_t covered = 0;
    if (filling && timed && packetTimed && mixed < streamEnd) {
        const std::int64_t ahead =
            std::chrono::duration_cast<std::chrono::nanoseconds>(streamEnd - mixed).count();
        covered = std::uint32_t(std::min<std::int64_t>(
            frames, (ahead * rate + nanosecondsPerSecond - 1) / nanosecondsPerSecond));
    }
    const Clock::time_point end =
        mixed + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::nanoseconds(std::int64_t(frames) * nanosecondsPerSecond / rate));
    if (!filling || end > streamEnd) {
        filling = false;
        streamEnd = end;
        timed = packetTimed;
    }
    return covered;
}

int SilenceFiller::take(Clock::time_point now, bool fill, Clock::time_point &firstMixed)
{
    const Clock::duration quiet = now - lastHeard;
    if (quiet <= gap)
        return 0;
    // Frame k falls due at lastHeard + gap + k periods; the first as soon as the gap is over.
    const std::int64_t due = (quiet - gap - Clock::duration(1)) / period + 1;
    if (due <= passed)
        return 0;
    const auto count = int(due - passed);
    passed = due;
    if (!fill)
        return count;
    if (!filling && !timed)
        streamEnd = now - count * period; // no timeline to continue: start one at the clock
    firstMixed = streamEnd;
    streamEnd += count * period;
    filling = true;
    return count;
}
