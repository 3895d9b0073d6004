#include "audio/wasapiplayer.h"

#include "audio/playout/opuspacketdecoder.h"
#include "audio/renderconverter.h"

#include <chrono>

namespace {

constexpr int bufferMs = 100;
constexpr int wakeTimeoutMs = 100;

} // namespace

std::int64_t WasapiPlayer::steadyClock()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

WasapiPlayer::WasapiPlayer(Clock clock) : clock(clock)
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
    // Every start begins with an empty buffer and a fresh decoder.
    jitterBuffer = std::make_unique<JitterBuffer>(
        JitterBuffer::Format{int(sampleRate), channels, renderClient->periodFrames(),
                             bufferFrameCount},
        std::make_unique<OpusPacketDecoder>(int(sampleRate), channels), clock());
    rendered.assign(std::size_t(bufferFrameCount) * channels, 0);

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
}

void WasapiPlayer::pushPacket(std::uint32_t sequence, const unsigned char *packet,
                              std::size_t length)
{
    if (!running || !packet || length == 0)
        return;
    jitterBuffer->push(sequence, packet, length, clock());
}

JitterBuffer::Stats WasapiPlayer::playoutStats() const
{
    return running ? jitterBuffer->stats() : JitterBuffer::Stats();
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
        if (!renderClient->currentPadding(padding))
            continue;
        padding = std::min(padding, bufferFrameCount);
        const std::uint32_t frames =
            jitterBuffer->render(rendered.data(), padding, bufferFrameCount - padding, clock());
        if (frames == 0)
            continue;
        unsigned char *buffer = renderClient->getBuffer(frames);
        if (!buffer)
            continue;
        writeRenderFrames(rendered.data(), pushedChannels, frames, format, buffer);
        renderClient->releaseBuffer(frames);
    }
    platform.detachThread();
}
