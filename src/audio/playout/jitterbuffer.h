#pragma once

#include "audio/fractionalresampler.h"
#include "audio/playout/devicecycle.h"
#include "audio/playout/driftcontroller.h"
#include "audio/playout/latenesstracker.h"
#include "audio/playout/packetdecoder.h"
#include "audio/playout/packetqueue.h"
#include "audio/playout/playouttarget.h"
#include "audio/playout/recentvalues.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Between the packets that arrive from the network and the device that plays them: a
// jitter buffer. Packets wait in sequence order (PacketQueue) and are decoded only when the
// device needs their audio, so a late packet may still take its place and one that never
// comes is concealed in its turn. Whatever can be played goes to the device at once, where no
// stall of this program can interrupt it; only audio that has not come waits. A device that
// holds less than its deadline (DeviceCycle: a cycle and a quarter) when audio is missing is
// about to run dry, and only then are zeros written, just enough to keep it going: one gap,
// after which playing resumes when the target delay is reached again (not many gaps).
//
// The delay is the time from a packet's ideal arrival (LatenessTracker) to its audio being
// heard; PlayoutTarget sets its target from the measured lateness of the arrivals and of
// the render thread's own wakes (on a busy machine they come late, while the device plays
// on), and DriftController holds it there by playing through FractionalResampler a fraction
// of a percent faster or slower, so a sender whose clock differs from the device's never
// drops or gaps. Playing starts at the target, the oldest packets dropped if more have piled
// up; should the queue still grow past maxQueueMs (a sender far faster than the device), the
// oldest packets go, down to the target.
//
// Threads: push and stats on any one thread (the receiving one), render on the render
// thread. The decoder belongs to the render thread.
class JitterBuffer
{
public:
    static constexpr int maxQueueMs = 200;
    // Packets up to this size are queued without allocating.
    static constexpr std::size_t packetCapacity = 4000;
    static constexpr std::size_t queueSlots = 128;
    // What the target keeps beyond the arrivals' lateness, the device's deadline and a period
    // above it.
    static constexpr double trackingMarginMs = 5;

    struct Stats
    {
        bool playing = false;
        double targetMs = 0;
        // The playout delay's distance from the target, smoothed, while playing.
        double delayErrorMs = 0;
        // Mean time from a packet's arrival to its audio leaving the device, over the last
        // second of playing; -1 when there is none.
        int latencyMs = -1;
        double step = 1; // input frames played per output frame
        std::uint64_t underruns = 0;
        std::uint64_t concealed = 0;
        std::uint64_t duplicates = 0;
        std::uint64_t late = 0;
        std::uint64_t overflowDrops = 0; // packets dropped at the queue's bound
        std::uint64_t startDrops = 0;    // packets dropped so that playing starts at the target
        // The last time the device was about to run dry, as the render thread saw it: whether
        // the packet was late, or the wake, or the device took more than its cycle.
        struct Underrun
        {
            double heldMs = 0;      // what the device still held at that wake
            double tookMs = 0;      // what it had played since the wake before
            double sinceWakeMs = 0; // the time since the wake before
            double overdueMs = 0;   // how long after its ideal arrival the next packet had not come
        } lastUnderrun;
    };

    struct Format
    {
        int sampleRate = 0;
        int channels = 0;
        std::uint32_t periodFrames = 0;   // the device says it wakes about this often
        std::uint32_t maxWriteFrames = 0; // and takes at most this much at once
    };

    // Empty, waiting for the first packet.
    JitterBuffer(const Format &format, std::unique_ptr<PacketDecoder> decoder, std::int64_t nowNs);
    // A received packet; packets that cannot be read are dropped.
    void push(std::uint32_t sequence, const unsigned char *packet, std::size_t length,
              std::int64_t arrivalNs);
    // The device holds deviceFrames and has room for `room` more: writes the frames it is to
    // get into out (room x channels samples at most) and returns their count.
    std::uint32_t render(std::int16_t *out, std::uint32_t deviceFrames, std::uint32_t room,
                         std::int64_t nowNs);

    Stats stats() const;

private:
    std::uint32_t play(std::int16_t *out, std::uint32_t deviceFrames, std::uint32_t room,
                       double step, std::int64_t nowNs);
    std::uint32_t silence(std::int16_t *out, std::uint32_t deviceFrames, std::uint32_t room);
    bool feedResampler(std::uint32_t queuedFrames);
    void observeDevice(std::uint32_t deviceFrames);
    void prepareStart(std::uint32_t deviceFrames, std::int64_t nowNs);
    void dropBeyondBound(std::uint32_t deviceFrames);
    void dropHead();
    void recordLatency(std::int64_t sequence, std::int64_t arrivalNs);
    std::int64_t framesToNs(double frames) const;
    double latenessRequirementMs() const;

    const int sampleRate;
    const int channels;
    const int maxPacketFrames; // the longest packet a decoder may produce: 120 ms

    // Guards everything from here to the render thread's own members.
    mutable std::mutex mutex;
    PacketQueue queue;
    LatenessTracker lateness;
    PlayoutTarget target;
    Stats counters;
    // What the render thread last saw, for the latency of arriving packets.
    std::int64_t lastWakeNs = 0;
    std::uint32_t deviceAfterWake = 0;
    double pendingAfterWake = 0;
    bool playingNow = false;
    // What the device needs queued beyond the arrivals' lateness: its deadline, a cycle
    // above it and the lateness of the render thread's wakes, as last measured.
    std::int64_t deviceNeedNs = 0;
    // Latency of the packets that came in the current second.
    std::int64_t latencyWindowStartNs = 0;
    double latencySumNs = 0;
    int latencyCount = 0;

    // The render thread's alone.
    std::unique_ptr<PacketDecoder> decoder;
    FractionalResampler resampler;
    DriftController drift;
    std::vector<unsigned char> packetBytes; // swapped with the queue's slot at each take
    std::vector<std::int16_t> decoded;
    bool playing = false;
    bool startedOnce = false;
    std::int64_t previousRenderNs = 0;
    std::int64_t sinceLastWakeNs = 0;
    std::uint32_t lastTakeFrames = 0; // what the device played between the last two wakes
    DeviceCycle cycle;
    // How late the wakes come, in what the device played beyond its cycle, while playing: a
    // busy machine's scheduling.
    RecentValues<256> wakeLateness;
};
