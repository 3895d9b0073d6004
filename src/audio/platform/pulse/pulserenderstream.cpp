#include "audio/platform/pulse/pulserenderstream.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulsestream.h"

#include <algorithm>
#include <chrono>

namespace {

// The server asks for data in steps of about this much, so the render loop wakes about as
// often as it would on a device period.
constexpr int requestMs = 10;

} // namespace

std::unique_ptr<PulseRenderStream> PulseRenderStream::open(std::shared_ptr<PulseContext> context,
                                                           const std::string &sink, int sampleRate,
                                                           int channels, int bufferMs)
{
    if (!context || sampleRate <= 0 || channels <= 0 || bufferMs <= 0)
        return {};
    const pa_sample_spec spec{PA_SAMPLE_S16LE, std::uint32_t(sampleRate),
                              std::uint8_t(std::min(channels, 255))};
    if (!pa_sample_spec_valid(&spec) || spec.channels != channels)
        return {};

    PulseContext::Lock lock(*context);
    std::unique_ptr<PulseRenderStream> render(new PulseRenderStream(context, spec));
    pa_stream *stream = render->stream->get();
    if (!stream)
        return {};
    pa_stream_set_write_callback(
        stream,
        [](pa_stream *, std::size_t, void *self) {
            static_cast<PulseRenderStream *>(self)->wake();
        },
        render.get());

    const std::size_t frameBytes = pa_frame_size(&spec);
    pa_buffer_attr attributes;
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength =
        std::uint32_t(pa_usec_to_bytes(pa_usec_t(bufferMs) * PA_USEC_PER_MSEC, &spec));
    attributes.minreq = std::uint32_t(pa_usec_to_bytes(requestMs * PA_USEC_PER_MSEC, &spec));
    // Plays as soon as a period is written, as a device does: a player that keeps only a
    // little queued (a jitter buffer keeps the rest) would never reach the default, nearly
    // the whole buffer. When the queue runs dry the stream waits for a period again.
    attributes.prebuf = attributes.minreq;
    attributes.fragsize = std::uint32_t(-1);
    // Early requests: the render loop works in device periods of minreq, as on Windows, and
    // says so; the server then asks the sink for a latency of one period. Without the flag
    // PulseAudio and PipeWire alike ask it for the buffer less two periods (80 ms), which the
    // sink adds to player mode: a bare null sink of PulseAudio's ran at 80 ms, PipeWire's in
    // 2048-frame quanta (50 ms more from datagram to sink). The tests' PulseAudio hid it:
    // its keepalive holds every sink at 10 ms.
    const auto flags =
        pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE | PA_STREAM_EARLY_REQUESTS);
    if (pa_stream_connect_playback(stream, sink.c_str(), &attributes, flags, nullptr, nullptr) <
            0 ||
        !render->stream->waitUntilReady())
        return {};

    const pa_buffer_attr *granted = pa_stream_get_buffer_attr(stream);
    if (!granted || granted->tlength < frameBytes)
        return {};
    render->frameCapacity = std::uint32_t(granted->tlength / frameBytes);
    render->buffer.resize(std::size_t(render->frameCapacity) * frameBytes);
    return render;
}

PulseRenderStream::PulseRenderStream(std::shared_ptr<PulseContext> context,
                                     const pa_sample_spec &spec)
    : streamFormat{StreamFormat::Encoding::Pcm, int(spec.rate), int(spec.channels), 16},
      stream(std::make_unique<PulseStream>(std::move(context), "Player", spec, [this] { wake(); }))
{
}

PulseRenderStream::~PulseRenderStream() = default;

bool PulseRenderStream::start()
{
    return stream->cork(false);
}

void PulseRenderStream::stop()
{
    stream->cork(true);
}

void PulseRenderStream::waitForEvent(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(eventMutex);
    eventSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled; });
    signalled = false;
}

void PulseRenderStream::wake()
{
    {
        std::lock_guard<std::mutex> lock(eventMutex);
        signalled = true;
    }
    eventSignal.notify_one();
}

bool PulseRenderStream::currentPadding(std::uint32_t &frames)
{
    PulseContext::Lock lock(stream->context());
    frames = 0;
    if (!stream->isReady())
        return false;
    const std::size_t writable = pa_stream_writable_size(stream->get());
    if (writable == std::size_t(-1))
        return false;
    const auto freeFrames = std::uint32_t(
        std::min<std::size_t>(writable / std::size_t(streamFormat.blockAlign()), frameCapacity));
    frames = frameCapacity - freeFrames;
    return true;
}

std::uint32_t PulseRenderStream::periodFrames() const
{
    return std::uint32_t(streamFormat.sampleRate / 1000 * requestMs);
}

unsigned char *PulseRenderStream::getBuffer(std::uint32_t frames)
{
    if (frames == 0 || frames > frameCapacity)
        return nullptr;
    PulseContext::Lock lock(stream->context());
    return stream->isReady() ? buffer.data() : nullptr;
}

void PulseRenderStream::releaseBuffer(std::uint32_t frames)
{
    if (frames == 0 || frames > frameCapacity)
        return;
    PulseContext::Lock lock(stream->context());
    if (stream->isReady())
        pa_stream_write(stream->get(), buffer.data(),
                        std::size_t(frames) * std::size_t(streamFormat.blockAlign()), nullptr, 0,
                        PA_SEEK_RELATIVE);
}
