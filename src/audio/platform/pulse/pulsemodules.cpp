#include "audio/platform/pulse/pulsemodules.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulsereply.h"

namespace {

using ModuleReply = PulseListReply<PulseModule>;

void onModuleInfo(pa_context *, const pa_module_info *info, int eol, void *userdata)
{
    auto *reply = static_cast<ModuleReply *>(userdata);
    if (!reply->takes(info, eol))
        return;
    reply->items.push_back(
        {info->index, info->name ? info->name : "", info->argument ? info->argument : ""});
}

void onIndex(pa_context *, std::uint32_t index, void *userdata)
{
    *static_cast<std::uint32_t *>(userdata) = index;
}

} // namespace

namespace PulseModules {

std::optional<std::vector<PulseModule>> list(PulseContext &context)
{
    ModuleReply reply;
    if (!context.complete(pa_context_get_module_info_list(context.get(), onModuleInfo, &reply)) ||
        reply.failed)
        return std::nullopt;
    return std::move(reply.items);
}

std::optional<std::uint32_t> load(PulseContext &context, const std::string &name,
                                  const std::string &argument)
{
    std::uint32_t index = PA_INVALID_INDEX;
    if (!context.complete(pa_context_load_module(context.get(), name.c_str(), argument.c_str(),
                                                 onIndex, &index)) ||
        index == PA_INVALID_INDEX)
        return std::nullopt;
    return index;
}

bool unload(PulseContext &context, std::uint32_t index)
{
    bool succeeded = false;
    return context.complete(
               pa_context_unload_module(context.get(), index, onPulseSuccess, &succeeded)) &&
           succeeded;
}

bool hasWord(const PulseModule &module, const std::string &word)
{
    return (' ' + module.argument + ' ').find(' ' + word + ' ') != std::string::npos;
}

} // namespace PulseModules
