#pragma once

#include "audio/platform/audioplatform.h"
#include "audio/platform/fake/fakeendpoint.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A sound system scripted by tests: a list of output endpoints (see FakeEndpoint), a
// default output whose mute can be toggled, and a count of the threads attached to it.
// Like a real one it tells its watches of every change made through it. Every member is
// safe to call from any thread.
class FakeAudioPlatform final : public AudioPlatform
{
public:
    // Installs a new, empty fake as the program's platform and returns it; it lives until
    // the next install, which must come after every engine using it is gone.
    static FakeAudioPlatform &install();

    // Adds an endpoint at the end of the list; the first one added is the default output.
    std::shared_ptr<FakeEndpoint> addEndpoint(const std::wstring &id, const std::wstring &name);
    // The endpoint with this id, or null.
    std::shared_ptr<FakeEndpoint> endpoint(const std::wstring &id) const;
    // Takes the endpoint off the list and disconnects it (its open streams fail from now on).
    void removeEndpoint(const std::wstring &id);
    void setDefaultEndpoint(const std::wstring &id);
    // Listing the endpoints fails (an empty list).
    void setListFails(bool fails);
    // Tells the watches that the devices may have changed, from the calling thread.
    void announceDevicesChanged() { reportDevicesChanged(); }

    // The default output's master mute. When it is unreadable, or there is no default
    // output, toggling changes nothing.
    void setMuted(bool muted);
    bool isMuted() const;
    void setMuteReadable(bool readable);
    int muteToggles() const; // successful toggles so far

    // Threads attached minus threads detached.
    int attachedThreads() const { return attached; }

    std::vector<DeviceInfo> outputEndpoints() override;
    std::unique_ptr<AudioEndpoint> openEndpoint(const std::wstring &id) override;
    bool toggleDefaultOutputMute() override;
    void attachThread() override { ++attached; }
    void detachThread() override { --attached; }

private:
    std::vector<std::shared_ptr<FakeEndpoint>>::const_iterator
    findLocked(const std::wstring &id) const;

    // Guards every member below.
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<FakeEndpoint>> endpoints;
    std::wstring defaultId;
    bool listFails = false;
    bool muted = false;
    bool muteReadable = true;
    int toggles = 0;

    std::atomic<int> attached{0};
};
