#include "audio/platform/fake/fakeendpoint.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// Bytes after every lent render buffer, to catch a writer that goes past its end.
constexpr std::size_t guardBytes = 64;
constexpr unsigned char guardValue = 0xA5;
// What a lent render buffer holds before it is written, so unwritten parts show.
constexpr unsigned char unwrittenValue = 0xCD;
// What a silent loopback packet holds, so a reader that ignores the flag shows.
constexpr unsigned char silentPacketValue = 0x7F;

StreamFormat floatStereo()
{
    StreamFormat format;
    format.encoding = StreamFormat::Encoding::Float;
    format.sampleRate = 48000;
    format.channels = 2;
    format.bitsPerSample = 32;
    return format;
}

} // namespace

class FakeLoopbackStream final : public LoopbackStream
{
public:
    FakeLoopbackStream(std::shared_ptr<FakeEndpoint> endpoint, const StreamFormat &format)
        : endpoint(std::move(endpoint)), mixFormat(format)
    {
    }

    ~FakeLoopbackStream() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (started)
            --endpoint->capturing;
        if (hasLent)
            --endpoint->lentPackets;
        --endpoint->streams;
        endpoint->changed.notify_all();
    }

    StreamFormat format() const override { return mixFormat; }

    bool start() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (endpoint->disconnected || endpoint->streamStartFails)
            return false;
        if (!started)
            ++endpoint->capturing;
        started = true;
        endpoint->changed.notify_all();
        return true;
    }

    void stop() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (started)
            --endpoint->capturing;
        started = false;
        endpoint->changed.notify_all();
    }

    void waitForPacket(std::uint32_t frames, int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(endpoint->mutex);
        ++endpoint->readersWaiting;
        ++endpoint->packetWaitCount;
        endpoint->changed.notify_all();
        const auto ready = [this, frames] {
            std::uint64_t queued = 0;
            for (const FakeEndpoint::Packet &packet : endpoint->packets)
                queued += packet.frames;
            return endpoint->packetEvents && started && queued >= frames;
        };
        endpoint->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        --endpoint->readersWaiting;
    }

    bool nextPacketSize(std::uint32_t &frames) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (endpoint->disconnected)
            return false;
        if (endpoint->packetSizeFailures > 0) {
            --endpoint->packetSizeFailures;
            return false;
        }
        frames = started && !endpoint->packets.empty() ? endpoint->packets.front().frames : 0;
        return true;
    }

    bool getBuffer(CapturePacket &packet) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (endpoint->disconnected || hasLent)
            return false;
        if (endpoint->getBufferFailures > 0) {
            --endpoint->getBufferFailures;
            return false;
        }
        packet = CapturePacket();
        if (!started || endpoint->packets.empty())
            return true;
        lent = std::move(endpoint->packets.front());
        endpoint->packets.pop_front();
        hasLent = true;
        ++endpoint->lentPackets;
        packet.data = lent.bytes.data();
        packet.frames = lent.frames;
        packet.silent = lent.silent;
        packet.delayUs = endpoint->captureDelayUs;
        return true;
    }

    void releaseBuffer(std::uint32_t) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (!hasLent)
            return;
        hasLent = false;
        --endpoint->lentPackets;
        ++endpoint->releasedPackets;
        endpoint->changed.notify_all();
    }

private:
    const std::shared_ptr<FakeEndpoint> endpoint;
    const StreamFormat mixFormat;
    // Guarded by the endpoint's mutex.
    bool started = false;
    bool hasLent = false;
    FakeEndpoint::Packet lent; // its bytes stay put until released
};

class FakeRenderStream final : public RenderStream
{
public:
    FakeRenderStream(std::shared_ptr<FakeEndpoint> endpoint, const StreamFormat &format,
                     std::uint32_t frames, std::uint32_t period)
        : endpoint(std::move(endpoint)), streamFormat(format), frameCount(frames), period(period)
    {
    }

