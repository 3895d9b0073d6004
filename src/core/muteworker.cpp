#include "core/muteworker.h"

#include "audio/platform/audioplatform.h"

MuteWorker::MuteWorker() : MuteWorker([] { AudioPlatform::instance().toggleDefaultOutputMute(); })
{
}

MuteWorker::MuteWorker(Toggle toggle) : toggle(std::move(toggle)), thread([this] { run(); }) {}

MuteWorker::~MuteWorker()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void MuteWorker::request()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        ++waiting;
    }
    wake.notify_one();
}

void MuteWorker::run()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        wake.wait(guard, [this] { return stopping || waiting > 0; });
        if (stopping)
            return;
        // Toggles that waited together cancel out in pairs: one is left, or none.
        const bool flip = waiting % 2 == 1;
        waiting = 0;
        if (!flip)
            continue;
        guard.unlock();
        toggle();
        guard.lock();
    }
}
