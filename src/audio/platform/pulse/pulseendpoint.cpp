#include "audio/platform/pulse/pulseendpoint.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulseloopbackstream.h"
#include "audio/platform/pulse/pulserenderstream.h"

PulseEndpoint::PulseEndpoint(std::shared_ptr<PulseContext> context, PulseSink sink)
    : context(std::move(context)), sink(std::move(sink))
{
}

std::unique_ptr<LoopbackStream> PulseEndpoint::openLoopback()
{
    if (sink.monitorSource.empty())
        return {};
    return PulseLoopbackStream::open(context, sink.monitorSource);
}

std::unique_ptr<RenderStream> PulseEndpoint::openRender(int sampleRate, int channels, int bufferMs)
{
    return PulseRenderStream::open(context, sink.name, sampleRate, channels, bufferMs);
}
