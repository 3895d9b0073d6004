#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class PulseContext;

// One module loaded into the sound server.
struct PulseModule
{
    std::uint32_t index = 0;
    std::string name;     // such as "module-null-sink"
    std::string argument; // as it was given at loading
};

// Loading and unloading modules. Each is called with the context's lock held, waits for
// the server's answer (bounded in time) and reports failure as an empty result.
namespace PulseModules {

// Every loaded module; nothing when the server did not answer.
std::optional<std::vector<PulseModule>> list(PulseContext &context);
// The new module's index.
std::optional<std::uint32_t> load(PulseContext &context, const std::string &name,
                                  const std::string &argument);
bool unload(PulseContext &context, std::uint32_t index);
// Whether a module's argument holds this key=value word.
bool hasWord(const PulseModule &module, const std::string &word);

} // namespace PulseModules
