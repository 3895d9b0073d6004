#pragma once

#include "audio/platform/audioplatform.h"

#include <memory>

class WasapiDeviceWatch;

// Windows Core Audio: the active render endpoints, keyed by their endpoint id strings.
// Every operation joins COM for its own duration, so it works on any thread; threads that
// run streams join for their lifetime through attachThread.
class WasapiAudioPlatform final : public AudioPlatform
{
public:
    WasapiAudioPlatform();
    ~WasapiAudioPlatform() override;

    std::vector<DeviceInfo> outputEndpoints() override;
    std::unique_ptr<AudioEndpoint> openEndpoint(const std::wstring &id) override;
    bool toggleDefaultOutputMute() override;
    void attachThread() override;
    void detachThread() override;

protected:
    void beginWatching() override;
    void endWatching() override;

private:
    // Made by beginWatching and dropped by endWatching, on the thread that watches.
    std::unique_ptr<WasapiDeviceWatch> watch;
};
