#include "audio/platform/pulse/pulsesinks.h"

#include "audio/platform/pulse/pulsecontext.h"
#include "audio/platform/pulse/pulsereply.h"

namespace {

using SinkReply = PulseListReply<PulseSink>;

void onSinkInfo(pa_context *, const pa_sink_info *info, int eol, void *userdata)
{
    auto *reply = static_cast<SinkReply *>(userdata);
    if (!reply->takes(info, eol))
        return;
    PulseSink sink;
    sink.name = info->name ? info->name : "";
    sink.description = info->description ? info->description : "";
    sink.monitorSource = info->monitor_source_name ? info->monitor_source_name : "";
    sink.muted = info->mute != 0;
    reply->items.push_back(std::move(sink));
}

void onServerInfo(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *name = static_cast<std::optional<std::string> *>(userdata);
    if (info && info->default_sink_name && *info->default_sink_name)
        *name = std::string(info->default_sink_name);
}

} // namespace

namespace PulseSinks {

std::optional<std::vector<PulseSink>> list(PulseContext &context)
{
    SinkReply reply;
    if (!context.complete(pa_context_get_sink_info_list(context.get(), onSinkInfo, &reply)) ||
        reply.failed)
        return std::nullopt;
    return std::move(reply.items);
}

std::optional<PulseSink> find(PulseContext &context, const std::string &name)
{
    SinkReply reply;
    if (!context.complete(
            pa_context_get_sink_info_by_name(context.get(), name.c_str(), onSinkInfo, &reply)) ||
        reply.failed || reply.items.size() != 1)
        return std::nullopt;
    return std::move(reply.items.front());
}

std::optional<std::string> defaultName(PulseContext &context)
{
    std::optional<std::string> name;
    if (!context.complete(pa_context_get_server_info(context.get(), onServerInfo, &name)))
        return std::nullopt;
    return name;
}

bool setMuted(PulseContext &context, const std::string &name, bool muted)
{
    bool succeeded = false;
    return context.complete(pa_context_set_sink_mute_by_name(
               context.get(), name.c_str(), muted ? 1 : 0, onPulseSuccess, &succeeded)) &&
           succeeded;
}

} // namespace PulseSinks
