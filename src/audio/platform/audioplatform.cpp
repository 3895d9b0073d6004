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

// The backend's listener reports with locks of its own held, so beginWatching and
// endWatching run outside watchesMutex.
int AudioPlatform::watchDevices(std::function<void()> changed)
{
    std::lock_guard<std::mutex> watching(watchingMutex);
    bool first = false;
    int watch = 0;
    {
        std::lock_guard<std::mutex> lock(watchesMutex);
        first = watches.empty();
        watch = nextWatch++;
        watches.emplace(watch, std::move(changed));
    }
    if (first)
        beginWatching();
    return watch;
}

void AudioPlatform::unwatchDevices(int watch)
{
    std::lock_guard<std::mutex> watching(watchingMutex);
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(watchesMutex);
        if (watches.erase(watch) == 0)
            return;
        last = watches.empty();
    }
    if (last)
        endWatching();
}

void AudioPlatform::reportDevicesChanged()
{
    std::lock_guard<std::mutex> lock(watchesMutex);
    for (const auto &watch : watches)
        watch.second();
}

AudioPlatform &AudioPlatform::instance()
{
    return *installedPlatform();
}

void AudioPlatform::install(std::unique_ptr<AudioPlatform> platform)
{
    if (platform)
        installedPlatform() = std::move(platform);
}
