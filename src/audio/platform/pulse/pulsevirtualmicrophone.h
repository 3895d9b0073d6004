#pragma once

#include "audio/platform/audioplatform.h"

#include <cstdint>
#include <memory>
#include <vector>

class PulseContext;

// A virtual microphone made of two modules of the sound server: a null sink, "Kestrune
// Virtual Cable", that the program plays into, and a source remapped from the sink's
// monitor, "Kestrune Virtual Microphone", which every program lists as a microphone (a
// monitor alone is hidden by most of them). The modules are recognised by the device names
// they were given, so a pair left by an earlier run is reused rather than doubled.
// Destroying the object unloads both.
class PulseVirtualMicrophone final : public VirtualMicrophone
{
public:
    static constexpr const char *sinkName = "kestrune_virtual_cable";
    static constexpr const char *sourceName = "kestrune_virtual_microphone";

    // Takes the lock itself. Reuses what the server already has and loads what is missing;
    // without makeSink, only a sink that is already there is taken. Null when there is
    // no sink, or when loading failed (then nothing loaded here is left behind).
    static std::unique_ptr<PulseVirtualMicrophone> open(std::shared_ptr<PulseContext> context,
                                                        bool makeSink);
    ~PulseVirtualMicrophone() override;

    std::wstring outputId() const override;

private:
    PulseVirtualMicrophone(std::shared_ptr<PulseContext> context,
                           std::vector<std::uint32_t> modules);

    // The connection the modules were loaded on: if the server restarted since, their
    // indices mean nothing on the new one, and the dead connection unloads nothing.
    std::shared_ptr<PulseContext> context;
    std::vector<std::uint32_t> modules; // in the order they are unloaded
};
