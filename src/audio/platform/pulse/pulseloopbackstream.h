#pragma once

#include "audio/platform/audioplatform.h"
#include "audio/platform/pulse/capturequeue.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

class PulseContext;
class PulseStream;

// Records a sink's monitor source as 48000 Hz stereo float. The main loop's thread moves
// each piece the server sends into a queue as it arrives, so the capture thread never
// contends with it for the connection's lock; a waiting reader wakes as soon as the audio it
// waits for is there, however the server cuts it into pieces. The stream may not be moved by
// the server: when the sink goes away, it fails instead of silently recording another device.
class PulseLoopbackStream final : public LoopbackStream
{
public:
    // Null when the source does not exist or the server does not answer.
    static std::unique_ptr<PulseLoopbackStream> open(std::shared_ptr<PulseContext> context,
                                                     const std::string &monitorSource);
    ~PulseLoopbackStream() override;

    StreamFormat format() const override;
    bool start() override;
    void stop() override;
    void waitForPacket(std::uint32_t frames, int timeoutMs) override;
    bool nextPacketSize(std::uint32_t &frames) override;
    bool getBuffer(CapturePacket &packet) override;
    void releaseBuffer(std::uint32_t frames) override;

private:
    explicit PulseLoopbackStream(std::shared_ptr<PulseContext> context);
    // Main loop's thread, its lock held: moves what the server has sent into the queue.
    void takeFromServer();
    void stateChanged();

    // Guards queue and wantedFrames; `arrived` is notified when the queue has grown to
    // wantedFrames (a stream that fails wakes no one: the reader's wait times out).
    std::mutex queueMutex;
    std::condition_variable arrived;
    CaptureQueue queue;
    std::size_t wantedFrames = 1;
    // Set on the main loop's thread when the stream runs or fails.
    std::atomic<bool> ready{false};

    // After what its callbacks use, so that it goes first.
    std::unique_ptr<PulseStream> stream;
};
