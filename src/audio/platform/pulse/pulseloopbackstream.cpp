#include "audio/platform/pulse/pulseloopbackstream.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulsestream.h"

namespace {

constexpr int sampleRate = 48000;
constexpr int channels = 2;
constexpr int frameBytes = channels * 4;
// How much audio the server sends at a time (10 ms for now).
constexpr int fragmentFrames = 480;

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
            static_cast<PulseLoopbackStream *>(self)->packetReady.signal();
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
    : stream(
          std::make_unique<PulseStream>(std::move(context), "Loopback capture",
                                        pa_sample_spec{PA_SAMPLE_FLOAT32LE, sampleRate, channels}))
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

bool PulseLoopbackStream::peek()
{
    if (!stream->isReady())
        return false;
    if (lent)
        return true;
    if (pa_stream_peek(stream->get(), &fragment, &fragmentBytes) < 0)
        return false;
    // Nothing lent when nothing is ready; a hole (no data, but a length) is lent as silence.
    lent = fragmentBytes > 0;
    return true;
}

void PulseLoopbackStream::waitForPacket(int timeoutMs)
{
    packetReady.wait(timeoutMs);
}

bool PulseLoopbackStream::nextPacketSize(std::uint32_t &frames)
{
    PulseContext::Lock lock(stream->context());
    frames = 0;
    if (!peek())
        return false;
    if (lent)
        frames = std::uint32_t(fragmentBytes / frameBytes);
    return true;
}

bool PulseLoopbackStream::getBuffer(CapturePacket &packet)
{
    PulseContext::Lock lock(stream->context());
    packet = CapturePacket();
    if (!peek())
        return false;
    if (!lent)
        return true;
    packet.frames = std::uint32_t(fragmentBytes / frameBytes);
    // The read index still stands at this fragment, so the latency is its first frame's age.
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream->get(), &latency, &negative) == 0)
        packet.delayUs = negative ? 0 : std::int64_t(latency);
    if (fragment) {
        packet.data = static_cast<const unsigned char *>(fragment);
    } else {
        if (silence.size() < fragmentBytes)
            silence.resize(fragmentBytes);
        packet.data = silence.data();
        packet.silent = true;
    }
    return true;
}

void PulseLoopbackStream::releaseBuffer(std::uint32_t frames)
{
    // Releasing no frames keeps the packet for the next read, as the engines expect.
    if (frames == 0 || !lent)
        return;
    PulseContext::Lock lock(stream->context());
    lent = false;
    fragment = nullptr;
    fragmentBytes = 0;
    if (stream->isReady())
        pa_stream_drop(stream->get());
}
