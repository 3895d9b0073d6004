#pragma once

#include "audio/deviceinfo.h"
#include "audio/platform/audioplatform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Plays interleaved 16-bit audio into an output endpoint. Pushed samples wait in a bounded
// queue that a render thread of its own drains into the device whenever the device wants
// data; when nothing is pending the device plays silence.
class WasapiPlayer
{
public:
    // The most audio that waits to be played; a push beyond it drops the oldest samples, so
    // a sender that runs ahead of the device costs latency only up to this bound.
    static constexpr int maxPendingMs = 200;

    WasapiPlayer();
    ~WasapiPlayer();
    WasapiPlayer(const WasapiPlayer &) = delete;
    WasapiPlayer &operator=(const WasapiPlayer &) = delete;

    // Starts playing into the endpoint with this id (an empty id: the default output) in the
    // given format; stops a running stream first. False when the stream cannot be started.
    bool start(const std::wstring &deviceId, std::uint32_t sampleRate, std::uint16_t channels);
    // Ends playback, joins the render thread and discards what was pending.
    void stop();
    // Queues count samples (not frames) for playing; ignored while stopped.
    void pushSamples(const std::int16_t *samples, std::size_t count);

    static std::vector<DeviceInfo> enumerateDevices();

private:
    void renderLoop();
    void fillBuffer(unsigned char *buffer, std::uint32_t frames);

    // The render thread only reads it; start and stop change it around the thread's life.
    std::atomic<bool> running{false};
    std::thread thread;
    // Set up by start before the thread exists and released by stop after it is joined; in
    // between only the render thread uses them, so no lock guards them.
    std::unique_ptr<AudioEndpoint> device;
    std::unique_ptr<RenderStream> renderClient;
    std::uint32_t bufferFrameCount = 0;
    StreamFormat format;    // what the stream runs with, possibly the endpoint's mix format
    int pushedChannels = 0; // channels of the pushed samples
    // Guards pendingSamples and maxPendingSamples.
    std::mutex mutex;
    std::vector<std::int16_t> pendingSamples; // oldest first
    std::size_t maxPendingSamples = 0;        // maxPendingMs at the started rate and channels
};
