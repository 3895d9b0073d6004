#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Toggles the mute of the default output device on a thread of its own, so that the thread
// that hears a Mute never waits on the sound server, however slow it is or if it has
// stopped answering. One toggle runs at a time; Mutes that arrive meanwhile are counted
// and applied after it, so two Mutes in a row still leave the mute as it was.
class MuteWorker
{
public:
    using Toggle = std::function<void()>;

    // The default toggle goes through the installed audio platform.
    MuteWorker();
    explicit MuteWorker(Toggle toggle);
    // Waits for a toggle under way; Mutes still waiting are dropped.
    ~MuteWorker();
    MuteWorker(const MuteWorker &) = delete;
    MuteWorker &operator=(const MuteWorker &) = delete;

    // Returns at once.
    void request();

private:
    void run();

    const Toggle toggle;
    // Guards waiting and stopping; never held while a toggle runs.
    std::mutex lock;
    std::condition_variable wake;
    int waiting = 0;
    bool stopping = false;
    std::thread thread;
};
