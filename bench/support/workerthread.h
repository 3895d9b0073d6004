#pragma once

#include <atomic>
#include <functional>
#include <thread>

// A thread that runs one loop, which polls keepRunning() to know when to end.
class WorkerThread
{
public:
    ~WorkerThread() { stop(); }

    void start(std::function<void()> loop);
    // Asks the loop to end and waits until it has.
    void stop();
    bool keepRunning() const { return running; }

private:
    std::atomic<bool> running{false};
    std::thread thread;
};
