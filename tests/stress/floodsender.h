#pragma once

#include <QtGlobal>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// Sends what a hostile or broken network might throw at the program's three ports: random
// bytes, cut-off prefixes, hellos and commands with random fields (a few thousand real Mute
// commands among them), audio headers that lie about their length. It sends from many loopback addresses of 127.1.0.0/16 (never a test
// peer's), on a thread of its own with plain sockets, so that neither Qt nor the test's
// event loop stands between it and the wire.
class FloodSender
{
public:
    // count datagrams to each port, spread evenly over durationMs.
    FloodSender(int count, int durationMs, int senders, std::uint32_t seed);
    ~FloodSender();
    FloodSender(const FloodSender &) = delete;
    FloodSender &operator=(const FloodSender &) = delete;

    // False when the sockets could not be opened.
    bool start();
    bool finished() const { return done; }
    // Datagrams the kernel accepted, over all ports.
    qint64 sent() const { return accepted; }

private:
    void run();
    std::string nextDatagram(quint16 port);

    const int count;
    const int durationMs;
    const int senders;
    std::uint32_t state;
    std::vector<int> sockets;
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<qint64> accepted{0};
};
