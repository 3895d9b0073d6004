#pragma once

#include "audio/captureconverter.h"
#include "audio/deviceinfo.h"
#include "audio/platform/audioplatform.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Receives each captured packet as 48000 Hz, 2-channel interleaved float samples with its
// frame count; the samples are valid only during the call.
using CaptureCallback = std::function<void(const float *samples, std::uint64_t frameCount)>;

// Records what an output endpoint plays (loopback) and hands it, packet by packet, to a
// callback on a capture thread of its own, which polls the endpoint every 10 ms.
class WasapiCapture
{
public:
    WasapiCapture();
    ~WasapiCapture();
    WasapiCapture(const WasapiCapture &) = delete;
    WasapiCapture &operator=(const WasapiCapture &) = delete;

    // Starts capturing the endpoint with this id (an empty id: the default output); stops a
    // running capture first. False when the endpoint cannot be opened or started.
    bool start(const std::wstring &deviceId, CaptureCallback callback);
    // Ends the capture and joins the capture thread; never call it from the callback.
    void stop();

    static std::vector<DeviceInfo> enumerateDevices();

private:
    void captureLoop();
    void deliverPacket(const CapturePacket &packet);
    void releaseResources();

    // The capture thread only reads it; start and stop change it around the thread's life.
    std::atomic<bool> running{false};
    std::thread thread;
    // Set up by start before the thread exists and released by stop after it is joined; in
    // between only the capture thread uses them, so no lock guards them.
    std::unique_ptr<AudioEndpoint> device;
    std::unique_ptr<LoopbackStream> captureClient;
    CaptureCallback callback;
    StreamFormat mixFormat;
    CaptureConverter converter;
};
