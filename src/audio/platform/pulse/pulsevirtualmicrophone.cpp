#include "audio/platform/pulse/pulsevirtualmicrophone.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulsemodules.h"
#include "audio/platform/pulse/pulsesinks.h"
#include "audio/platform/pulse/widetext.h"

#include <algorithm>
#include <string>

namespace {

const std::string sinkModule = "module-null-sink";
const std::string sourceModule = "module-remap-source";

std::optional<std::uint32_t> findModule(const std::vector<PulseModule> &modules,
                                        const std::string &name, const std::string &word)
{
    const auto found = std::find_if(modules.begin(), modules.end(), [&](const PulseModule &module) {
        return module.name == name && PulseModules::hasWord(module, word);
    });
    if (found == modules.end())
        return std::nullopt;
    return found->index;
}

std::optional<std::uint32_t> loadSink(PulseContext &context)
{
    return PulseModules::load(
        context, sinkModule,
        std::string("sink_name=") + PulseVirtualMicrophone::sinkName +
            " rate=48000 channels=2"
            " sink_properties='device.description=\"Kestrune Virtual Cable\"'");
}

std::optional<std::uint32_t> loadSource(PulseContext &context)
{
    // The monitor's name is the server's to choose; it is read, never made up.
    const std::optional<PulseSink> sink =
        PulseSinks::find(context, PulseVirtualMicrophone::sinkName);
    if (!sink || sink->monitorSource.empty())
        return std::nullopt;
    return PulseModules::load(
        context, sourceModule,
        std::string("source_name=") + PulseVirtualMicrophone::sourceName +
            " master=" + sink->monitorSource +
            " source_properties='device.description=\"Kestrune Virtual Microphone\"'");
}

} // namespace

std::unique_ptr<PulseVirtualMicrophone>
PulseVirtualMicrophone::open(std::shared_ptr<PulseContext> context, bool makeSink)
{
    if (!context)
        return nullptr;
    PulseContext::Lock lock(*context);
    const auto loaded = PulseModules::list(*context);
    if (!loaded)
        return nullptr;
    std::optional<std::uint32_t> sink =
        findModule(*loaded, sinkModule, std::string("sink_name=") + sinkName);
    std::optional<std::uint32_t> source =
        findModule(*loaded, sourceModule, std::string("source_name=") + sourceName);

    const bool sinkWasThere = sink.has_value();
    if (!sink && makeSink)
        sink = loadSink(*context);
    if (!sink)
        return nullptr;
    if (!source)
        source = loadSource(*context);
    if (!source) {
        if (!sinkWasThere)
            PulseModules::unload(*context, *sink);
        return nullptr;
    }
    return std::unique_ptr<PulseVirtualMicrophone>(
        new PulseVirtualMicrophone(std::move(context), {*source, *sink}));
}

PulseVirtualMicrophone::PulseVirtualMicrophone(std::shared_ptr<PulseContext> context,
                                               std::vector<std::uint32_t> modules)
    : context(std::move(context)), modules(std::move(modules))
{
}

PulseVirtualMicrophone::~PulseVirtualMicrophone()
{
    PulseContext::Lock lock(*context);
    for (const std::uint32_t module : modules)
        PulseModules::unload(*context, module);
}

std::wstring PulseVirtualMicrophone::outputId() const
{
    return wideFromUtf8(sinkName);
}
