#include "audio/platform/audioplatform.h"

namespace {

// What the engines see before a backend is installed: a computer without sound.
class NoAudioPlatform final : public AudioPlatform
{
public:
    std::vector<DeviceInfo> outputEndpoints() override { return {}; }
    std::unique_ptr<AudioEndpoint> openEndpoint(const std::wstring &) override { return {}; }
    bool toggleDefaultOutputMute() override { return false; }
};

std::unique_ptr<AudioPlatform> &installedPlatform()
{
    static std::unique_ptr<AudioPlatform> platform = std::make_unique<NoAudioPlatform>();
    return platform;
}

} // namespace

AudioPlatform &AudioPlatform::instance()
{
    return *installedPlatform();
}

void AudioPlatform::install(std::unique_ptr<AudioPlatform> platform)
{
    if (platform)
        installedPlatform() = std::move(platform);
}
