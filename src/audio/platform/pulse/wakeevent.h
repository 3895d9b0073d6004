#pragma once

#include <condition_variable>
#include <mutex>

// An auto-reset event between the sound server's callbacks and a reader's thread: signal()
// from any thread ends the current or next wait, and a wait consumes the signal.
class WakeEvent
{
public:
    void signal();
    // Returns at the signal or after the timeout, whichever comes first.
    void wait(int timeoutMs);

private:
    std::mutex mutex; // guards signalled
    std::condition_variable changed;
    bool signalled = false;
};
