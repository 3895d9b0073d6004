#pragma once

#include "audio/platform/audioplatform.h"

#include <memory>
#include <mutex>

class PulseContext;

// The sound system of a Linux desktop, through libpulse (PulseAudio, or PipeWire through
// its PulseAudio server). The output endpoints are the sinks, keyed by their names. A lost
// connection is replaced at the next call, so the program recovers when the server returns.
class PulseAudioPlatform final : public AudioPlatform
{
public:
    std::vector<DeviceInfo> outputEndpoints() override;
    std::unique_ptr<AudioEndpoint> openEndpoint(const std::wstring &id) override;
    bool toggleDefaultOutputMute() override;

private:
    // The current connection, made anew when there is none or it failed; null when the
    // server cannot be reached.
    std::shared_ptr<PulseContext> connection();

    std::mutex connectionMutex; // guards current
    std::shared_ptr<PulseContext> current;
};
