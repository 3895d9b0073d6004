#include "audio/platform/fake/fakeaudioplatform.h"

#include <algorithm>

FakeAudioPlatform &FakeAudioPlatform::install()
{
    auto platform = std::make_unique<FakeAudioPlatform>();
    FakeAudioPlatform &installed = *platform;
    AudioPlatform::install(std::move(platform));
    return installed;
}

std::shared_ptr<FakeEndpoint> FakeAudioPlatform::addEndpoint(const std::wstring &id,
                                                             const std::wstring &name)
{
    auto added = std::make_shared<FakeEndpoint>(id, name);
    {
        std::lock_guard<std::mutex> lock(mutex);
        endpoints.push_back(added);
        if (defaultId.empty())
            defaultId = id;
    }
    announceDevicesChanged();
    return added;
}

std::vector<std::shared_ptr<FakeEndpoint>>::const_iterator
FakeAudioPlatform::findLocked(const std::wstring &id) const
{
    return std::find_if(endpoints.begin(), endpoints.end(),
                        [&id](const auto &candidate) { return candidate->id() == id; });
}

std::shared_ptr<FakeEndpoint> FakeAudioPlatform::endpoint(const std::wstring &id) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = findLocked(id);
    return found == endpoints.end() ? nullptr : *found;
}

void FakeAudioPlatform::removeEndpoint(const std::wstring &id)
{
    std::shared_ptr<FakeEndpoint> removed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = findLocked(id);
        if (found == endpoints.end())
            return;
        removed = *found;
        endpoints.erase(found);
    }
    removed->disconnect();
    announceDevicesChanged();
}

void FakeAudioPlatform::setDefaultEndpoint(const std::wstring &id)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        defaultId = id;
    }
    announceDevicesChanged();
}

void FakeAudioPlatform::setListFails(bool fails)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        listFails = fails;
    }
    announceDevicesChanged();
}

void FakeAudioPlatform::setMuted(bool mute)
{
    std::lock_guard<std::mutex> lock(mutex);
    muted = mute;
}

bool FakeAudioPlatform::isMuted() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return muted;
}

void FakeAudioPlatform::setMuteReadable(bool readable)
{
    std::lock_guard<std::mutex> lock(mutex);
    muteReadable = readable;
}

int FakeAudioPlatform::muteToggles() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return toggles;
}

std::vector<DeviceInfo> FakeAudioPlatform::outputEndpoints()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<DeviceInfo> list;
    if (listFails)
        return list;
    for (const auto &listed : endpoints)
        list.push_back(DeviceInfo{listed->id(), listed->name()});
    return list;
}

std::unique_ptr<AudioEndpoint> FakeAudioPlatform::openEndpoint(const std::wstring &id)
{
    std::shared_ptr<FakeEndpoint> opened;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = findLocked(id.empty() ? defaultId : id);
        if (found != endpoints.end())
            opened = *found;
    }
    return opened ? FakeEndpoint::open(opened) : nullptr;
}

bool FakeAudioPlatform::toggleDefaultOutputMute()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!muteReadable || findLocked(defaultId) == endpoints.end())
        return false;
    muted = !muted;
    ++toggles;
    return true;
}
