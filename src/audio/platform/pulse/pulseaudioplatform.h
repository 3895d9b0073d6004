#pragma once

#include "audio/platform/audioplatform.h"

#include <memory>
#include <mutex>

class PulseContext;
class PulseDeviceWatch;

// The sound system of a Linux desktop, through libpulse (PulseAudio, or PipeWire through
// its PulseAudio server). The output endpoints are the sinks, keyed by their names. A lost
// connection is replaced at the next call, so the program recovers when the server returns.
// Watching the devices keeps a second connection of its own while anyone watches.
class PulseAudioPlatform final : public AudioPlatform
{
public:
    PulseAudioPlatform();
    ~PulseAudioPlatform() override;

    std::vector<DeviceInfo> outputEndpoints() override;
    std::unique_ptr<AudioEndpoint> openEndpoint(const std::wstring &id) override;
    bool toggleDefaultOutputMute() override;
    bool isReachable() override;
    bool canMakeVirtualMicrophone() const override { return true; }
    std::unique_ptr<VirtualMicrophone> makeVirtualMicrophone() override;
    std::unique_ptr<VirtualMicrophone> takeOverVirtualMicrophone() override;

protected:
    void beginWatching() override;
    void endWatching() override;

private:
    // The current connection, made anew when there is none or it failed; null when the
    // server cannot be reached.
    std::shared_ptr<PulseContext> connection();

    std::mutex connectionMutex; // guards current
    std::shared_ptr<PulseContext> current;
    // Made by beginWatching, dropped by endWatching (which the watches serialise); reports
    // from its own thread until it is destroyed.
    std::unique_ptr<PulseDeviceWatch> watch;
};
