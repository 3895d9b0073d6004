#pragma once

#include "onsetdetector.h"
#include "workerthread.h"

#include <string>
#include <vector>

struct OpusEncoder;

// A phone sending its audio to a player: one audio datagram per 10 ms frame of its own
// clock, from a local address to the player's audio port, on a thread of its own. The audio
// is silence with a tone burst at the start of every burstEvery-th frame; the send time of
// each of those frames is kept. rate > 1 makes the phone's clock run fast.
class BurstSender
{
public:
    BurstSender(int burstEvery, double rate);
    ~BurstSender();

    bool start(const std::string &from, const std::string &to, std::uint16_t port);
    void stop();
    // Read after stop.
    const std::vector<BenchClock::time_point> &burstTimes() const { return bursts; }

private:
    void run();

    const int burstEvery;
    const double rate;
    OpusEncoder *encoder = nullptr;
    int socket = -1;
    std::vector<BenchClock::time_point> bursts; // the sending thread's until stop
    WorkerThread worker;
};
