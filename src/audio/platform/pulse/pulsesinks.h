#pragma once

#include <optional>
#include <string>
#include <vector>

class PulseContext;

// What the program needs to know of one sink (an output device).
struct PulseSink
{
    std::string name;          // stable id
    std::string description;   // what the user reads
    std::string monitorSource; // the source that records what the sink plays
    bool muted = false;
};

// Questions and commands about sinks. Each is called with the context's lock held, waits
// for the server's answer (bounded in time) and reports failure as an empty result.
namespace PulseSinks {

// Every sink, in the server's order; nothing when the server did not answer.
std::optional<std::vector<PulseSink>> list(PulseContext &context);
std::optional<PulseSink> find(PulseContext &context, const std::string &name);
std::optional<std::string> defaultName(PulseContext &context);
bool setMuted(PulseContext &context, const std::string &name, bool muted);

} // namespace PulseSinks
