#include "audio/platform/pulse/pulseaudioplatform.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulsedevicewatch.h"
#include "audio/platform/pulse/pulseendpoint.h"
#include "audio/platform/pulse/pulsesinks.h"
#include "audio/platform/pulse/pulsevirtualmicrophone.h"
#include "audio/platform/pulse/widetext.h"

std::unique_ptr<AudioPlatform> createSystemAudioPlatform()
{
    return std::make_unique<PulseAudioPlatform>();
}

PulseAudioPlatform::PulseAudioPlatform() = default;

// Here, where PulseDeviceWatch is complete; a watch still running ends before the watches it
// reports to.
PulseAudioPlatform::~PulseAudioPlatform() = default;

std::shared_ptr<PulseContext> PulseAudioPlatform::connection()
{
    std::lock_guard<std::mutex> guard(connectionMutex);
    if (current) {
        PulseContext::Lock lock(*current);
        if (current->isReady())
            return current;
    }
    current = PulseContext::connect();
    return current;
}

std::vector<DeviceInfo> PulseAudioPlatform::outputEndpoints()
{
    std::vector<DeviceInfo> endpoints;
    const std::shared_ptr<PulseContext> context = connection();
    if (!context)
        return endpoints;
    PulseContext::Lock lock(*context);
    const auto sinks = PulseSinks::list(*context);
    if (!sinks)
        return endpoints;
    for (const PulseSink &sink : *sinks)
        endpoints.push_back({wideFromUtf8(sink.name), wideFromUtf8(sink.description)});
    return endpoints;
}

std::unique_ptr<AudioEndpoint> PulseAudioPlatform::openEndpoint(const std::wstring &id)
{
    const std::shared_ptr<PulseContext> context = connection();
    if (!context)
        return {};
    PulseContext::Lock lock(*context);
    const std::optional<std::string> name =
        id.empty() ? PulseSinks::defaultName(*context) : utf8FromWide(id);
    if (!name)
        return {};
    std::optional<PulseSink> sink = PulseSinks::find(*context, *name);
    if (!sink)
        return {};
    return std::make_unique<PulseEndpoint>(context, std::move(*sink));
}

bool PulseAudioPlatform::toggleDefaultOutputMute()
{
    const std::shared_ptr<PulseContext> context = connection();
    if (!context)
        return false;
    PulseContext::Lock lock(*context);
    const std::optional<std::string> name = PulseSinks::defaultName(*context);
    if (!name)
        return false;
    // Without the current state there is nothing sensible to flip to: leave it alone.
    const std::optional<PulseSink> sink = PulseSinks::find(*context, *name);
    if (!sink)
        return false;
    return PulseSinks::setMuted(*context, *name, !sink->muted);
}

bool PulseAudioPlatform::isReachable()
{
    return connection() != nullptr;
}

std::unique_ptr<VirtualMicrophone> PulseAudioPlatform::makeVirtualMicrophone()
{
    return PulseVirtualMicrophone::open(connection(), true);
}

std::unique_ptr<VirtualMicrophone> PulseAudioPlatform::takeOverVirtualMicrophone()
{
    return PulseVirtualMicrophone::open(connection(), false);
}

void PulseAudioPlatform::beginWatching()
{
    watch = std::make_unique<PulseDeviceWatch>([this] { reportDevicesChanged(); });
}

void PulseAudioPlatform::endWatching()
{
    watch.reset();
}
