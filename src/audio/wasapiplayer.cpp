#include "audio/wasapiplayer.h"

#include "audio/renderconverter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int bufferMs = 100;
constexpr int wakeTimeoutMs = 100;

} // namespace

WasapiPlayer::WasapiPlayer()
{
    AudioPlatform::instance().attachThread();
}

WasapiPlayer::~WasapiPlayer()
{
    stop();
    AudioPlatform::instance().detachThread();
}

bool WasapiPlayer::start(const std::wstring &deviceId, std::uint32_t sampleRate,
                         std::uint16_t channels)
{
    if (running)
        stop();
    if (sampleRate == 0 || channels == 0)
        return false;

    device = AudioPlatform::instance().openEndpoint(deviceId);
    if (device)
        renderClient = device->openRender(int(sampleRate), channels, bufferMs);
    if (renderClient) {
        format = renderClient->format();
        bufferFrameCount = renderClient->bufferFrames();
    }
    // A fallback format that cannot hold the pushed audio is refused rather than fed noise.
    if (!renderClient || !isWritableRenderFormat(format) || !renderClient->start()) {
        // Nothing a failed start obtained is used again.
        renderClient.reset();
        device.reset();
        return false;
    }
    pushedChannels = channels;
    {
        std::lock_guard<std::mutex> lock(mutex);
        maxPendingSamples = std::size_t(maxPendingMs) * sampleRate / 1000 * channels;
        pendingSamples.clear();
        pendingSamples.reserve(maxPendingSamples);
    }

    running = true;
    thread = std::thread(&WasapiPlayer::renderLoop, this);
    return true;
}

void WasapiPlayer::stop()
{
    if (!running.exchange(false))
        return;
    renderClient->wake();
    if (thread.joinable())
        thread.join();
    renderClient->stop();
    renderClient.reset();
    device.reset();
    std::lock_guard<std::mutex> lock(mutex);
    pendingSamples.clear();
}

void WasapiPlayer::pushSamples(const std::int16_t *samples, std::size_t count)
{
    if (!running || !samples || count == 0)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (count >= maxPendingSamples) {
        pendingSamples.assign(samples + (count - maxPendingSamples), samples + count);
        return;
    }
    const std::size_t total = pendingSamples.size() + count;
    if (total > maxPendingSamples) {
        pendingSamples.erase(pendingSamples.begin(),
                             pendingSamples.begin() + (total - maxPendingSamples));
    }
    pendingSamples.insert(pendingSamples.end(), samples, samples + count);
}

std::vector<DeviceInfo> WasapiPlayer::enumerateDevices()
{
    return AudioPlatform::instance().outputEndpoints();
}

void WasapiPlayer::renderLoop()
{
    AudioPlatform &platform = AudioPlatform::instance();
    platform.attachThread();
    while (running) {
        // A timeout is handled like a wake-up, so a stream whose event never comes still plays.
        renderClient->waitForEvent(wakeTimeoutMs);
        if (!running)
            break;
        std::uint32_t padding = 0;
        if (!renderClient->currentPadding(padding) || padding >= bufferFrameCount)
            continue;
        const std::uint32_t frames = bufferFrameCount - padding;
        unsigned char *buffer = renderClient->getBuffer(frames);
        if (!buffer)
            continue;
        fillBuffer(buffer, frames);
        renderClient->releaseBuffer(frames);
    }
    platform.detachThread();
}

void WasapiPlayer::fillBuffer(unsigned char *buffer, std::uint32_t frames)
{
    std::lock_guard<std::mutex> lock(mutex);
    const std::size_t pendingFrames = pendingSamples.size() / std::size_t(pushedChannels);
    const std::uint32_t playing = std::uint32_t(std::min<std::size_t>(frames, pendingFrames));
    writeRenderFrames(pendingSamples.data(), pushedChannels, playing, format, buffer);
    const std::size_t blockAlign = std::size_t(format.blockAlign());
    std::memset(buffer + playing * blockAlign, 0, (frames - playing) * blockAlign);
    if (playing < frames) {
        // Underrun: everything pending has been played, the rest of the period is silence.
        pendingSamples.clear();
    } else {
        pendingSamples.erase(pendingSamples.begin(),
                             pendingSamples.begin() + std::size_t(playing) * pushedChannels);
    }
}
