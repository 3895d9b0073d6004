#include "stopsignal.h"

#include <atomic>
#include <csignal>

namespace {

// The only thing the handler touches; a lock-free atomic is safe to write from a handler.
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void onStopSignal(int)
{
    stopFlag.store(true);
}

} // namespace

StopSignal::StopSignal(QObject *parent) : QObject(parent)
{
    stopFlag.store(false);
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    poll.setInterval(50);
    connect(&poll, &QTimer::timeout, this, [this] {
        if (stopFlag.exchange(false))
            emit stopRequested();
    });
    poll.start();
}

StopSignal::~StopSignal()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}
