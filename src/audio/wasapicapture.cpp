#include "audio/wasapicapture.h"

#include <chrono>

namespace {

constexpr std::chrono::milliseconds pollInterval(10);

} // namespace

WasapiCapture::WasapiCapture()
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
        std::this_thread::sleep_for(pollInterval);
        std::uint32_t frames = 0;
        // Drain every packet that is ready. A failing call ends the drain until the next
        // poll, so a stream that keeps failing neither spins nor holds up stop.
        while (running && captureClient->nextPacketSize(frames) && frames > 0) {
            CapturePacket packet;
            if (!captureClient->getBuffer(packet))
                break;
            if (callback && packet.frames > 0)
                deliverPacket(packet);
            captureClient->releaseBuffer(packet.frames);
        }
    }
    platform.detachThread();
}

void WasapiCapture::deliverPacket(const CapturePacket &packet)
{
    std::uint64_t frames = 0;
    const float *samples = converter.convert(packet.data, packet.frames, packet.silent, frames);
    if (frames > 0)
        callback(samples, frames);
}
