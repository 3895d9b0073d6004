#include "audio/platform/pulse/pulseloopbackstream.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulsestream.h"

namespace {

constexpr int sampleRate = 48000;
constexpr int channels = 2;
constexpr int frameBytes = channels * 4;
// One fragment per poll of the capture loop. Smaller ones (5 and 2.5 ms) were measured with
// bench_serverlatency: the click-to-phone latency stayed within noise of this, because a
// finished frame waits for the loop's next 10 ms poll whatever the fragment size.
constexpr int fragmentMs = 10;

} // namespace

std::unique_ptr<PulseLoopbackStream>
PulseLoopbackStream::open(std::shared_ptr<PulseContext> context, const std::string &monitorSource)
{
    if (!context)
        return {};
    PulseContext::Lock lock(*context);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sampleRate, channels};
    auto stream = std::make_unique<PulseStream>(context, "Loopback capture", spec);
    if (!stream->get())
        return {};

    pa_buffer_attr attributes;
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = std::uint32_t(-1);
    attributes.prebuf = std::uint32_t(-1);
    attributes.minreq = std::uint32_t(-1);
    attributes.fragsize = sampleRate / 1000 * fragmentMs * frameBytes;
    const auto flags =
        pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(stream->get(), monitorSource.c_str(), &attributes, flags) < 0 ||
        !stream->waitUntilReady())
        return {};
    return std::unique_ptr<PulseLoopbackStream>(new PulseLoopbackStream(std::move(stream)));
}

PulseLoopbackStream::PulseLoopbackStream(std::unique_ptr<PulseStream> stream)
    : stream(std::move(stream))
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
