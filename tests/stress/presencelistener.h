#pragma once

#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Hears the presence broadcasts sent to one subnet's broadcast address, on a thread of its
// own with a plain socket, so that the times it notes are when the broadcasts left, not
// when a busy event loop of the test got round to them. It shares the discovery port with
// the program.
class PresenceListener
{
public:
    explicit PresenceListener(const std::string &broadcastAddress);
    ~PresenceListener();
    PresenceListener(const PresenceListener &) = delete;
    PresenceListener &operator=(const PresenceListener &) = delete;

    bool listening() const { return socket >= 0; }
    // The milliseconds between one broadcast and the next, so far.
    std::vector<qint64> intervalsMs() const;

private:
    void run();

    int socket = -1;
    std::atomic<bool> stopping{false};
    mutable std::mutex lock; // guards heard
    std::vector<std::chrono::steady_clock::time_point> heard;
    std::thread thread;
};
