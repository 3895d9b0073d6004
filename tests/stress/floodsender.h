#pragma once

#include <QtGlobal>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Floods the program's ports from many loopback addresses of 127.1.0.0/16 (never a test
// peer's), on a thread of its own with plain sockets, so that neither Qt nor the test's
// event loop stands between it and the wire.
class FloodSender
{
public:
    // The next datagram for a port; called on the sending thread only.
    using Content = std::function<std::string(quint16 port)>;

    // What a hostile or broken network might throw at the program: random bytes, cut-off
    // prefixes, hellos and commands with random fields (a few thousand real Mute commands
    // among them), audio headers that lie about their length. The same flood for the same
    // seed.
    static Content hostileMix(std::uint32_t seed);
    // One datagram, again and again.
    static Content repeated(std::string datagram);

    // count datagrams to each of the ports, taking turns, spread evenly over durationMs;
    // the senders take turns too.
    FloodSender(std::vector<quint16> ports, int count, int durationMs, int senders,
                Content content);
    ~FloodSender();
    FloodSender(const FloodSender &) = delete;
    FloodSender &operator=(const FloodSender &) = delete;

    // False when the sockets could not be opened.
    bool start();
    // Starts the flood and runs the program's own kind of event loop (not the test's
    // waiting loop, which sleeps between its rounds) until it is sent and settleMs more
    // have passed for what is still queued. How long the sending took, -1 when the sockets
    // could not be opened.
    qint64 sendWhileTheEventLoopRuns(int settleMs = 300);
    bool finished() const { return done; }
    // Datagrams the kernel accepted, over all ports.
    qint64 sent() const { return accepted; }

private:
    void run();

    const std::vector<quint16> ports;
    const int count;
    const int durationMs;
    const int senders;
    Content content;
    std::vector<int> sockets;
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<qint64> accepted{0};
};
