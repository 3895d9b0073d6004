#pragma once

#include "audio/platform/audioplatform.h"
#include "audio/platform/pulse/wakeevent.h"

#include <memory>
#include <string>
#include <vector>

class PulseContext;
class PulseStream;

// Records a sink's monitor source as 48000 Hz stereo float in small fragments; the arrival
// of each one wakes a waiting reader. The stream may not be moved by the server: when the
// sink goes away, it fails instead of silently recording another device.
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
    void waitForPacket(int timeoutMs) override;
    bool nextPacketSize(std::uint32_t &frames) override;
    bool getBuffer(CapturePacket &packet) override;
    void releaseBuffer(std::uint32_t frames) override;

private:
    explicit PulseLoopbackStream(std::shared_ptr<PulseContext> context);
    // Lock held: lends the next fragment if none is lent yet; false when the stream failed.
    bool peek();

    // Signalled by the stream's read callback on the main loop's thread.
    WakeEvent packetReady;
    // After the event, so that it goes first: its read callback uses the event.
    std::unique_ptr<PulseStream> stream;
    // The fragment lent by the server, until releaseBuffer. Only the thread that reads the
    // stream touches these.
    const void *fragment = nullptr;
    std::size_t fragmentBytes = 0;
    bool lent = false;
    // Zeros handed out for a hole in the recording, grown to the largest hole seen.
    std::vector<unsigned char> silence;
};
