#include "workerthread.h"

void WorkerThread::start(std::function<void()> loop)
{
    stop();
    running = true;
    thread = std::thread(std::move(loop));
}

void WorkerThread::stop()
{
    running = false;
    if (thread.joinable())
        thread.join();
}