    ~FakeRenderStream() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (started)
            --endpoint->rendering;
        --endpoint->streams;
        endpoint->changed.notify_all();
    }

    StreamFormat format() const override { return streamFormat; }
    std::uint32_t bufferFrames() const override { return frameCount; }
    std::uint32_t periodFrames() const override { return period; }

    bool start() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (endpoint->disconnected || endpoint->streamStartFails)
            return false;
        if (!started)
            ++endpoint->rendering;
        started = true;
        // A new stream has a new event, with nothing signalled yet.
        endpoint->pendingEvents = 0;
        endpoint->changed.notify_all();
        return true;
    }

    void stop() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (started)
            --endpoint->rendering;
        started = false;
        endpoint->changed.notify_all();
    }

    void waitForEvent(int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(endpoint->mutex);
        const auto signalled = [this] { return endpoint->pendingEvents > 0; };
        endpoint->renderWaiting = true;
        endpoint->changed.notify_all();
        if (endpoint->manualEvents)
            endpoint->changed.wait(lock, signalled);
        else
            endpoint->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), signalled);
        endpoint->renderWaiting = false;
        if (endpoint->pendingEvents > 0)
            --endpoint->pendingEvents;
    }

    void wake() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        ++endpoint->pendingEvents;
        endpoint->changed.notify_all();
    }

    bool currentPadding(std::uint32_t &frames) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (endpoint->disconnected)
            return false;
        frames = std::min(endpoint->padding, frameCount);
        return true;
    }

    unsigned char *getBuffer(std::uint32_t frames) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (endpoint->disconnected || lentFrames > 0 || frames == 0 ||
            frames > frameCount - std::min(endpoint->padding, frameCount))
            return nullptr;
        lentFrames = frames;
        const std::size_t size = std::size_t(frames) * std::size_t(streamFormat.blockAlign());
        lent.assign(size, unwrittenValue);
        lent.resize(size + guardBytes, guardValue);
        return lent.data();
    }

    void releaseBuffer(std::uint32_t frames) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (lentFrames == 0)
            return;
        const std::size_t lentSize = std::size_t(lentFrames) * streamFormat.blockAlign();
        if (std::any_of(lent.begin() + lentSize, lent.end(),
                        [](unsigned char byte) { return byte != guardValue; }))
            ++endpoint->overruns;
        const std::uint32_t writtenFrames = std::min(frames, lentFrames);
        const std::size_t written =
            std::size_t(writtenFrames) * std::size_t(streamFormat.blockAlign());
        endpoint->rendered.insert(endpoint->rendered.end(), lent.begin(),
                                  lent.begin() + written);
        if (endpoint->playsPeriods) {
            endpoint->padding += writtenFrames;
            endpoint->playedAny = true;
        }
        lentFrames = 0;
        ++endpoint->cycles;
        endpoint->changed.notify_all();
    }

private:
    const std::shared_ptr<FakeEndpoint> endpoint;
    const StreamFormat streamFormat;
    const std::uint32_t frameCount;
    const std::uint32_t period;
    // Guarded by the endpoint's mutex, except the lent buffer's bytes, which the render
    // thread writes between getBuffer and releaseBuffer without it.
    bool started = false;
    std::uint32_t lentFrames = 0;
    std::vector<unsigned char> lent;
};

class FakeAudioEndpoint final : public AudioEndpoint
{
public:
    explicit FakeAudioEndpoint(std::shared_ptr<FakeEndpoint> endpoint)
        : endpoint(std::move(endpoint))
    {
    }

