#include "playoutsimulation.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t msNs = 1'000'000;

class PcmDecoder final : public PacketDecoder
{
public:
    PcmDecoder(int channels, std::int16_t concealed) : channels(channels), concealed(concealed) {}
    int packetFrames(const unsigned char *, std::size_t length) const override
    {
        return int(length / 2 / std::size_t(channels));
    }
    int decode(const unsigned char *packet, std::size_t length, std::int16_t *pcm,
               int capacity) override
    {
        const int frames = std::min(packetFrames(packet, length), capacity);
        std::memcpy(pcm, packet, std::size_t(frames * channels) * 2);
        return frames;
    }
    int conceal(std::int16_t *pcm, int frames) override
    {
        std::fill(pcm, pcm + frames * channels, concealed);
        return frames;
    }

private:
    const int channels;
    const std::int16_t concealed;
};

} // namespace

PlayoutSimulation::PlayoutSimulation(const Setup &setup)
    : setup(setup), period(std::uint32_t(setup.sampleRate / 100)),
      capacity(std::uint32_t(setup.sampleRate / 10)),
      jitter(JitterBuffer::Format{setup.sampleRate, setup.channels, period, capacity},
             std::make_unique<PcmDecoder>(setup.channels, setup.concealed), 0),
      schedule(setup.pattern), packet(std::size_t(period) * std::size_t(setup.channels) * 2),
      out(std::size_t(capacity) * std::size_t(setup.channels)), nextRequestNs(setup.firstRequestNs)
{
}

void PlayoutSimulation::run(double seconds, const Played &played)
{
    const auto endNs = std::int64_t(seconds * 1e9);
    while (true) {
        if (nextArrivalMs < 0) {
            nextArrivalMs = schedule.releaseMs(made) + double(setup.transitNs) / msNs;
            if (nextArrivalMs >= double(setup.heldFromNs) / msNs)
                nextArrivalMs = std::max(nextArrivalMs, double(setup.heldUntilNs) / msNs);
        }
        const auto arrivalNs = std::int64_t(nextArrivalMs * msNs);
        // A request that comes while the thread is still late with the last one is answered
        // right after it.
        const std::int64_t wakeNs = std::max(
            lastWakeNs, nextRequestNs + (setup.wakeDelayNs ? setup.wakeDelayNs(requests) : 0));
        if (arrivalNs <= wakeNs) {
            if (arrivalNs > endNs)
                return;
            auto *samples = reinterpret_cast<std::int16_t *>(packet.data());
            for (std::uint32_t i = 0; i < period; ++i) {
                const std::int16_t value = setup.sample(made * period + i);
                for (int channel = 0; channel < setup.channels; ++channel)
                    samples[i * std::uint32_t(setup.channels) + std::uint32_t(channel)] = value;
            }
            jitter.push(std::uint32_t(made), packet.data(), packet.size(), arrivalNs);
            ++made;
            nextArrivalMs = -1;
            continue;
        }
        if (wakeNs > endNs)
            return;
        wake(wakeNs, played);
        nextRequestNs += setup.deviceCycleNs;
        ++requests;
        const std::int64_t pauseNs = setup.devicePauseNs ? setup.devicePauseNs(requests) : 0;
        nextRequestNs += pauseNs;
        pausedNs += pauseNs;
    }
}

void PlayoutSimulation::wake(std::int64_t nowNs, const Played &played)
{
    // What the device played since the last answer.
    const auto playedFrames =
        deviceRunning
            ? std::uint32_t((nowNs - lastWakeNs - pausedNs) * setup.sampleRate / 1'000'000'000)
            : 0;
    lastWakeNs = nowNs;
    pausedNs = 0;
    if (started)
        starved += deviceFrames < playedFrames ? playedFrames - deviceFrames : 0;
    deviceFrames -= std::min(deviceFrames, playedFrames);
    const std::uint32_t written =
        jitter.render(out.data(), deviceFrames, capacity - deviceFrames, nowNs);
    deviceFrames += written;
    deviceRunning = deviceRunning || deviceFrames >= setup.deviceStartFrames;
    started = started || jitter.stats().playing;
    played(out.data(), written, nowNs);
}
