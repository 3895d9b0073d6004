#pragma once

#include "audio/platform/audioplatform.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <pulse/sample.h>
#include <string>
#include <vector>

class PulseContext;
class PulseStream;

// Plays signed 16-bit audio into one sink. The server's requests for data wake the render
// loop, like the event of an event-driven stream; a failure wakes it too. The stream may
// not be moved: when the sink goes away it fails.
class PulseRenderStream final : public RenderStream
{
public:
    // Null when the sink does not exist, the format is invalid or the server does not answer.
    static std::unique_ptr<PulseRenderStream> open(std::shared_ptr<PulseContext> context,
                                                   const std::string &sink, int sampleRate,
                                                   int channels, int bufferMs);
    ~PulseRenderStream() override;

    StreamFormat format() const override { return streamFormat; }
    std::uint32_t bufferFrames() const override { return frameCapacity; }
    std::uint32_t periodFrames() const override;
    bool start() override;
    void stop() override;
    void waitForEvent(int timeoutMs) override;
    void wake() override;
    bool currentPadding(std::uint32_t &frames) override;
    unsigned char *getBuffer(std::uint32_t frames) override;
    void releaseBuffer(std::uint32_t frames) override;

private:
    PulseRenderStream(std::shared_ptr<PulseContext> context, const pa_sample_spec &spec);

    StreamFormat streamFormat;
    std::uint32_t frameCapacity = 0;
    // What the render loop writes into between getBuffer and releaseBuffer; the server gets
    // a copy. Only the render thread touches it.
    std::vector<unsigned char> buffer;

    std::mutex eventMutex; // guards signalled
    std::condition_variable eventSignal;
    bool signalled = false; // auto-reset: a wait consumes it

    // Last, so that it goes first: its callbacks use the event above.
    std::unique_ptr<PulseStream> stream;
};