    std::unique_ptr<LoopbackStream> openLoopback() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (endpoint->disconnected || endpoint->streamOpenFails)
            return {};
        ++endpoint->streams;
        return std::make_unique<FakeLoopbackStream>(endpoint, endpoint->captureFormat);
    }

    std::unique_ptr<RenderStream> openRender(int sampleRate, int channels, int bufferMs) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (endpoint->disconnected || endpoint->streamOpenFails || sampleRate <= 0 ||
            channels <= 0 || bufferMs <= 0)
            return {};
        StreamFormat format = endpoint->fallbackFormat;
        if (format.encoding == StreamFormat::Encoding::Other) {
            format.encoding = StreamFormat::Encoding::Pcm;
            format.sampleRate = sampleRate;
            format.channels = channels;
            format.bitsPerSample = 16;
            format.channelMask = 0;
        }
        const std::uint32_t frames =
            endpoint->scriptedBufferFrames > 0
                ? endpoint->scriptedBufferFrames
                : std::uint32_t(std::int64_t(format.sampleRate) * bufferMs / 1000);
        const std::uint32_t period = endpoint->scriptedPeriodFrames > 0
                                         ? endpoint->scriptedPeriodFrames
                                         : std::uint32_t(format.sampleRate / 100);
        endpoint->lastRenderFormat = format;
        endpoint->renderPeriod = period;
        ++endpoint->streams;
        return std::make_unique<FakeRenderStream>(endpoint, format, frames, period);
    }

private:
    const std::shared_ptr<FakeEndpoint> endpoint;
};

FakeEndpoint::FakeEndpoint(std::wstring id, std::wstring name)
    : endpointId(std::move(id)), endpointName(std::move(name)), captureFormat(floatStereo())
{
}

std::unique_ptr<AudioEndpoint> FakeEndpoint::open(const std::shared_ptr<FakeEndpoint> &endpoint)
{
    std::lock_guard<std::mutex> lock(endpoint->mutex);
    if (endpoint->openFails || endpoint->disconnected)
        return {};
    return std::make_unique<FakeAudioEndpoint>(endpoint);
}

void FakeEndpoint::setOpenFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex);
    openFails = fails;
}

void FakeEndpoint::setStreamOpenFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex);
    streamOpenFails = fails;
}

void FakeEndpoint::setStreamStartFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex);
    streamStartFails = fails;
}

void FakeEndpoint::disconnect()
{
    std::lock_guard<std::mutex> lock(mutex);
    disconnected = true;
    changed.notify_all();
}

int FakeEndpoint::openStreams() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return streams;
}

void FakeEndpoint::setLoopbackFormat(const StreamFormat &format)
{
    std::lock_guard<std::mutex> lock(mutex);
    captureFormat = format;
}

StreamFormat FakeEndpoint::loopbackFormat() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return captureFormat;
}

void FakeEndpoint::feedPacket(std::vector<unsigned char> bytes, std::uint32_t frames, bool silent)
{
    std::lock_guard<std::mutex> lock(mutex);
    packets.push_back(Packet{std::move(bytes), frames, silent});
    changed.notify_all();
}

void FakeEndpoint::feedFloat(const std::vector<float> &samples)
{
    const std::size_t channels = std::size_t(std::max(1, loopbackFormat().channels));
    std::vector<unsigned char> bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    feedPacket(std::move(bytes), std::uint32_t(samples.size() / channels));
}

void FakeEndpoint::feedInt16(const std::vector<std::int16_t> &samples)
{
    const std::size_t channels = std::size_t(std::max(1, loopbackFormat().channels));
    std::vector<unsigned char> bytes;
    bytes.reserve(samples.size() * 2);
    for (std::int16_t sample : samples) {
        bytes.push_back(static_cast<unsigned char>(std::uint16_t(sample) & 0xFF));
        bytes.push_back(static_cast<unsigned char>(std::uint16_t(sample) >> 8));
    }
    feedPacket(std::move(bytes), std::uint32_t(samples.size() / channels));
}

void FakeEndpoint::feedSilence(std::uint32_t frames)
{
    const std::size_t size = std::size_t(frames) * std::size_t(loopbackFormat().blockAlign());
    feedPacket(std::vector<unsigned char>(size, silentPacketValue), frames, true);
}

