#pragma once

#include "audio/deviceinfo.h"
#include "audio/platform/audioplatform.h"
#include "audio/playout/jitterbuffer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Plays the Opus packets of one stream into an output endpoint. Pushed packets wait in a
// jitter buffer (JitterBuffer) that a render thread of its own decodes and drains into the
// device whenever the device wants data, keeping it a little ahead; while there is nothing
// to play the device plays silence.
class WasapiPlayer
{
public:
    // Monotonic time in nanoseconds; tests drive the player with a clock of their own.
    using Clock = std::int64_t (*)();
    static std::int64_t steadyClock();

    explicit WasapiPlayer(Clock clock = &WasapiPlayer::steadyClock);
    ~WasapiPlayer();
    WasapiPlayer(const WasapiPlayer &) = delete;
    WasapiPlayer &operator=(const WasapiPlayer &) = delete;

    // Starts playing into the endpoint with this id (an empty id: the default output) in the
    // given format; stops a running stream first. False when the stream cannot be started.
    bool start(const std::wstring &deviceId, std::uint32_t sampleRate, std::uint16_t channels);
    // Ends playback, joins the render thread and discards what was pending.
    void stop();
    // Queues one packet with its sequence number, as it arrived; ignored while stopped.
    // Called from one thread, the one that starts and stops the player.
    void pushPacket(std::uint32_t sequence, const unsigned char *packet, std::size_t length);
    // What the jitter buffer does; the defaults (no latency) while stopped.
    JitterBuffer::Stats playoutStats() const;

    static std::vector<DeviceInfo> enumerateDevices();

private:
    void renderLoop();

    const Clock clock;
    // The render thread only reads it; start and stop change it around the thread's life.
    std::atomic<bool> running{false};
    std::thread thread;
    // Set up by start before the thread exists and released by stop after it is joined; in
    // between only the render thread uses them, so no lock guards them.
    std::unique_ptr<AudioEndpoint> device;
    std::unique_ptr<RenderStream> renderClient;
    std::uint32_t bufferFrameCount = 0;
    StreamFormat format;    // what the stream runs with, possibly the endpoint's mix format
    int pushedChannels = 0; // channels of the pushed audio
    std::vector<std::int16_t> rendered; // one wake's audio before it is converted
    // Made by start for its format; shared by the pushing thread and the render thread
    // under the jitter buffer's own lock.
    std::unique_ptr<JitterBuffer> jitterBuffer;
};
