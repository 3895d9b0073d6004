#pragma once

#include <cstdint>

// What a receiver can tell about an audio stream from the datagram headers and the arrival
// times: how many datagrams came, how many never came (gaps in the sequence numbers), the
// payload bitrate and the arrival jitter.
//
// Loss is counted as the numbers expected minus the datagrams received, so a datagram that
// arrives late fills the gap it left. A sender that restarts numbers its datagrams from 0
// again; a number that goes back while the sender's timestamp goes forward is taken as such
// a restart and starts a new run, instead of counting as a late datagram.
class StreamStats
{
public:
    // Time one datagram carries, in milliseconds.
    static constexpr double frameMs = 10.0;

    struct Interval
    {
        int datagrams = 0;
        std::int64_t lost = 0;
        double kbps = 0;     // Opus payload bits per second / 1000
        double jitterMs = 0; // the running estimate at the end of the interval
    };

    struct Totals
    {
        std::int64_t datagrams = 0;
        std::int64_t lost = 0;
        std::int64_t largestGap = 0; // most datagrams missing between two that arrived
        int restarts = 0;
        int malformed = 0;
        std::int64_t payloadBytes = 0;
        double firstArrivalMs = 0;
        double lastArrivalMs = 0;
        double jitterMs = 0;
        double longestPauseMs = 0; // the longest time between two arrivals

        // Datagrams per second between the first and the last arrival; 0 below two.
        double rate() const;
    };

    // sequence and timestamp as the datagram's header holds them; arrivalMs on any
    // monotonic clock.
    void datagramArrived(std::uint32_t sequence, std::int64_t timestamp, double arrivalMs,
                         int payloadBytes);
    void malformedArrived() { ++totals_.malformed; }

    // What arrived since the last call, over an interval of the given length.
    Interval takeInterval(double seconds);
    Totals totals() const;

private:
    std::int64_t lostNow() const;

    Totals totals_;
    bool started = false;
    std::int64_t runFirst = 0;    // extended number of the first datagram of this run
    std::int64_t runHighest = 0;  // highest extended number seen in this run
    std::int64_t runReceived = 0; // datagrams received in this run
    std::int64_t lostInEarlierRuns = 0;
    std::int64_t highestTimestamp = 0;
    double lastTransitMs = 0;
    double jitterMs = 0;

    int intervalDatagrams = 0;
    std::int64_t intervalBytes = 0;
    std::int64_t lostAtIntervalStart = 0;
};
