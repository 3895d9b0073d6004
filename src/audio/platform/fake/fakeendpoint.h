#pragma once

#include "audio/platform/audioplatform.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One output endpoint of the fake platform, as a test scripts and observes it. Its loopback
// streams deliver the packets the test feeds; its render streams record what is written.
// Every member is safe to call from any thread while the engines' threads use its streams.
class FakeEndpoint
{
public:
    FakeEndpoint(std::wstring id, std::wstring name);

    const std::wstring &id() const { return endpointId; }
    const std::wstring &name() const { return endpointName; }

    // What the platform hands out when this endpoint is opened; null when it cannot be.
    static std::unique_ptr<AudioEndpoint> open(const std::shared_ptr<FakeEndpoint> &endpoint);

    // --- Opening
    // The endpoint cannot be opened (it stays listed).
    void setOpenFails(bool fails);
    // Its loopback and render streams cannot be opened.
    void setStreamOpenFails(bool fails);
    // Its streams open but refuse to start.
    void setStreamStartFails(bool fails);
    // Every stream open now fails all its calls from here on, as a device that went away.
    void disconnect();
    // Streams of this endpoint that exist now (loopback and render).
    int openStreams() const;

    // --- Loopback capture
    // The mix format its loopback streams report; 48000 Hz stereo 32-bit float until set.
    void setLoopbackFormat(const StreamFormat &format);
    StreamFormat loopbackFormat() const;
    // Queues one packet of raw bytes with the given frame count. Packets wait until a
    // started loopback stream takes them, in the order fed.
    void feedPacket(std::vector<unsigned char> bytes, std::uint32_t frames, bool silent = false);
    // Interleaved samples in the loopback format's channels (which must be 32-bit float, or
    // 16-bit PCM for feedInt16).
    void feedFloat(const std::vector<float> &samples);
    void feedInt16(const std::vector<std::int16_t> &samples);
    // A packet flagged silent whose bytes hold loud garbage.
    void feedSilence(std::uint32_t frames);
    // Whether a reader waiting for frames wakes as soon as enough are queued (it does until
    // set); when it does not, a wait for a packet lasts its whole timeout.
    void setPacketEvents(bool fire);
    // The delay, in microseconds, that lent packets report from now on (-1, unknown, until
    // set).
    void setCaptureDelay(std::int64_t delayUs);
    // Waits until a reader is inside waitForPacket; false on timeout.
    bool waitUntilReaderWaits(int timeoutMs) const;
    // Waits for a packet begun by readers so far.
    int packetWaits() const;
    // The next `times` calls of nextPacketSize (or getBuffer) fail.
    void failPacketSize(int times);
    void failGetBuffer(int times);
    // Waits until every fed packet has been taken and released; false on timeout.
    bool waitUntilCaptured(int timeoutMs) const;
    // Packets taken and released so far.
    int capturedPackets() const;
    // Whether a loopback stream of this endpoint is started.
    bool isCapturing() const;

    // --- Render
    // The format its render streams report instead of the requested 16-bit PCM (the mix
    // format fallback); an Other encoding (the default) means no fallback.
    void setRenderFormat(const StreamFormat &format);
    // Endpoint buffer size in frames; until set, the requested buffer length.
    void setRenderBufferFrames(std::uint32_t frames);
    // Frames reported as still queued at every padding query (0 until set).
    void setRenderPadding(std::uint32_t frames);
    // The period its render streams report; until set, 10 ms at the stream's rate.
    void setRenderPeriodFrames(std::uint32_t frames);
    // When true, the endpoint behaves as a device that plays: every released frame is
    // queued, and every triggerRender() first plays one period from the queue (the padding
    // reported), counting what it lacked as starved once anything was released. Clears the
    // queue and the count.
    void setPlaysPeriods(bool plays);
    // When true, render streams wake only for triggerRender() or wake(), never by timeout.
    void setManualRenderEvents(bool manual);
    // Signals the render event; every trigger wakes the render thread once.
    void triggerRender(int times = 1);
    // Waits until every triggered event has been handled and a render thread waits for the
    // next; false on timeout.
    bool waitForRenderIdle(int timeoutMs) const;
    // Frames a playing device had to play with nothing queued: a dropout below the player.
    std::uint64_t renderStarvedFrames() const;
    // Frames released and not yet played (the padding).
    std::uint32_t renderQueuedFrames() const;
    // Waits until at least this many buffers have been released in total; false on timeout.
    bool waitForRenderCycles(int count, int timeoutMs) const;
    int renderCycles() const;
    // The format the last opened render stream reports.
    StreamFormat renderFormat() const;
    // Everything written into released buffers, in order.
    std::vector<unsigned char> renderedBytes() const;
    std::vector<std::int16_t> renderedInt16() const; // read as 16-bit samples
    std::vector<float> renderedFloat() const;        // read as 32-bit float samples
    void clearRendered();
    // Buffers whose writer went past their end (checked at release).
    int renderOverruns() const;
    // Whether a render stream of this endpoint is started.
    bool isRendering() const;

private:
    friend class FakeLoopbackStream;
    friend class FakeRenderStream;
    friend class FakeAudioEndpoint;

    struct Packet
    {
        std::vector<unsigned char> bytes;
        std::uint32_t frames = 0;
        bool silent = false;
    };

    const std::wstring endpointId;
    const std::wstring endpointName;

    // Guards every member below; `changed` is notified whenever one of them changes.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool openFails = false;
    bool streamOpenFails = false;
    bool streamStartFails = false;
    bool disconnected = false;
    int streams = 0;
    StreamFormat captureFormat;
    std::deque<Packet> packets;
    int lentPackets = 0;
    int releasedPackets = 0;
    bool packetEvents = true;
    std::int64_t captureDelayUs = -1;
    int readersWaiting = 0;
    int packetWaitCount = 0;
    int packetSizeFailures = 0;
    int getBufferFailures = 0;
    int capturing = 0;
    StreamFormat fallbackFormat;
    std::uint32_t scriptedBufferFrames = 0;
    std::uint32_t padding = 0;
    std::uint32_t scriptedPeriodFrames = 0;
    std::uint32_t renderPeriod = 0; // of the last opened render stream
    bool playsPeriods = false;
    bool playedAny = false;
    bool renderWaiting = false; // a render thread is inside waitForEvent
    std::uint64_t starvedFrames = 0;
    bool manualEvents = false;
    int pendingEvents = 0;
    int cycles = 0;
    int overruns = 0;
    int rendering = 0;
    StreamFormat lastRenderFormat;
    std::vector<unsigned char> rendered;
};
