#pragma once

#include "audio/platform/audioplatform.h"
#include "audio/platform/pulse/pulsesinks.h"

#include <memory>

class PulseContext;

// One sink, opened: its loopback records the sink's own monitor source.
class PulseEndpoint final : public AudioEndpoint
{
public:
    PulseEndpoint(std::shared_ptr<PulseContext> context, PulseSink sink);

    std::unique_ptr<LoopbackStream> openLoopback() override;
    std::unique_ptr<RenderStream> openRender(int sampleRate, int channels, int bufferMs) override;

private:
    std::shared_ptr<PulseContext> context;
    PulseSink sink;
};
