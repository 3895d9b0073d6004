#pragma once

#include "audio/captureconverter.h"
#include "audio/deviceinfo.h"
#include "audio/platform/audioplatform.h"
#include "audio/silencefiller.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Receives each captured packet as 48000 Hz, 2-channel interleaved float samples with its
// frame count and the moment its first frame left the computer's mixer (as well as the sound
// system can tell; the moment it was handed over where it cannot); the samples are valid
// only during the call.
using CaptureClock = std::chrono::steady_clock;
using CaptureCallback = std::function<void(const float *samples, std::uint64_t frameCount,
                                           CaptureClock::time_point mixed)>;

// Records what an output endpoint plays (loopback) and hands it, packet by packet, to a
// callback on a capture thread of its own. The thread either sleeps 10 ms between polls of
// the endpoint, or (event sync) waits for the audio that completes the next 10 ms frame,
// counted from the start of the capture, 10 ms at the latest; every wake drains all packets
// that are ready. A consumer that frames the audio in 10 ms from the start thus gets each
// frame's last packet as soon as the endpoint has it. With continuous capture, a device
// that delivers nothing is stood in for by silence at the 10 ms pace (see SilenceFiller).
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

    // Both switches may change at any time, also while capturing; the capture thread reads
    // them on every wake. Both are off until switched on: a plain 10 ms poll, and nothing
    // sent for a device that delivers nothing.
    void setEventSync(bool enabled) { eventSync = enabled; }
    void setContinuousCapture(bool enabled) { continuous = enabled; }
    bool eventSyncEnabled() const { return eventSync; }
    bool continuousCaptureEnabled() const { return continuous; }

    static std::vector<DeviceInfo> enumerateDevices();

private:
    void captureLoop();
    // Hands over every ready packet; whether the device delivered any.
    bool drain();
    void deliverPacket(const CapturePacket &packet);
    // Endpoint frames that complete the frame being filled.
    std::uint32_t framesToCompleteFrame() const;
    void fillSilence(SilenceFiller::Clock::time_point now);
    void releaseResources();

    // The capture thread only reads it; start and stop change it around the thread's life.
    std::atomic<bool> running{false};
    // Written by the GUI thread at any time, read by the capture thread at every wake.
    std::atomic<bool> eventSync{false};
    std::atomic<bool> continuous{false};
    std::thread thread;
    // Set up by start before the thread exists and released by stop after it is joined; in
    // between only the capture thread uses them, so no lock guards them.
    std::unique_ptr<AudioEndpoint> device;
    std::unique_ptr<LoopbackStream> captureClient;
    CaptureCallback callback;
    StreamFormat mixFormat;
    CaptureConverter converter;
    SilenceFiller silenceFiller;
    const std::vector<float> silentFrame; // one 10 ms frame of stereo zeros
    std::uint32_t frameFill = 0;          // frames delivered since the start, modulo a frame
};
