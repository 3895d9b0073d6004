#include "audio/wasapicapture.h"

#include <chrono>

namespace {

constexpr std::chrono::milliseconds pollInterval(10);
// Frames of the 10 ms frame the consumers build, which is also what silence is given in.
constexpr std::uint32_t frameFrames =
    std::uint32_t(CaptureConverter::outputRate / 1000 * SilenceFiller::period.count());
// One sample frame at the rate the consumers get.
const CaptureClock::duration sampleLength = std::chrono::duration_cast<CaptureClock::duration>(
    std::chrono::nanoseconds(std::int64_t(1000000000) / CaptureConverter::outputRate));

} // namespace

WasapiCapture::WasapiCapture()
    : silenceFiller(CaptureConverter::outputRate),
      silentFrame(std::size_t(frameFrames) * CaptureConverter::outputChannels, 0.0f)
{
    AudioPlatform::instance().attachThread();
}

WasapiCapture::~WasapiCapture()
{
    stop();
    AudioPlatform::instance().detachThread();
}

bool WasapiCapture::start(const std::wstring &deviceId, CaptureCallback newCallback)
{
    if (running)
        stop();
    callback = std::move(newCallback);

    device = AudioPlatform::instance().openEndpoint(deviceId);
    if (device)
        captureClient = device->openLoopback();
    if (captureClient) {
        mixFormat = captureClient->format();
        // An unreadable mix format still captures; its packets are released unseen.
        converter.configure(mixFormat);
    }
    if (!captureClient || !captureClient->start()) {
        // Nothing a failed start obtained is used again.
        captureClient.reset();
        device.reset();
        return false;
    }

    silenceFiller.restart(SilenceFiller::Clock::now());
    frameFill = 0;
    running = true;
    thread = std::thread(&WasapiCapture::captureLoop, this);
    return true;
}

void WasapiCapture::stop()
{
    if (!running.exchange(false))
        return;
    releaseResources();
}

std::vector<DeviceInfo> WasapiCapture::enumerateDevices()
{
    return AudioPlatform::instance().outputEndpoints();
}

void WasapiCapture::releaseResources()
{
    if (thread.joinable())
        thread.join();
    if (captureClient)
        captureClient->stop();
    captureClient.reset();
    device.reset();
}

void WasapiCapture::captureLoop()
{
    AudioPlatform &platform = AudioPlatform::instance();
    platform.attachThread();
    while (running) {
        if (eventSync)
            captureClient->waitForPacket(framesToCompleteFrame(), int(pollInterval.count()));
        else
            std::this_thread::sleep_for(pollInterval);
        if (!drain())
            fillSilence(SilenceFiller::Clock::now());
    }
    platform.detachThread();
}

bool WasapiCapture::drain()
{
    bool heard = false;
    std::uint32_t frames = 0;
    // A failing call ends the drain until the next wake, so a stream that keeps failing
    // neither spins nor holds up stop.
    while (running && captureClient->nextPacketSize(frames) && frames > 0) {
        CapturePacket packet;
        if (!captureClient->getBuffer(packet))
            break;
        heard = heard || packet.frames > 0;
        if (callback && packet.frames > 0)
            deliverPacket(packet);
        captureClient->releaseBuffer(packet.frames);
    }
    return heard;
}

void WasapiCapture::deliverPacket(const CapturePacket &packet)
{
    std::uint64_t frames = 0;
    const CaptureClock::time_point now = CaptureClock::now();
    CaptureClock::time_point mixed = now;
    if (packet.delayUs >= 0)
        mixed -= std::chrono::microseconds(packet.delayUs);
    const float *samples = converter.convert(packet.data, packet.frames, packet.silent, frames);
    // What silence already stood in for is not sent again.
    const std::uint32_t covered =
        silenceFiller.heard(now, mixed, std::uint32_t(frames), packet.delayUs >= 0);
    frames -= covered;
    frameFill = std::uint32_t((frameFill + frames) % frameFrames);
    if (frames > 0)
        callback(samples + std::size_t(covered) * CaptureConverter::outputChannels, frames,
                 mixed + covered * sampleLength);
}

std::uint32_t WasapiCapture::framesToCompleteFrame() const
{
    const std::uint64_t missing = frameFrames - frameFill;
    if (mixFormat.sampleRate <= 0)
        return 1;
    // In the endpoint's own rate, rounded up; the resampler's delay may still make it a
    // little short, which costs one more wake.
    const std::uint64_t rate = std::uint64_t(mixFormat.sampleRate);
    return std::uint32_t((missing * rate + CaptureConverter::outputRate - 1) /
                         CaptureConverter::outputRate);
}

void WasapiCapture::fillSilence(SilenceFiller::Clock::time_point now)
{
    // Counted also while switched off, so that switching on in the middle of a quiet spell
    // goes on at the pace instead of catching up on the whole spell at once.
    const bool fill = continuous && callback;
    SilenceFiller::Clock::time_point firstMixed;
    const int frames = silenceFiller.take(now, fill, firstMixed);
    if (!fill)
        return;
    for (int i = 0; i < frames && running; ++i)
        callback(silentFrame.data(), frameFrames, firstMixed + i * SilenceFiller::period);
}
