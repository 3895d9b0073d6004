#pragma once

#include "onsetdetector.h"
#include "sendschedule.h"
#include "workerthread.h"

#include <string>
#include <vector>

struct OpusEncoder;

// A phone sending its audio to a player: one audio datagram per 10 ms frame of its own
// clock, from a local address to the player's audio port, on a thread of its own. The audio
// is a 1 kHz tone at baseLevel (0: silence) with a burst at half of full scale at the start
// of every burstEvery-th frame; the time each of those frames was made is kept. The pattern
// sets the phone's clock (clockRate > 1 runs fast) and how the network holds the datagrams
// back: a datagram is made when due and leaves when the pattern releases it.
class BurstSender
{
public:
    BurstSender(int burstEvery, const SendPattern &pattern, double baseLevel = 0);
    ~BurstSender();

    bool start(const std::string &from, const std::string &to, std::uint16_t port);
    void stop();
    // Read after stop.
    const std::vector<BenchClock::time_point> &burstTimes() const { return bursts; }

private:
    void run();

    const int burstEvery;
    const SendPattern pattern;
    const double baseLevel;
    OpusEncoder *encoder = nullptr;
    int socket = -1;
    std::vector<BenchClock::time_point> bursts; // the sending thread's until stop
    WorkerThread worker;
};