void FakeEndpoint::setPacketEvents(bool fire)
{
    std::lock_guard<std::mutex> lock(mutex);
    packetEvents = fire;
    changed.notify_all();
}

void FakeEndpoint::setCaptureDelay(std::int64_t delayUs)
{
    std::lock_guard<std::mutex> lock(mutex);
    captureDelayUs = delayUs;
}

bool FakeEndpoint::waitUntilReaderWaits(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return readersWaiting > 0; });
}

int FakeEndpoint::packetWaits() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return packetWaitCount;
}

void FakeEndpoint::failPacketSize(int times)
{
    std::lock_guard<std::mutex> lock(mutex);
    packetSizeFailures = times;
}

void FakeEndpoint::failGetBuffer(int times)
{
    std::lock_guard<std::mutex> lock(mutex);
    getBufferFailures = times;
}

bool FakeEndpoint::waitUntilCaptured(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return packets.empty() && lentPackets == 0; });
}

int FakeEndpoint::capturedPackets() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return releasedPackets;
}

bool FakeEndpoint::isCapturing() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return capturing > 0;
}

void FakeEndpoint::setRenderFormat(const StreamFormat &format)
{
    std::lock_guard<std::mutex> lock(mutex);
    fallbackFormat = format;
}

void FakeEndpoint::setRenderBufferFrames(std::uint32_t frames)
{
    std::lock_guard<std::mutex> lock(mutex);
    scriptedBufferFrames = frames;
}

void FakeEndpoint::setRenderPadding(std::uint32_t frames)
{
    std::lock_guard<std::mutex> lock(mutex);
    padding = frames;
}

void FakeEndpoint::setManualRenderEvents(bool manual)
{
    std::lock_guard<std::mutex> lock(mutex);
    manualEvents = manual;
}

void FakeEndpoint::setRenderPeriodFrames(std::uint32_t frames)
{
    std::lock_guard<std::mutex> lock(mutex);
    scriptedPeriodFrames = frames;
}

void FakeEndpoint::setPlaysPeriods(bool plays)
{
    std::lock_guard<std::mutex> lock(mutex);
    playsPeriods = plays;
    padding = 0;
    starvedFrames = 0;
    playedAny = false;
}

void FakeEndpoint::triggerRender(int times)
{
    std::lock_guard<std::mutex> lock(mutex);
    pendingEvents += times;
    if (playsPeriods && playedAny) {
        const std::uint64_t played = std::uint64_t(times) * renderPeriod;
        starvedFrames += played > padding ? played - padding : 0;
        padding -= std::uint32_t(std::min<std::uint64_t>(played, padding));
    }
    changed.notify_all();
}

bool FakeEndpoint::waitForRenderIdle(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return renderWaiting && pendingEvents == 0; });
}

std::uint64_t FakeEndpoint::renderStarvedFrames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return starvedFrames;
}

std::uint32_t FakeEndpoint::renderQueuedFrames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return padding;
}

bool FakeEndpoint::waitForRenderCycles(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this, count] { return cycles >= count; });
}

int FakeEndpoint::renderCycles() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return cycles;
}

StreamFormat FakeEndpoint::renderFormat() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return lastRenderFormat;
}

std::vector<unsigned char> FakeEndpoint::renderedBytes() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return rendered;
}

std::vector<std::int16_t> FakeEndpoint::renderedInt16() const
{
    const std::vector<unsigned char> bytes = renderedBytes();
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::int16_t(std::uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8));
    return samples;
}

std::vector<float> FakeEndpoint::renderedFloat() const
{
    const std::vector<unsigned char> bytes = renderedBytes();
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

void FakeEndpoint::clearRendered()
{
    std::lock_guard<std::mutex> lock(mutex);
    rendered.clear();
}

int FakeEndpoint::renderOverruns() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return overruns;
}

bool FakeEndpoint::isRendering() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return rendering > 0;
}
