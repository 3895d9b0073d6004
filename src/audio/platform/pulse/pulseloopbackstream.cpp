#include "audio/platform/pulse/pulseloopbackstream.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulsestream.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr int sampleRate = 48000;
constexpr int channels = 2;
constexpr int frameBytes = channels * 4;
// How much audio the server is asked to send at a time, 10 ms. With the capture woken when
// its frame is complete, 10, 5 and 2.5 ms measured the same within about a millisecond on
// the test server's null sinks (bench/README.md). A smaller request would also make
// PipeWire run its whole graph, every program's audio, at that period while we stream.
constexpr int fragmentFrames = 480;
// What the queue holds at most: a capture thread held up for longer leaves the rest with
// the server.
constexpr std::size_t queueFrames = sampleRate;

} // namespace

std::unique_ptr<PulseLoopbackStream>
PulseLoopbackStream::open(std::shared_ptr<PulseContext> context, const std::string &monitorSource)
{
    if (!context)
        return {};
    PulseContext::Lock lock(*context);
    std::unique_ptr<PulseLoopbackStream> loopback(new PulseLoopbackStream(context));
    pa_stream *stream = loopback->stream->get();
    if (!stream)
        return {};
    pa_stream_set_read_callback(
        stream,
        [](pa_stream *, std::size_t, void *self) {
            static_cast<PulseLoopbackStream *>(self)->takeFromServer();
        },
        loopback.get());

    pa_buffer_attr attributes;
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = std::uint32_t(-1);
    attributes.prebuf = std::uint32_t(-1);
    attributes.minreq = std::uint32_t(-1);
    attributes.fragsize = fragmentFrames * frameBytes;
    // The timing flags let the stream's latency be read at any moment without asking the
    // server each time.
    const auto flags =
        pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY |
                          PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(stream, monitorSource.c_str(), &attributes, flags) < 0 ||
        !loopback->stream->waitUntilReady())
        return {};
    return loopback;
}

PulseLoopbackStream::PulseLoopbackStream(std::shared_ptr<PulseContext> context)
    : queue(queueFrames, frameBytes, sampleRate),
      stream(std::make_unique<PulseStream>(
          std::move(context), "Loopback capture",
          pa_sample_spec{PA_SAMPLE_FLOAT32LE, sampleRate, channels}, [this] { stateChanged(); }))
{
}

PulseLoopbackStream::~PulseLoopbackStream() = default;

StreamFormat PulseLoopbackStream::format() const
{
    return {StreamFormat::Encoding::Float, sampleRate, channels, 32};
}

bool PulseLoopbackStream::start()
{
    return stream->cork(false);
}

void PulseLoopbackStream::stop()
{
    stream->cork(true);
}

void PulseLoopbackStream::stateChanged()
{
    ready = stream->isReady();
}

void PulseLoopbackStream::takeFromServer()
{
    pa_stream *source = stream->get();
    const void *data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(source, &data, &bytes) == 0 && bytes > 0) {
        // The read index stands at this piece, so the latency is its first frame's age.
        const auto now = CaptureQueue::Clock::now();
        auto origin = now;
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(source, &latency, &negative) == 0 && !negative)
            origin -= std::chrono::microseconds(latency);
        bool taken = false;
        bool enough = false;
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            taken = queue.push(data, bytes, origin);
            enough = queue.readableFrames() >= wantedFrames;
        }
        if (!taken)
            return; // the queue is full: the server keeps it until the next piece arrives
        pa_stream_drop(source);
        if (enough)
            arrived.notify_one();
    }
}

void PulseLoopbackStream::waitForPacket(std::uint32_t frames, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(queueMutex);
    wantedFrames = std::max<std::uint32_t>(frames, 1);
    // A failed stream is not waited for specially: the reader learns of it from the next
    // call and sleeps out its timeout, rather than spinning.
    arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [this] { return queue.readableFrames() >= wantedFrames; });
}

bool PulseLoopbackStream::nextPacketSize(std::uint32_t &frames)
{
    frames = 0;
    if (!ready)
        return false;
    std::lock_guard<std::mutex> lock(queueMutex);
    frames = queue.front(CaptureQueue::Clock::now()).frames;
    return true;
}

bool PulseLoopbackStream::getBuffer(CapturePacket &packet)
{
    packet = CapturePacket();
    if (!ready)
        return false;
    std::lock_guard<std::mutex> lock(queueMutex);
    packet = queue.front(CaptureQueue::Clock::now());
    return true;
}

void PulseLoopbackStream::releaseBuffer(std::uint32_t frames)
{
    // Releasing no frames keeps the packet for the next read, as the engines expect.
    std::lock_guard<std::mutex> lock(queueMutex);
    queue.pop(frames);
}
