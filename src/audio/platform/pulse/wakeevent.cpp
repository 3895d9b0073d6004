#include "audio/platform/pulse/wakeevent.h"

#include <chrono>

void WakeEvent::signal()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        signalled = true;
    }
    changed.notify_one();
}

void WakeEvent::wait(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled; });
    signalled = false;
}
